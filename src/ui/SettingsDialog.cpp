#include "ui/SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace melo::ui {
namespace {

constexpr qint64 kMegabyte = 1024 * 1024;
constexpr int kMostMegabytes = 64 * 1024;

QString Utf8(const char* text) {
  return QString::fromUtf8(text);
}

}  // namespace

SettingsDialog::SettingsDialog(const DownloadChoices& choices, bool clearListOnExit,
                               QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("SettingsDialog"));
  setWindowTitle(Utf8("设置"));

  folder_ = new QLineEdit(choices.folder, this);
  folder_->setObjectName(QStringLiteral("SettingsFolder"));
  auto* change = new QPushButton(Utf8("更改..."), this);
  change->setAccessibleName(Utf8("更改保存位置"));
  connect(change, &QPushButton::clicked, this, &SettingsDialog::ChooseFolder);
  auto* folderLine = new QHBoxLayout;
  folderLine->addWidget(folder_, 1);
  folderLine->addWidget(change);

  nameTemplate_ = new QLineEdit(choices.nameTemplate, this);
  nameTemplate_->setObjectName(QStringLiteral("SettingsNameTemplate"));
  nameTemplate_->setToolTip(Utf8("可用字段: {singer} {title} {ext}"));
  jobs_ = new QSpinBox(this);
  jobs_->setObjectName(QStringLiteral("SettingsJobs"));
  jobs_->setRange(1, 16);
  jobs_->setValue(choices.jobs);
  id3Version_ = new QComboBox(this);
  id3Version_->setObjectName(QStringLiteral("SettingsId3Version"));
  id3Version_->addItem(QStringLiteral("ID3v2.3"), 3);
  id3Version_->addItem(QStringLiteral("ID3v2.4"), 4);
  id3Version_->setCurrentIndex(choices.id3Version == 4 ? 1 : 0);
  maxMegabytes_ = new QSpinBox(this);
  maxMegabytes_->setObjectName(QStringLiteral("SettingsMaxFileSize"));
  maxMegabytes_->setRange(1, kMostMegabytes);
  maxMegabytes_->setSuffix(QStringLiteral(" MB"));
  maxMegabytes_->setValue(static_cast<int>(
      std::min<qint64>(kMostMegabytes, std::max<qint64>(1, choices.maxFileSize / kMegabyte))));
  clearOnExit_ = new QCheckBox(Utf8("退出时清空列表"), this);
  clearOnExit_->setObjectName(QStringLiteral("SettingsClearOnExit"));
  clearOnExit_->setChecked(clearListOnExit);

  auto* form = new QFormLayout;
  form->addRow(Utf8("保存到:"), folderLine);
  form->addRow(Utf8("文件名:"), nameTemplate_);
  form->addRow(Utf8("同时下载:"), jobs_);
  form->addRow(Utf8("ID3 版本:"), id3Version_);
  form->addRow(Utf8("最大文件:"), maxMegabytes_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(clearOnExit_);
  layout->addWidget(buttons);
}

DownloadChoices SettingsDialog::Choices() const {
  DownloadChoices choices;
  choices.folder = folder_->text().trimmed();
  if (!nameTemplate_->text().trimmed().isEmpty()) {
    choices.nameTemplate = nameTemplate_->text();
  }
  choices.jobs = jobs_->value();
  choices.id3Version = id3Version_->currentData().toInt();
  choices.maxFileSize = maxMegabytes_->value() * kMegabyte;
  return choices;
}

bool SettingsDialog::ClearListOnExit() const {
  return clearOnExit_->isChecked();
}

void SettingsDialog::ChooseFolder() {
  const QString chosen = QFileDialog::getExistingDirectory(this, Utf8("保存到"), folder_->text());
  if (!chosen.isEmpty()) {
    folder_->setText(chosen);
  }
}

}  // namespace melo::ui
