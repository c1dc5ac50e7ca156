// OK and Enter, the rows of the song list, its menu and commands, and the
// desktop hand-off.

#include <QClipboard>
#include <QDropEvent>
#include <QMimeData>
#include <memory>

#include "UiTestSupport.h"
#include "core/scrape/SongPageParser.h"
#include "ui/Menus.h"
#include "ui/ShellOpen.h"

namespace melo::ui::testing {
namespace {

scrape::SongRecord Row(int n) {
  const std::string id = std::to_string(n);
  return {Gbk("歌手") + id, Gbk("歌名") + id,
          "\"http://h/cache/" + id + "/" + Gbk("歌") + " a.mp3\"",
          "http://www.h/singer/" + id + "/", "http://h/song/" + id + "/"};
}

class SongListTest : public DialogFixture {
 protected:
  void FillRows(int count) {
    for (int n = 0; n < count; ++n) {
      dialog_->AppendSongRow(Row(n));
    }
  }
  QMenu* RightClickSongList() {
    emit Songs().customContextMenuRequested(QPoint(5, Songs().viewport()->height() - 5));
    return dialog_->findChild<QMenu*>(QStringLiteral("133"));
  }
  bool CounterShows(const char* count) {
    return WaitUntil([&] { return Control<QLineEdit>(1009)->text() == Q(count); });
  }

