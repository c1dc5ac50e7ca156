// The main window's commands: routing, the single-link add, the row menus
// and the row commands.

#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <array>

#include "core/download/Download.h"
#include "core/scrape/AddLink.h"
#include "core/site/Site.h"
#include "core/store/ListStore.h"
#include "core/text/Gbk.h"
#include "ui/AboutDialog.h"
#include "ui/ControlIds.h"
#include "ui/DownloadWindow.h"
#include "ui/MainDialog.h"
#include "ui/Menus.h"
#include "ui/RecordListView.h"
#include "ui/ShellOpen.h"

namespace melo::ui {
namespace {

// Song list columns the row commands read.

struct CommandRoute {
  int id;
  void (CMainDialog::*handler)();
};

}  // namespace

void CMainDialog::OnCommand(int commandId) {
  static constexpr std::array<CommandRoute, 26> kRoutes{{
      {1, &CMainDialog::OnOK},
      {1004, &CMainDialog::ShowAboutBox},
      {1007, &CMainDialog::OnClearSongList},
      {1010, &CMainDialog::OnStopCrawl},
      {1014, &CMainDialog::OnStopPlayback},
      {1017, &CMainDialog::ShowListPageMenu},
      {1019, &CMainDialog::OnPreviousSong},
      {1020, &CMainDialog::OnNextSong},
      {1021, &CMainDialog::OnSearchButton},
      {kAboutCommand, &CMainDialog::ShowAboutBox},
      {kDownloadSongCommand, &CMainDialog::OnDownloadSong},
      {kPlaySongCommand, &CMainDialog::OnPlaySelected},
      {kCrawlRowSingerCommand, &CMainDialog::OnCrawlMarkedSinger},
      {kOpenSongLinkCommand, &CMainDialog::OnOpenSongLink},
      {kDeleteSongCommand, &CMainDialog::OnDeleteSong},
      {kChartCommand, &CMainDialog::OnCrawlChart},
      {kListeningCommand, &CMainDialog::OnCrawlListening},
      {kRecommendedCommand, &CMainDialog::OnCrawlRecommended},
      {kSearchPanelCommand, &CMainDialog::OnToggleSearchPanel},
      {kCrawlListedSingerCommand, &CMainDialog::OnCrawlSingerListSinger},
      {kClearSingerListCommand, &CMainDialog::OnClearSingerList},
      {kSaveSongCommand, &CMainDialog::OnSaveSong},
      {kSaveAllSongsCommand, &CMainDialog::OnSaveAllSongs},
      {kDownloadListCommand, &CMainDialog::ShowDownloads},
      {kExportPlaylistCommand, &CMainDialog::OnExportPlaylist},
      {kSettingsCommand, &CMainDialog::OnSettings},
  }};
  if (OnPlayModeCommand(commandId)) {
    return;
  }
  for (const CommandRoute& route : kRoutes) {
    if (route.id == commandId) {
      (this->*route.handler)();
      return;
    }
  }
}

void CMainDialog::OnOK() {
  if (!addLinkRun_) {
    AddLinks({text::Utf8ToGbk(Control<QLineEdit>(1000)->text().toStdString())});
  }
}

void CMainDialog::AddLinks(const std::vector<std::string>& gbkAddresses) {
  pendingLinks_.insert(pendingLinks_.end(), gbkAddresses.begin(), gbkAddresses.end());
  if (!addLinkRun_) {
    StartNextLink();
  }
}

// One add at a time; OK stays disabled until the last one has ended.
void CMainDialog::StartNextLink() {
  if (pendingLinks_.empty()) {
    return;
  }
  auto* ok = Control<QPushButton>(1);
  if (ok->isEnabled()) {
    // Qt would pass the focus of a disabled button on to the URL box, with
    // its whole text selected; the window itself holds it until OK is back.
    okHadFocus_ = focusWidget() == ok;
    if (okHadFocus_) {
      setFocus(Qt::OtherFocusReason);
    }
    ok->setEnabled(false);
  }
  while (!pendingLinks_.empty() && !addLinkRun_) {
    std::string address = std::move(pendingLinks_.front());
    pendingLinks_.pop_front();
    const RunId id = runs_.Start(
        RunKind::kAddLink,
        [address = std::move(address)](scrape::RunReporter& reporter, std::stop_token stop) {
          scrape::RunAddLink(address, reporter, stop);
        });
    if (id != 0) {
      addLinkRun_ = id;
    }
  }
}

void CMainDialog::ShowRowMenu(const RecordListView& list, QPoint globalPos) {
  // The commands act on the marked row, wherever the click landed.
  if (list.SelectionMark() == -1) {
    return;
  }
  ShowMenu(*this, &list == songList_ ? SongMenu() : SingerMenu(), globalPos,
           [this](int id) { OnCommand(id); });
}

void CMainDialog::ShowSongMenu(const QPoint& /*pos*/) {
  ShowRowMenu(*songList_, QCursor::pos());
}

void CMainDialog::ShowSingerMenu(const QPoint& /*pos*/) {
  ShowRowMenu(*singerList_, QCursor::pos());
}

void CMainDialog::ShowListPageMenu() {
  ShowMenu(*this, ListPageMenu(), QCursor::pos(), [this](int id) { OnCommand(id); });
}

void CMainDialog::ShowAboutBox() {
  auto* about = new CAboutDialog(this);
  about->setAttribute(Qt::WA_DeleteOnClose);
  about->setWindowModality(Qt::ApplicationModal);
  about->show();
}

void CMainDialog::OnDownloadSong() {
  const int row = songList_->SelectionMark();
  if (row != -1) {
    OpenWithShell(songList_->Text(row, kDownloadLinkColumn), ShellAddress::kMedia);
  }
}

void CMainDialog::OnOpenSongLink() {
  const int row = songList_->SelectionMark();
  if (row != -1) {
    OpenWithShell(songList_->Text(row, kSongLinkColumn));
  }
}

void CMainDialog::OnDeleteSong() {
  const int row = songList_->SelectionMark();
  if (row < 0 || row >= songList_->RowCount()) {
    return;
  }
  songList_->DeleteRow(row);
  if (store_) {
    store_->DeleteSong(row);
  }
}

void CMainDialog::OnClearSongList() {
  ClearSongRows();
}

void CMainDialog::ClearSongRows() {
  songList_->DeleteAllRows();
  if (store_) {
    store_->ClearSongs();
  }
}

void CMainDialog::OnClearSingerList() {
  singerList_->DeleteAllRows();
}

std::vector<scrape::SongRecord> CMainDialog::SongRows(int first, int end) const {
  std::vector<scrape::SongRecord> songs;
  for (int row = first; row < end; ++row) {
    songs.push_back({songList_->Text(row, 0), songList_->Text(row, 1),
                     songList_->Text(row, kDownloadLinkColumn), songList_->Text(row, 3),
                     songList_->Text(row, kSongLinkColumn)});
  }
  return songs;
}

DownloadWindow& CMainDialog::Downloads() {
  if (downloads_ == nullptr) {
    downloads_ = new DownloadWindow(this);  // the window owns it
    SetUpDownloadMemory(*downloads_);
  }
  return *downloads_;
}

void CMainDialog::ShowDownloads() {
  DownloadWindow& downloads = Downloads();
  downloads.show();
  downloads.raise();
}

void CMainDialog::OnSaveSong() {
  const int row = songList_->SelectionMark();
  if (row != -1) {
    Downloads().Download(SongRows(row, row + 1));
    ShowDownloads();
  }
}

void CMainDialog::OnSaveAllSongs() {
  Downloads().Download(SongRows(0, songList_->RowCount()));
  ShowDownloads();
}

void CMainDialog::SetSiteInProcess(bool inProcess) {
  siteInProcess_ = inProcess;
}

bool CMainDialog::ListNamesTheSiteInProcess() const {
  if (!siteInProcess_) {
    return false;
  }
  const QString bases[] = {QString::fromStdString(site::SiteBase()),
                           QString::fromStdString(site::SiteBaseWww())};
  for (int row = 0; row < songList_->RowCount(); ++row) {
    QString link = QString::fromStdString(songList_->Text(row, kDownloadLinkColumn));
    if (link.startsWith(u'"')) {
      link.remove(0, 1);
    }
    for (const QString& base : bases) {
      if (link.startsWith(base, Qt::CaseInsensitive)) {
        return true;
      }
    }
  }
  return false;
}

void CMainDialog::OnExportPlaylist() {
  // The in-process site ends with the window, and every address it served
  // with it: the user learns so before choosing where the list goes.
  const QString caption =
      ListNamesTheSiteInProcess()
          ? QString::fromUtf8(
                "导出列表为 M3U8 (列表中的地址指向程序内置的演示站点,关闭程序后即失效)")
          : QString::fromUtf8("导出列表为 M3U8");
  auto* dialog = new QFileDialog(this, caption, QString::fromUtf8("歌曲列表.m3u8"),
                                 QStringLiteral("M3U8 (*.m3u8)"));
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
    if (!ExportPlaylist(path)) {
      QMessageBox::warning(this, windowTitle(),
                           QString::fromUtf8("无法写入 ") + QDir::toNativeSeparators(path));
    }
  });
  dialog->open();
}

bool CMainDialog::ExportPlaylist(const QString& path) const {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    return false;
  }
  const std::string playlist = download::M3u8Playlist(SongRows(0, songList_->RowCount()));
  file.write(playlist.data(), static_cast<qint64>(playlist.size()));
  return file.commit();
}

void CMainDialog::OnToggleSearchPanel() {
  SetClientWidth(width() == kWideClientWidth ? kNarrowClientWidth : kWideClientWidth);
  RememberSearchPanel();
}

}  // namespace melo::ui
