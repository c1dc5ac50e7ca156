// The song list's menu and row commands, and the desktop hand-off.

#include <QMenu>

#include "UiTestSupport.h"
#include "ui/AboutDialog.h"
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

class RowCommandsTest : public DialogFixture {
 protected:
  void FillRows(int count) {
    for (int n = 0; n < count; ++n) {
      dialog_->AppendSongRow(Row(n));
    }
  }
  QMenu* OpenMenu() const { return dialog_->findChild<QMenu*>(QStringLiteral("133")); }
  void RightClickSongList() {
    emit Songs().customContextMenuRequested(QPoint(5, Songs().viewport()->height() - 5));
  }

  UrlRecorder urls_;
};

TEST_F(RowCommandsTest, SongMenuNeedsASelectionMark) {
  FillRows(3);
  RightClickSongList();
  EXPECT_EQ(OpenMenu(), nullptr);

  Songs().SetSelectionMark(1);
  RightClickSongList();  // below the rows: the mark still counts
  QMenu* menu = OpenMenu();
  ASSERT_NE(menu, nullptr);
  QStringList texts;
  for (QAction* action : menu->actions()) {
    texts << action->text();
  }
  EXPECT_EQ(texts, QStringList({Q("下载此歌曲"), Q("播放此歌曲"), Q("获取该歌手所有歌曲"),
                                Q("打开歌曲链接"), Q("删除")}));
  menu->close();
}

TEST_F(RowCommandsTest, DownloadAndOpenHandTheMarkedRowToTheDesktop) {
  FillRows(3);
  Songs().SetSelectionMark(2);
  dialog_->OnCommand(kDownloadSongCommand);
  dialog_->OnCommand(kOpenSongLinkCommand);
  ASSERT_EQ(urls_.opened.size(), 2u);
  // Unquoted, the GBK title and the space percent-encoded.
  EXPECT_EQ(urls_.opened[0], QByteArray("http://h/cache/2/%B8%E8%20a.mp3"));
  EXPECT_EQ(urls_.opened[1], QByteArray("http://h/song/2/"));
}

TEST_F(RowCommandsTest, MenuItemRunsItsCommand) {
  FillRows(2);
  Songs().SetSelectionMark(0);
  RightClickSongList();
  QMenu* menu = OpenMenu();
  ASSERT_NE(menu, nullptr);
  menu->findChild<QAction*>(QString::number(kDeleteSongCommand))->trigger();
  ASSERT_EQ(Songs().RowCount(), 1);
  EXPECT_EQ(Songs().Text(0, 4), Row(1).songLink);
}

TEST_F(RowCommandsTest, DeleteMovesTheRowsBelowUp) {
  FillRows(3);
  Songs().SetSelectionMark(0);
  dialog_->OnCommand(kDeleteSongCommand);
  ASSERT_EQ(Songs().RowCount(), 2);
  EXPECT_EQ(Songs().Text(0, 4), Row(1).songLink);
  EXPECT_EQ(Songs().Text(1, 4), Row(2).songLink);
  EXPECT_TRUE(WaitUntil([this] { return Control<QLineEdit>(1009)->text() == Q("2"); }));
  // The selection moves on to the row that took the deleted one's place, and
  // the mark names the row the user now sees selected.
  ASSERT_EQ(Songs().selectedItems().size(), 1);
  EXPECT_EQ(Songs().SelectionMark(), Songs().indexOfTopLevelItem(Songs().selectedItems()[0]));
}

TEST_F(RowCommandsTest, DeletingWithoutAMarkOrPastTheEndDoesNothing) {
  FillRows(2);
  dialog_->OnCommand(kDeleteSongCommand);
  Songs().DeleteRow(2);
  Songs().DeleteRow(-1);
  EXPECT_EQ(Songs().RowCount(), 2);
  Songs().SetSelectionMark(1);
  Click(1007);
  EXPECT_EQ(Songs().SelectionMark(), -1);
}

TEST_F(RowCommandsTest, MarkFollowsItsRowWhenRowsAboveGo) {
  FillRows(3);
  Songs().SetSelectionMark(2);
  Songs().DeleteRow(0);
  EXPECT_EQ(Songs().SelectionMark(), 1);
}

TEST_F(RowCommandsTest, ClearEmptiesTheSongListOnly) {
  FillRows(3);
  dialog_->AppendSingerRow({Gbk("歌手"), "http://h/singer/1/"});
  Click(1007);
  EXPECT_EQ(Songs().RowCount(), 0);
  EXPECT_EQ(Singers().RowCount(), 1);
  Click(1007);  // empty already
  EXPECT_EQ(Songs().RowCount(), 0);
  EXPECT_TRUE(WaitUntil([this] { return Control<QLineEdit>(1009)->text() == Q("0"); }));
}

TEST(ShellUrlTest, WhatTheDesktopIsGiven) {
  struct Case {
    std::string address;
    const char* expected;  // nullptr: nothing is opened
  };
  const Case cases[] = {
      {"\"http://h/a b.mp3\"", "http://h/a%20b.mp3"},
      {"http://h/song/1/", "http://h/song/1/"},
      {"\"https://h/x?a=1&b=2\"", "https://h/x?a=1&b=2"},
      {"\"http://h/" + text::Utf8ToGbk("歌") + ".mp3\"", "http://h/%B8%E8.mp3"},
      {"\"http://h/open", "http://h/open"},  // no closing quote: taken to the end
      {"", nullptr},
      {"\"\"", nullptr},
      {"song/1/", nullptr},
      {"file:///etc/passwd", nullptr},
      {"ftp://h/a.mp3", nullptr},
      {"javascript:alert(1)", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    const std::optional<QUrl> url = ShellUrlFor(c.address);
    if (c.expected == nullptr) {
      EXPECT_FALSE(url.has_value());
    } else {
      ASSERT_TRUE(url.has_value());
      EXPECT_EQ(url->toEncoded(), QByteArray(c.expected));
    }
  }
}

TEST_F(RowCommandsTest, WindowMenuOpensTheAboutBox) {
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(300, 60),
                          dialog_->mapToGlobal(QPoint(300, 60)));
  QCoreApplication::sendEvent(dialog_.get(), &event);
  auto* menu = dialog_->findChild<QMenu*>(QStringLiteral("101"));
  ASSERT_NE(menu, nullptr);
  const QList<QAction*> actions = menu->actions();
  ASSERT_EQ(actions.size(), 2);
  EXPECT_TRUE(actions[0]->isSeparator());
  EXPECT_EQ(actions[1]->text(), Q("关于 melodriftDown(&A)..."));
  actions[1]->trigger();
  EXPECT_NE(dialog_->findChild<CAboutDialog*>(), nullptr);
}

}  // namespace
}  // namespace melo::ui::testing
