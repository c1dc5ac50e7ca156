// The window side of the crawls and the search: launchers, the stop button,
// the search button, the singer list and its menu, the search panel.

#include <QRadioButton>

#include "UiTestSupport.h"
#include "site/Catalogue.h"
#include "ui/Menus.h"

namespace melo::ui::testing {
namespace {

// The song id in a song page address ("…/song/2244436//").
std::string SongIdOf(const std::string& songLink) {
  const std::size_t start = songLink.rfind("song/") + 5;
  return start < 5 ? std::string() : songLink.substr(start, songLink.find('/', start) - start);
}

// Every row is one song of the catalogue, whole: its texts all belong to
// the song its address names, whichever worker appended it.
void ExpectRowsWhole(const RecordListView& songs) {
  for (int r = 0; r < songs.RowCount(); ++r) {
    SCOPED_TRACE(r);
    const bundled::CatalogueSong* song =
        bundled::DemoCatalogue().FindSong(SongIdOf(songs.Text(r, 4)));
    ASSERT_NE(song, nullptr) << songs.Text(r, 4);
    EXPECT_EQ(text::GbkToUtf8(songs.Text(r, 0)), song->singer);
    EXPECT_EQ(text::GbkToUtf8(songs.Text(r, 1)), song->title);
    EXPECT_NE(songs.Text(r, 2).find("/cache/"), std::string::npos);
    EXPECT_NE(songs.Text(r, 3).find("singer/" + song->singerId + "/"), std::string::npos);
  }
}

class CrawlTest : public DialogFixture {
 protected:
  explicit CrawlTest(bundled::BundledSiteOptions options = {})
      : DialogFixture(std::move(options)) {}

