// The main window's side of the scraping runs: the crawls, the search, the
// single-link add's end, and what their events do to the controls.

#include <QLineEdit>
#include <QPushButton>
#include <utility>

#include "core/scrape/StatusTexts.h"
#include "core/text/Gbk.h"
#include "ui/ControlIds.h"
#include "ui/MainDialog.h"
#include "ui/RecordListView.h"

namespace melo::ui {
namespace {

const QString& SearchCaption() {
  static const QString caption = QString::fromUtf8("搜索");
  return caption;
}

const QString& StopSearchCaption() {
  static const QString caption = QString::fromUtf8("停止搜索");
  return caption;
}

}  // namespace

void CMainDialog::ApplyRunEvent(RunId runId, const RunEvent& event) {
  if (const auto* status = std::get_if<StatusEvent>(&event)) {
    SetStatus(status->text);
  } else if (const auto* song = std::get_if<scrape::SongRecord>(&event)) {
    AppendSongRow(*song);
  } else if (const auto* singer = std::get_if<scrape::SingerRecord>(&event)) {
    AppendSingerRow(*singer);
  } else if (std::holds_alternative<FinishedEvent>(event)) {
    if (searchRun_ == runId) {
      Control<QPushButton>(1021)->setText(SearchCaption());
      searchRun_.reset();
    }
    RefreshStopButton();
  }
}

void CMainDialog::OnRunThreadEnded(RunId runId) {
  if (addLinkRun_ == runId) {
    addLinkRun_.reset();
    StartNextLink();
    if (!addLinkRun_) {
      auto* ok = Control<QPushButton>(1);
      ok->setEnabled(true);
      // Unless the user has put the focus somewhere else meanwhile.
      if (std::exchange(okHadFocus_, false) && focusWidget() == this) {
        ok->setFocus(Qt::OtherFocusReason);
      }
    }
  }
  if (searchRun_ == runId) {
    // Ended without its last report (it cannot, but the caption must not
    // be left claiming a search runs).
    Control<QPushButton>(1021)->setText(SearchCaption());
    searchRun_.reset();
  }
  RefreshStopButton();
}

int CMainDialog::StoppableCrawlCount() const {
  return runs_.LiveCount(RunKind::kCrawl);
}

void CMainDialog::OnCrawlChart() {
  StartListCrawl(scrape::ListPage::kChart);
}
void CMainDialog::OnCrawlListening() {
  StartListCrawl(scrape::ListPage::kListening);
}
void CMainDialog::OnCrawlRecommended() {
  StartListCrawl(scrape::ListPage::kRecommended);
}

void CMainDialog::StartListCrawl(scrape::ListPage page) {
  StartCrawl(scrape::ListPageAddress(page), scrape::PatternFor(page));
}

void CMainDialog::OnCrawlMarkedSinger() {
  const int row = songList_->SelectionMark();
  if (row != -1) {
    StartCrawl(songList_->Text(row, kSingerLinkColumn), scrape::kListPattern);
  }
}

void CMainDialog::OnCrawlSingerListSinger() {
  const int row = singerList_->SelectionMark();
  if (row == -1) {
    return;
  }
  ClearSongRows();
  StartCrawl(singerList_->Text(row, kSingerLinkColumnOfSingers), scrape::kListPattern);
}

void CMainDialog::StartCrawl(const std::string& address, const scrape::CrawlPattern& pattern) {
  scrape::CrawlRequest request{address, pattern};
  runs_.Start(RunKind::kCrawl, [request](scrape::RunReporter& reporter, std::stop_token stop) {
    scrape::RunListCrawl(request, reporter, stop);
  });
  RefreshStopButton();
}

void CMainDialog::OnStopCrawl() {
  // Stops the newest crawl still running; older ones keep the button alive.
  if (const std::optional<RunId> newest = runs_.NewestLive(RunKind::kCrawl)) {
    runs_.Stop(*newest);
    SetStatus(scrape::texts::kCrawlStopped);
  }
  RefreshStopButton();
}

void CMainDialog::OnSearchButton() {
  auto* button = Control<QPushButton>(1021);
  if (button->text() != SearchCaption()) {
    if (searchRun_) {
      runs_.Stop(*searchRun_);
      searchRun_.reset();
    }
    button->setText(SearchCaption());
    SetStatus(scrape::texts::kSearchStopped);
    return;
  }
  scrape::SearchRequest request;
  request.keyword = text::Utf8ToGbk(Control<QLineEdit>(1018)->text().toStdString());
  request.readMode = [this] { return searchMode_.load(); };
  const RunId id =
      runs_.Start(RunKind::kSearch, [request](scrape::RunReporter& reporter, std::stop_token stop) {
        scrape::RunSiteSearch(request, reporter, stop);
      });
  if (id != 0) {
    searchRun_ = id;
    button->setText(StopSearchCaption());
  }
}

void CMainDialog::RefreshStopButton() {
  Control<QPushButton>(1010)->setEnabled(StoppableCrawlCount() > 0);
}

void CMainDialog::EndAllRuns() {
  pendingLinks_.clear();
  runs_.StopAndJoinAll();
  addLinkRun_.reset();
  searchRun_.reset();
}

}  // namespace melo::ui