  UrlRecorder urls_;
};

// Enter in the URL box adds the song's row and leaves the window open; so
// does OK, which gets the focus back once the parse is over. The address in
// the URL box is never selected for the next key to replace.
TEST_F(SongListTest, EnterAndOkAppendTheSongsRowOrSayWhyNot) {
  ASSERT_TRUE(Activate(*dialog_));
  auto* ok = Control<QPushButton>(1);
  auto* url = Control<QLineEdit>(1000);
  url->setFocus();
  QTest::keyClick(url, Qt::Key_Return);
  ASSERT_TRUE(WaitForRuns());
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(Songs().RowCount(), 1);

  ok->setFocus();
  QTest::keyClick(ok, Qt::Key_Space);
  EXPECT_FALSE(ok->isEnabled());
  EXPECT_FALSE(url->hasFocus());
  EXPECT_FALSE(url->hasSelectedText());
  ASSERT_TRUE(WaitForRuns());
  ASSERT_EQ(Songs().RowCount(), 2);  // the same page again: a second, identical row
  EXPECT_TRUE(ok->hasFocus());
  EXPECT_FALSE(url->hasSelectedText());

  EXPECT_TRUE(Songs().SelectedRows().empty());  // appended, not selected
  // The page's own bytes, shown decoded.
  const std::string address = url->text().toStdString();
  const scrape::ParseResult read = scrape::ReadSongPage(address);
  ASSERT_TRUE(read.Parsed());
  const std::string texts[] = {read.song.singer, read.song.title, read.song.downloadLink,
                               read.song.singerLink, address};
  for (int c = 0; c < 5; ++c) {
    SCOPED_TRACE(c);
    EXPECT_EQ(Songs().Text(0, c), texts[c]);
    EXPECT_EQ(Songs().Text(1, c), texts[c]);
    EXPECT_EQ(Songs().DisplayText(0, c).toStdString(), text::GbkToUtf8(texts[c]));
  }
  // Bytes that UTF-8 cannot carry survive: the row keeps what the page sent.
  const std::string notUtf8("\xB2\xE2\x81", 3);
  dialog_->AppendSongRow({Gbk("歌手甲"), notUtf8, "\"http://h/a.mp3\"", "", ""});
  EXPECT_EQ(Songs().Text(2, 1), notUtf8);
  EXPECT_EQ(Songs().DisplayText(2, 0), Q("歌手甲"));

  // A failure shows the typed text followed by it, and adds no row.
  for (const QString& typed : {QString(), Q("   "), Q("歌曲 not an address")}) {
    SCOPED_TRACE(typed.toStdString());
    url->setText(typed);
    Click(1);
    ASSERT_TRUE(WaitForRuns());
    EXPECT_EQ(Status(), typed + Q("解析失败"));
  }
  EXPECT_EQ(Songs().RowCount(), 3);
}

// The menu needs a mark, not a row under the pointer; its delete and the
// command reach the same row, and a wrong row number deletes nothing. Keys
// on the list run the row commands on the marked row: Delete deletes it, the
// Menu key and Shift+F10 open its menu under it.
TEST_F(SongListTest, MenuAndKeysDeleteOpenAndClear) {
  ASSERT_TRUE(Activate(*dialog_));
  FillRows(5);
  // Rows that come in a stream reach the view together, a moment later.
  EXPECT_TRUE(WaitUntil([&] { return Songs().model()->rowCount() == 5; }));
  EXPECT_EQ(RightClickSongList(), nullptr);
  dialog_->OnCommand(kDeleteSongCommand);  // no mark
  Songs().DeleteRow(5);
  Songs().DeleteRow(-1);
  EXPECT_EQ(Songs().RowCount(), 5);
  Songs().SetSelectionMark(4);
  Songs().DeleteRow(0);
  EXPECT_EQ(Songs().SelectionMark(), 3);  // follows its row

  Songs().SetSelectionMark(0);
  QMenu* menu = RightClickSongList();  // below the rows: the mark still counts
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(ActionTexts(*menu),
            QStringList({Q("下载此歌曲"), Q("播放此歌曲"), Q("获取该歌手所有歌曲"),
                         Q("打开歌曲链接"), Q("删除"), Q("保存到本地"), Q("全部保存到本地")}));
  menu->findChild<QAction*>(QString::number(kDeleteSongCommand))->trigger();
  menu->close();  // gone, so that only the menus the keys open below are found
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_EQ(Songs().RowCount(), 3);
  EXPECT_EQ(Songs().Text(0, 4), Row(2).songLink);  // the rows below move up
  EXPECT_EQ(Songs().Text(2, 4), Row(4).songLink);
  EXPECT_TRUE(CounterShows("3"));
  // The selection moves on to the row that took the deleted one's place, and
  // the mark names the row the user now sees selected.
  ASSERT_EQ(Songs().SelectedRows().size(), 1u);
  EXPECT_EQ(Songs().SelectionMark(), Songs().SelectedRows()[0]);

  // Download and open hand the marked row to the desktop: unquoted, the GBK
  // title and the space percent-encoded.
  Songs().SetSelectionMark(1);
  dialog_->OnCommand(kDownloadSongCommand);
  dialog_->OnCommand(kOpenSongLinkCommand);
  EXPECT_EQ(urls_.opened,
            (std::vector<QByteArray>{"http://h/cache/3/%B8%E8%20a.mp3", "http://h/song/3/"}));

  Songs().setFocus();
  QTest::keyClick(&Songs(), Qt::Key_Delete);
  ASSERT_EQ(Songs().RowCount(), 2);
  EXPECT_EQ(Songs().Text(1, 4), Row(4).songLink);
  const std::pair<Qt::Key, Qt::KeyboardModifiers> menuKeys[] = {{Qt::Key_Menu, Qt::NoModifier},
                                                                {Qt::Key_F10, Qt::ShiftModifier}};
  for (const auto& [key, modifiers] : menuKeys) {
    SCOPED_TRACE(key);
    Songs().SetSelectionMark(1);
    QTest::keyClick(&Songs(), key, modifiers);
    auto* keyMenu = dialog_->findChild<QMenu*>(QStringLiteral("133"));
    ASSERT_NE(keyMenu, nullptr);
    EXPECT_TRUE(keyMenu->isVisible());
    const QRect cell = Songs().visualRect(Songs().model()->index(1, 0));
    EXPECT_EQ(keyMenu->pos(), Songs().viewport()->mapToGlobal(cell.bottomLeft()));
    keyMenu->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  dialog_->AppendSingerRow({Gbk("歌手"), "http://h/singer/1/"});
  Click(1007);
  Click(1007);  // empty already
  EXPECT_EQ(Songs().RowCount(), 0);
  EXPECT_EQ(Songs().SelectionMark(), -1);
  EXPECT_EQ(Singers().RowCount(), 1);
  EXPECT_TRUE(CounterShows("0"));
}

// Links pasted outside a text box or dropped onto the window are added as
// OK adds the URL box's, one after another; a paste into a text box is
// the box's own.
TEST_F(SongListTest, PastedAndDroppedLinksAreAddedInTheirOrder) {
  ASSERT_TRUE(Activate(*dialog_));
  const auto catalogue = bundled::DemoCatalogue().Songs();
  const std::string first = Base() + "song/" + catalogue[0].id + "/";
  const std::string second = Base() + "song/" + catalogue[1].id + "/";
  const struct {
    bool pasted;  // or dropped
    const char* format;
    std::string data;
    std::vector<std::string> added;
  } cases[] = {
      {true, "text/plain", first + "\n" + second + "\n", {first, second}},
      {false, "text/uri-list", second + "\r\n# a comment\r\n" + first + "\r\n", {second, first}},
      {false, "text/plain", "  " + first + " \n\nno link\n", {first}},
  };
  Songs().setFocus();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.data);
    auto data = std::make_unique<QMimeData>();
    data->setData(QString::fromLatin1(c.format), QByteArray::fromStdString(c.data));
    if (c.pasted) {
      QApplication::clipboard()->setMimeData(data.release());
      QTest::keyClick(&Songs(), Qt::Key_V, Qt::ControlModifier);
    } else {
      const QPoint at = Songs().mapTo(dialog_.get(), Songs().rect().center());
      QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(dialog_.get(), &enter);
      EXPECT_TRUE(enter.isAccepted());
      QDropEvent drop(at, Qt::CopyAction, data.get(), Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(dialog_.get(), &drop);
    }
    EXPECT_FALSE(Control(1)->isEnabled());
    ASSERT_TRUE(WaitForRuns());
    EXPECT_TRUE(Control(1)->isEnabled());
    std::vector<std::string> added;
    for (int r = 0; r < Songs().RowCount(); ++r) {
      added.push_back(Songs().Text(r, 4));
    }
    EXPECT_EQ(added, c.added);
    Click(1007);
  }
  EXPECT_EQ(Status(), Q("no link解析失败"));

  auto* url = Control<QLineEdit>(1000);
  url->setFocus();
  QTest::keyClick(url, Qt::Key_V, Qt::ControlModifier);
  EXPECT_TRUE(url->text().contains(QString::fromStdString(first)));
  EXPECT_EQ(dialog_->RunThreadCount(), 0u);
}

TEST(ShellUrlTest, WhatTheDesktopIsGiven) {
  const struct {
    std::string address;
    ShellAddress kind;
    const char* expected;  // nullptr: nothing is opened
  } cases[] = {
      {"\"http://h/a#1?%41.mp3\"", ShellAddress::kMedia, "http://h/a%231%3F%2541.mp3"},
      {"\"https://h/x?a=1&b=2\"", ShellAddress::kPage, "https://h/x?a=1&b=2"},
      {"\"http://h/open", ShellAddress::kPage, "http://h/open"},  // no closing quote: to the end
      {"song/1/", ShellAddress::kPage, nullptr},
      {"file:///etc/passwd", ShellAddress::kMedia, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    const std::optional<QUrl> url = ShellUrlFor(c.address, c.kind);
    EXPECT_EQ(url ? url->toEncoded() : QByteArray(), QByteArray(c.expected));
  }
}

}  // namespace
}  // namespace melo::ui::testing
