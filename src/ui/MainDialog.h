#pragma once
// The main window: URL box, status line, song list, the search panel on its
// right and the playback controls at its foot. Every handler runs on the
// window's thread; workers reach the window only through WindowReporter.

#include <QDialog>
#include <QString>
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/scrape/ListCrawl.h"
#include "core/scrape/SiteSearch.h"
#include "core/scrape/SongRecord.h"
#include "ui/AppSettings.h"
#include "ui/RunBoard.h"

class QContextMenuEvent;
class QTimer;

namespace melo::store {
class ListStore;
class StoreOpening;
struct OpenedStore;
}  // namespace melo::store

namespace melo::ui {

class DownloadWindow;
class RecordListView;

class CMainDialog : public QDialog, public RunEventSink {
  Q_OBJECT

 public:
  // kRemember: the song list, the downloads and the user's choices come
  // back from the last run and are kept for the next.
  enum class Memory { kForget, kRemember };
  explicit CMainDialog(QWidget* parent = nullptr, Memory memory = Memory::kForget);
  ~CMainDialog() override;

  // The control with the template id `id` (objectName "1003" and so on), or
  // null. The playback panel and the tests reach the controls this way.
  template <class Widget = QWidget>
  Widget* Control(int id) const {
    return findChild<Widget*>(QString::number(id), Qt::FindDirectChildrenOnly);
  }

  RecordListView& SongList() const { return *songList_; }
  RecordListView& SingerList() const { return *singerList_; }

  // Replaces the status line (1003) as a whole; `gbk` is shown decoded.
  void SetStatus(const std::string& gbk);
  // Appends one row with all five texts at once.
  void AppendSongRow(const scrape::SongRecord& record);
  void AppendSingerRow(const scrape::SingerRecord& record);

  // Window commands, by the ids of the menus and buttons that route to them.
  void OnCommand(int commandId);
  // The row menu of `list` (the song list or the singer list) at
  // `globalPos`, for its marked row; none while no row is marked.
  void ShowRowMenu(const RecordListView& list, QPoint globalPos);
  // Adds each song page as OK adds the URL box's, one after another.
  void AddLinks(const std::vector<std::string>& gbkAddresses);

  // The runs' events, on the window's thread (see RunBoard).
  void ApplyRunEvent(RunId runId, const RunEvent& event) override;
  void OnRunThreadEnded(RunId runId) override;

  // The download window, made on first use.
  DownloadWindow& Downloads();
  // Writes the song list as an extended M3U8 playlist; false when it cannot.
  bool ExportPlaylist(const QString& path) const;
  // The site is served inside this process: its addresses die with it.
  void SetSiteInProcess(bool inProcess);

  // Crawls the user can still stop (started, neither stopped nor finished).
  int StoppableCrawlCount() const;
  // Worker threads not yet joined, stopped ones included.
  std::size_t RunThreadCount() const { return runs_.ThreadCount(); }

 protected:
  void done(int result) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // Set-up, in MainDialog.cpp.
  void BuildWindow();
  void ConnectControls();
  void RefreshRowCount();
  void WidenRowCounter();
  void SetClientWidth(int width);
  void TakeOutsideControlsOffTheTabChain();

  // Row commands and menus, in MainDialogCommands.cpp.
  void OnOK();
  void StartNextLink();
  void ShowSongMenu(const QPoint& pos);
  void ShowSingerMenu(const QPoint& pos);
  void ShowListPageMenu();
  void ShowAboutBox();
  void OnDownloadSong();
  void OnOpenSongLink();
  void OnDeleteSong();
  void OnClearSongList();
  void OnClearSingerList();
  void OnToggleSearchPanel();
  void OnSaveSong();
  void OnSaveAllSongs();
  void ShowDownloads();
  void OnExportPlaylist();
  // Some song's MP3 address is one of the in-process site's.
  bool ListNamesTheSiteInProcess() const;
  void ClearSongRows();
  // The song list's rows [first, end) as records.
  std::vector<scrape::SongRecord> SongRows(int first, int end) const;

  // Crawls and search, in MainDialogRuns.cpp.
  void OnCrawlChart();
  void OnCrawlListening();
  void OnCrawlRecommended();
  void StartListCrawl(scrape::ListPage page);
  void OnCrawlMarkedSinger();      // song list row menu
  void OnCrawlSingerListSinger();  // singer list menu
  void StartCrawl(const std::string& address, const scrape::CrawlPattern& pattern);
  void OnStopCrawl();
  void OnSearchButton();
  void RefreshStopButton();
  void EndAllRuns();

  // What is kept across runs, in MainDialogMemory.cpp.
  void RestoreSavedState();
  void TellAboutStore(const store::OpenedStore& opened);
  void ShowStoreMessage(const QString& text);
  void SetUpDownloadMemory(DownloadWindow& downloads);
  void OnSettings();
  void RememberSearchPanel();
  void ForgetListIfAsked();
  void CloseStore();
  void HandSongsToStoreSoon();
  void SaveWindowPositionIfKept();

  // Playback hooks, all in MainDialogPlayback.cpp.
  void SetUpPlayback();
  void OnPlaySelected();            // menu 32783
  void OnStopPlayback();            // button 1014
  void OnPreviousSong();            // button 1019
  void OnNextSong();                // button 1020
  void OnSliderScroll(int action);  // slider 1011, any action
  void StopPlaybackForClose();      // the stop step of closing
  // The window menu's play modes: false for any other command.
  bool OnPlayModeCommand(int commandId);
  bool PlayModeChecked(int commandId) const;

  RecordListView* songList_ = nullptr;
  RecordListView* singerList_ = nullptr;
  QTimer* countTicker_ = nullptr;
  RunBoard runs_{*this, *this};
  std::optional<RunId> addLinkRun_;
  std::deque<std::string> pendingLinks_;  // added after the running one
  // OK had the focus when it was disabled: it gets it back when it returns.
  bool okHadFocus_ = false;
  std::optional<RunId> searchRun_;
  // Mirrors the radio buttons so a search reads its mode without waiting on
  // the window's thread (which may be joining that very search).
  std::atomic<scrape::SearchMode> searchMode_{scrape::SearchMode::kSong};
  bool closing_ = false;
  bool siteInProcess_ = false;

  Memory memory_;
  // Opens the store while the window builds itself; gone once it has.
  std::unique_ptr<store::StoreOpening> storeOpening_;
  AppSettings settings_;
  std::unique_ptr<store::ListStore> store_;  // null while the list is not saved
  bool songsHandOverQueued_ = false;

  std::unique_ptr<class PlaybackPanel> playback_;
  DownloadWindow* downloads_ = nullptr;  // a child window, made on first use
};

}  // namespace melo::ui