  QMenu* ListPageMenu() const { return dialog_->findChild<QMenu*>(QStringLiteral("136")); }
  void ChooseFromListPageMenu(int command) {
    Click(1017);
    ASSERT_NE(ListPageMenu(), nullptr);
    ListPageMenu()->findChild<QAction*>(QString::number(command))->trigger();
  }
  bool StopEnabled() const { return Control<QPushButton>(1010)->isEnabled(); }
  void Search(const char* keyword) {
    Control<QLineEdit>(1018)->setText(Q(keyword));
    Click(1021);
  }
  QString Caption() const { return Control<QPushButton>(1021)->text(); }
};

// Every answer of the site comes late, or (kHeld) waits until the test
// calls ReleaseAnswers().
template <int kLatencyMs, bool kHeld = false>
class LateSiteTest : public CrawlTest {
 protected:
  LateSiteTest() : CrawlTest({.latencyMs = kLatencyMs, .holdAnswers = kHeld}) {}
};
using SlowCrawlTest = LateSiteTest<40>;
using HeldSiteTest = LateSiteTest<0, true>;

// Each list page's crawl appends its songs; after the recommended page's
// own pattern, the list pattern again.
TEST_F(CrawlTest, ListPageCrawlsAppendTheirSongsThenSayDone) {
  Click(1017);
  EXPECT_EQ(ActionTexts(*ListPageMenu()),
            QStringList({Q("一周排行"), Q("大家在听"), Q("大家推荐"), Q("搜索")}));
  ListPageMenu()->close();
  int rows = 0;
  for (const auto& [command, songs] :
       {std::pair{kChartCommand, 20}, {kRecommendedCommand, 12}, {kListeningCommand, 15}}) {
    ChooseFromListPageMenu(command);
    EXPECT_TRUE(StopEnabled());
    ASSERT_TRUE(WaitForRuns());
    EXPECT_EQ(Songs().RowCount(), rows += songs);
    EXPECT_EQ(Status(), Q("解析完毕"));
    EXPECT_FALSE(StopEnabled());
  }
  ExpectRowsWhole(Songs());
}

TEST_F(CrawlTest, RowSingerCrawlAppendsThenSingerListCrawlReplaces) {
  Click(1);
  ASSERT_TRUE(WaitForRuns());
  ASSERT_EQ(Songs().RowCount(), 1);
  const std::string firstRowLink = Songs().Text(0, 4);
  const std::string singerLink = Songs().Text(0, 3);
  Songs().SetSelectionMark(0);
  dialog_->OnCommand(kCrawlRowSingerCommand);
  ASSERT_TRUE(WaitForRuns());
  const auto& catalogue = bundled::DemoCatalogue();
  const int singerSongs = static_cast<int>(
      catalogue.SongsOf(catalogue.FindSong(SongIdOf(firstRowLink))->singerId).size());
  EXPECT_EQ(Songs().RowCount(), 1 + singerSongs);  // below the rows
  EXPECT_EQ(Songs().Text(0, 4), firstRowLink);
  ExpectRowsWhole(Songs());

  dialog_->AppendSingerRow({Gbk("林晚风"), singerLink});
  Singers().SetSelectionMark(0);
  dialog_->OnCommand(kCrawlListedSingerCommand);
  EXPECT_EQ(Songs().RowCount(), 0);  // emptied before any crawled row
  ASSERT_TRUE(WaitForRuns());
  EXPECT_EQ(Songs().RowCount(), singerSongs);
  ExpectRowsWhole(Songs());
  EXPECT_EQ(Singers().RowCount(), 1);

  // A singer page that answers an error status: the text stays, the reason
  // follows it.
  dialog_->AppendSingerRow({Gbk("无名"), Base() + "singer/999999/"});
  Singers().SetSelectionMark(1);
  dialog_->OnCommand(kCrawlListedSingerCommand);
  ASSERT_TRUE(WaitForRuns());
  EXPECT_EQ(Status(), Q("解析完毕 (HTTP 404)"));
}

// Each press stops the newest crawl still running, and a crawl that ends by
// itself leaves the button to the others; their rows interleave whole. The
// two crawls left race each other, so only what holds in every order is
// checked: they may end one by one or within the same turn of the loop.
TEST_F(SlowCrawlTest, CrawlsAtOnceShareTheListAndTheStopButton) {
  QStringList statuses;
  QObject::connect(Control<QLineEdit>(1003), &QLineEdit::textChanged,
                   [&statuses](const QString& text) { statuses << text; });
  ChooseFromListPageMenu(kChartCommand);
  ChooseFromListPageMenu(kListeningCommand);
  ChooseFromListPageMenu(kRecommendedCommand);
  EXPECT_EQ(dialog_->StoppableCrawlCount(), 3);
  Click(1010);  // stops the recommended crawl before any of its events is applied
  EXPECT_EQ(Status(), Q("已停止解析"));
  EXPECT_TRUE(StopEnabled());
  EXPECT_EQ(dialog_->StoppableCrawlCount(), 2);
  statuses.clear();
  ASSERT_TRUE(WaitUntil([this] { return dialog_->StoppableCrawlCount() <= 1; }));
  EXPECT_TRUE(statuses.contains(Q("解析完毕")));  // a later parse of the other may follow it
  if (dialog_->StoppableCrawlCount() == 1) {
    EXPECT_TRUE(StopEnabled());  // whichever ended, the other still runs
    Click(1010);
  }
  EXPECT_FALSE(StopEnabled());
  ASSERT_TRUE(WaitForRuns());
  ExpectRowsWhole(Songs());
  EXPECT_GE(Songs().RowCount(), 15);  // at least the shorter list, whole
  EXPECT_LE(Songs().RowCount(), 20 + 15);
}

TEST_F(HeldSiteTest, ClosingEndsEveryWorkerEvenWhileAReadHangs) {
  ChooseFromListPageMenu(kChartCommand);
  Click(1021);
  Click(1);
  EXPECT_EQ(dialog_->RunThreadCount(), 3u);
  dialog_->reject();  // Esc
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_EQ(dialog_->RunThreadCount(), 0u);
  Settle();
  EXPECT_EQ(Songs().RowCount(), 0);
}

// Enter in the search box, either Enter key, runs the search, not OK: a song
// search lists the songs found; in singer mode a search appends the singers
// found and leaves the songs alone.
TEST_F(CrawlTest, SearchSongThenSingerModeAndTheSingerMenuClearsThem) {
  dialog_->OnCommand(kSearchPanelCommand);
  ASSERT_TRUE(Activate(*dialog_));
  auto* keyword = Control<QLineEdit>(1018);
  keyword->setText(Q("林晚风"));
  keyword->setFocus();
  for (const auto& [key, modifier] :
       {std::pair{Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}}) {
    QTest::keyClick(keyword, key, modifier);
    EXPECT_EQ(Caption(), Q("停止搜索"));
    EXPECT_TRUE(Control<QPushButton>(1)->isEnabled());  // no add of the URL box's song
    ASSERT_TRUE(WaitForRuns());
    EXPECT_EQ(Caption(), Q("搜索"));
    EXPECT_EQ(Status(), Q("获取完毕"));
    EXPECT_TRUE(keyword->hasFocus());
  }
  const int songs = Songs().RowCount();
  EXPECT_GT(songs, 0);
  ExpectRowsWhole(Songs());

  Control<QRadioButton>(1023)->click();
  for (int searches = 1; searches <= 2; ++searches) {
    Search("林晚风");
    ASSERT_TRUE(WaitForRuns());
    ASSERT_EQ(Singers().RowCount(), searches);
    EXPECT_EQ(Singers().Text(searches - 1, 0), Gbk("林晚风"));
    EXPECT_EQ(Singers().Text(searches - 1, 1), Base() + "/singer/42/");
  }
  EXPECT_EQ(Songs().RowCount(), songs);

  const auto rightClick = [this] {
    emit Singers().customContextMenuRequested(QPoint(3, 3));
    return dialog_->findChild<QMenu*>(QStringLiteral("137"));
  };
  EXPECT_EQ(rightClick(), nullptr);  // no mark
  Singers().SetSelectionMark(0);
  QMenu* menu = rightClick();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(ActionTexts(*menu), QStringList({Q("获取该歌手所有歌曲"), Q("清空列表")}));
  menu->findChild<QAction*>(QString::number(kClearSingerListCommand))->trigger();
  EXPECT_EQ(Singers().RowCount(), 0);
  EXPECT_EQ(Songs().RowCount(), songs);
}

// Ctrl+F opens the search panel with the focus in its box, and Escape there
// closes the panel, not the window. In the singer list Enter and a
// double-click crawl the marked singer as its menu does; the Menu key opens
// that menu.
TEST_F(CrawlTest, KeysOpenTheSearchPanelAndCrawlAListedSinger) {
  ASSERT_TRUE(Activate(*dialog_));
  QTest::keyClick(&Songs(), Qt::Key_F, Qt::ControlModifier);
  EXPECT_EQ(dialog_->width(), kWideClientWidth);
  EXPECT_TRUE(Control(1018)->hasFocus());

  const auto& catalogue = bundled::DemoCatalogue();
  const auto singers = catalogue.Singers().first(2);
  for (const auto& singer : singers) {
    dialog_->AppendSingerRow({Gbk(singer.name.c_str()), Base() + "singer/" + singer.id + "/"});
  }
  ASSERT_TRUE(WaitUntil([&] { return Singers().model()->rowCount() == 2; }));
  for (const auto& [way, act] : WaysToRunARow(Singers())) {
    for (const int row : {1, 0}) {
      SCOPED_TRACE(std::string(way) + " on row " + std::to_string(row));
      act(row);
      ASSERT_TRUE(WaitForRuns());
      ASSERT_EQ(Songs().RowCount(), static_cast<int>(catalogue.SongsOf(singers[row].id).size()));
      EXPECT_EQ(text::GbkToUtf8(Songs().Text(0, 0)), singers[row].name);
      ExpectRowsWhole(Songs());
    }
  }

  QTest::keyClick(&Singers(), Qt::Key_Menu);
  QMenu* menu = dialog_->findChild<QMenu*>(QStringLiteral("137"));
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(menu->isVisible());
  menu->close();

  Control(1018)->setFocus();
  QTest::keyClick(Control(1018), Qt::Key_Escape);
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(dialog_->width(), kNarrowClientWidth);
}

// A stopped search lists nothing once its page comes; the mode is the
// radio button's when the page is in, not when the search began.
TEST_F(HeldSiteTest, SearchStopsAtOnceAndTakesItsModeLate) {
  Search("林晚风");
  Click(1021);
  EXPECT_EQ(Caption(), Q("搜索"));
  EXPECT_EQ(Status(), Q("已停止"));
  Search("林晚风");
  Control<QRadioButton>(1023)->click();  // both result pages are still on their way
  site_.ReleaseAnswers();
  ASSERT_TRUE(WaitForRuns());
  EXPECT_EQ(Singers().RowCount(), 1);  // the second search's alone
  EXPECT_EQ(Songs().RowCount(), 0);
}

}  // namespace
}  // namespace melo::ui::testing
