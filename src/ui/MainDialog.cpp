#include "ui/MainDialog.h"

#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>

#include "core/site/Site.h"
#include "core/text/Gbk.h"
#include "ui/ControlBuilder.h"
#include "ui/DownloadWindow.h"
#include "ui/Menus.h"
#include "ui/RecordListView.h"

namespace melo::ui {
namespace {

constexpr int kCountTickMs = 1000;

// The ids whose clicks are window commands; the rest of the controls only
// hold state.
constexpr int kCommandButtons[] = {1, 1004, 1007, 1010, 1014, 1017, 1019, 1020, 1021};

}  // namespace

void CMainDialog::BuildWindow() {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowIcon(ProgramIcon());
  BuildControls(*this, MainDialogTemplate());
  songList_ = Control<RecordListView>(1008);
  singerList_ = Control<RecordListView>(1025);

  Control<QLineEdit>(1000)->setText(QString::fromStdString(site::StartSongAddress()));
  Control<QPushButton>(1010)->setEnabled(false);
  Control<QRadioButton>(1022)->setChecked(true);
  auto* slider = Control<QSlider>(1011);
  slider->setRange(1, 1000);
  slider->setEnabled(false);
  Control<QPushButton>(1014)->setEnabled(false);
  SetClientWidth(kNarrowClientWidth);
  ConnectControls();

  countTicker_ = new QTimer(this);
  connect(countTicker_, &QTimer::timeout, this, &CMainDialog::RefreshRowCount);
  countTicker_->start(kCountTickMs);
  RefreshRowCount();
}

void CMainDialog::ConnectControls() {
  for (const int id : kCommandButtons) {
    connect(Control<QPushButton>(id), &QPushButton::clicked, this, [this, id] { OnCommand(id); });
  }
  songList_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(songList_, &QWidget::customContextMenuRequested, this, &CMainDialog::ShowSongMenu);
  singerList_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(singerList_, &QWidget::customContextMenuRequested, this, &CMainDialog::ShowSingerMenu);

  connect(Control<QRadioButton>(1022), &QRadioButton::toggled, this, [this](bool songMode) {
    searchMode_ = songMode ? scrape::SearchMode::kSong : scrape::SearchMode::kSinger;
  });

  auto* slider = Control<QSlider>(1011);
  connect(slider, &QSlider::actionTriggered, this, &CMainDialog::OnSliderScroll);
}

void CMainDialog::RefreshRowCount() {
  Control<QLineEdit>(1009)->setText(QString::number(songList_->RowCount()));
}

void CMainDialog::SetClientWidth(int width) {
  setFixedSize(width, kClientHeight);
}

void CMainDialog::SetStatus(const std::string& gbk) {
  Control<QLineEdit>(1003)->setText(QString::fromStdString(text::GbkToUtf8(gbk)));
}

void CMainDialog::AppendSongRow(const scrape::SongRecord& record) {
  songList_->AppendRow(
      {record.singer, record.title, record.downloadLink, record.singerLink, record.songLink});
}

void CMainDialog::AppendSingerRow(const scrape::SingerRecord& record) {
  singerList_->AppendRow({record.singer, record.singerLink});
}

void CMainDialog::contextMenuEvent(QContextMenuEvent* event) {
  // Window managers keep their window menu to themselves, so the About item
  // lives in the window's own menu.
  ShowMenu(*this, WindowMenu(), event->globalPos(), [this](int id) { OnCommand(id); });
  event->accept();
}

void CMainDialog::done(int result) {
  if (!closing_) {
    closing_ = true;
    StopPlaybackForClose();
    EndAllRuns();
    if (downloads_ != nullptr) {
      downloads_->StopAll();  // the .part files stay for the next time
      downloads_->close();
    }
  }
  QDialog::done(result);
}

}  // namespace melo::ui
