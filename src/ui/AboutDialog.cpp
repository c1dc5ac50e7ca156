#include "ui/AboutDialog.h"

#include <QPushButton>

#include "core/net/PageReader.h"
#include "core/site/Site.h"
#include "ui/ControlBuilder.h"
#include "ui/LinkLabel.h"
#include "ui/ShellOpen.h"

namespace melo::ui {
namespace {

constexpr int kLinkLabelId = 1006;
constexpr int kCheckButtonId = 1007;

TemplateFields AboutFields() {
  std::string siteAddress = site::SiteBase();
  if (!siteAddress.empty() && siteAddress.back() == '/') {
    siteAddress.pop_back();
  }
  return {
      {QStringLiteral("HomePageUrl"), QString::fromStdString(update::HomePageUrl())},
      {QStringLiteral("SiteAddress"), QString::fromStdString(siteAddress)},
      {QStringLiteral("Author"), QString::fromUtf8(kAuthorName)},
      {QStringLiteral("Mail"), QString::fromUtf8(kAuthorMail)},
  };
}

}  // namespace

void ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                    QMessageBox::StandardButtons buttons,
                    std::function<void(QMessageBox::StandardButton)> then) {
  auto* box = new QMessageBox(icon, QStringLiteral("melodriftdown"), text, buttons, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(box, &QMessageBox::finished, box, [box, then = std::move(then)](int) {
    if (then) {
      then(box->standardButton(box->clickedButton()));
    }
  });
  box->open();
}

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  const DialogTemplate& dialogTemplate = AboutDialogTemplate();
  BuildControls(*this, dialogTemplate, AboutFields());
  setFixedSize(DialogUnitsToPixels(dialogTemplate.width),
               DialogUnitsToPixels(dialogTemplate.height));
  FitLinkToItsText(*Control<LinkLabel>(kLinkLabelId));

  connect(Control<QPushButton>(1), &QPushButton::clicked, this, &QDialog::accept);
  connect(Control<QPushButton>(kCheckButtonId), &QPushButton::clicked, this,
          &CAboutDialog::CheckForUpdate);
  connect(Control<LinkLabel>(kLinkLabelId), &LinkLabel::activated, this,
          [] { OpenWithShell(update::HomePageUrl()); });
}

// The reader's stop token aborts a hanging read; the member's destructor
// joins it.
CAboutDialog::~CAboutDialog() = default;

void CAboutDialog::CheckForUpdate() {
  Control<QPushButton>(kCheckButtonId)->setEnabled(false);
  updateReader_ = std::jthread([this](std::stop_token stop) {
    try {
      const update::UpdateFinding finding =
          update::EvaluateUpdatePage(update::ReadUpdatePage(stop));
      QMetaObject::invokeMethod(
          this, [this, finding] { ShowUpdateFinding(finding); }, Qt::QueuedConnection);
    } catch (const net::TransferStopped&) {
      // The box is closing; nobody is left to tell.
    } catch (const std::exception& error) {
      QMetaObject::invokeMethod(
          this, [this, text = QString::fromLocal8Bit(error.what())] { ShowUpdateError(text); },
          Qt::QueuedConnection);
    }
  });
}

void CAboutDialog::ShowUpdateFinding(const update::UpdateFinding& finding) {
  Control<QPushButton>(kCheckButtonId)->setEnabled(true);
  switch (finding.verdict) {
    case update::UpdateVerdict::kNoVersion:
      return;
    case update::UpdateVerdict::kUpToDate:
      ShowMessageBox(this, QMessageBox::Warning, QString::fromUtf8("当前版本已是最新版"),
                     QMessageBox::Ok);
      return;
    case update::UpdateVerdict::kNewer: {
      // The update page is a stranger's: the user sees what "是" would open.
      const std::optional<QUrl> url =
          finding.downloadAddress ? ShellUrlFor(*finding.downloadAddress) : std::nullopt;
      QString question = QString::fromUtf8("发现有新版本,是否要下载?");
      if (url) {
        question += QLatin1Char('\n') + QString::fromLatin1(url->toEncoded());
      }
      ShowMessageBox(this, QMessageBox::Warning, question, QMessageBox::Yes | QMessageBox::No,
                     [address = finding.downloadAddress](QMessageBox::StandardButton answer) {
                       if (answer == QMessageBox::Yes && address) {
                         OpenWithShell(*address);
                       }
                     });
      return;
    }
  }
}

void CAboutDialog::ShowUpdateError(const QString& networkText) {
  Control<QPushButton>(kCheckButtonId)->setEnabled(true);
  ShowMessageBox(this, QMessageBox::Critical,
                 networkText.isEmpty() ? QString::fromUtf8("内部应用程序出错。") : networkText,
                 QMessageBox::Ok);
}

}  // namespace melo::ui
