// The download window: saving the song list, stop and retry, and a main
// window that closes while songs are still coming.

#include <QAccessible>
#include <QFileDialog>
#include <QTreeWidget>

#include "core/download/Id3Tags.h"
#include "core/download/SongFiles.h"
#include "ui/DownloadWindow.h"
#include "ui/Menus.h"
#include "ui/UiTestSupport.h"

namespace melo::ui::testing {
namespace {

using namespace download::testing;

class DownloadWindowTest : public DialogFixture {
 protected:
  DownloadWindowTest() { Window().SetFolder(QString::fromStdString(folder_.string())); }

  DownloadWindow& Window() const { return dialog_->Downloads(); }
  QStringList States() const { return DownloadStates(Window()); }
  bool WaitForDownloads() {
    const bool ended = WaitUntil([this] { return !Window().Busy(); });
    Settle();
    return ended;
  }

  const fs::path folder_ = CaseFolder("window_");
};

TEST_F(DownloadWindowTest, SaveAllSavesEverySongThenFindsThemThere) {
  dialog_->OnCommand(kChartCommand);
  ASSERT_TRUE(WaitForRuns());
  dialog_->OnCommand(kSaveAllSongsCommand);
  EXPECT_TRUE(Window().isVisible());
  EXPECT_FALSE(Window().isModal());
  EXPECT_EQ(Window().windowTitle(), Q("下载"));
  ASSERT_TRUE(WaitForDownloads());
  const int songs = Window().Rows().topLevelItemCount();
  ASSERT_GT(songs, 0);
  EXPECT_EQ(States(), QStringList(songs, Q("已完成")));

  dialog_->OnCommand(kSaveAllSongsCommand);
  ASSERT_TRUE(WaitForDownloads());
  EXPECT_EQ(States(), QStringList(songs, Q("已存在")));  // the same rows, not new ones
}

TEST_F(DownloadWindowTest, StopKeepsThePartRetryResumesAndClosingStopsEverything) {
  const std::string body = Mp3Body(60);
  const Serving stall{.breaks = Serving::Break::kStallHalfWay};
  SongServer server(stall, body);
  const auto song = [&](const char* name) {
    return scrape::SongRecord{Gbk("歌手"), name, "\"" + server.Address("/a.mp3") + "\"", "",
                              std::string("http://h/song/") + name + "/"};
  };
  dialog_->AppendSongRow(song("one"));
  dialog_->AppendSongRow(song("two"));
  Songs().SetSelectionMark(0);
  dialog_->OnCommand(kSaveSongCommand);
  const fs::path part = folder_ / "歌手 - one.mp3.part";
  const std::size_t half = download::kTagRoomBytes + body.size() / 2;
  ASSERT_TRUE(WaitUntil([&] { return SizeOf(part) == half; }));
  EXPECT_TRUE(WaitUntil([&] { return States() == QStringList{Q("下载中")}; }));

  ButtonShowing(Window(), "停止")->click();
  EXPECT_FALSE(Window().Busy());
  EXPECT_EQ(States(), QStringList{Q("失败:已停止")});
  EXPECT_EQ(SizeOf(part), half);

  server.Set({});
  Window().RetryFailed();
  ASSERT_TRUE(WaitForDownloads());
  EXPECT_EQ(States(), QStringList{Q("已完成")});
  EXPECT_TRUE(fs::exists(folder_ / "歌手 - one.mp3"));

  server.Set(stall);
  Songs().SetSelectionMark(1);
  dialog_->OnCommand(kSaveSongCommand);
  const fs::path secondPart = folder_ / "歌手 - two.mp3.part";
  ASSERT_TRUE(WaitUntil([&] { return SizeOf(secondPart) > 0; }));
  dialog_->close();
  EXPECT_FALSE(Window().Busy());
  Settle();  // whatever the worker posted before it ended finds no batch
  EXPECT_TRUE(fs::exists(secondPart));
  EXPECT_FALSE(fs::exists(folder_ / "歌手 - two.mp3"));
}

// A title cut short shows whole as its tooltip, in the song list and here,
// a whole one shows none; the folder is read by its path, what it is by its
// description and its caption.
TEST_F(DownloadWindowTest, CutTitlesShowWholeAndTheFolderIsReadByItsPath) {
  const QString title = Q("很长的歌名").repeated(30);
  const scrape::SongRecord song{Gbk("歌手"), text::Utf8ToGbk(title.toStdString()), "", "", ""};
  dialog_->AppendSongRow(song);
  ASSERT_TRUE(WaitUntil([&] { return Songs().model()->rowCount() == 1; }));
  EXPECT_EQ(ToolTipOf(Songs(), Songs().model()->index(0, 0)), QString());
  EXPECT_EQ(ToolTipOf(Songs(), Songs().model()->index(0, 1)), title);
  Window().Download({song});
  Window().show();
  ASSERT_TRUE(Activate(Window()));
  QTreeWidget& rows = Window().Rows();
  EXPECT_EQ(ToolTipOf(rows, rows.model()->index(0, 1)), title);
  ASSERT_TRUE(WaitForDownloads());

  auto* folder = Window().findChild<QLineEdit*>(QStringLiteral("DownloadFolder"));
  EXPECT_EQ(ReaderText(folder), QString::fromStdString(folder_.string()));
  EXPECT_EQ(ReaderText(folder, QAccessible::Description), Q("保存到"));
  EXPECT_EQ(CaptionsOf(folder), QStringList{Q("保存到:")});
}

// The list goes out as extended M3U8: texts decoded, addresses unquoted and
// encoded. The export's dialog says so when the list's addresses die with
// the program: the site is served in-process and a row is its.
TEST_F(DownloadWindowTest, ExportsTheListAndItsDialogSaysWhenTheAddressesDie) {
  const QString plain = Q("导出列表为 M3U8");
  const QString dying = Q("导出列表为 M3U8 (列表中的地址指向程序内置的演示站点,关闭程序后即失效)");
  const auto chooser = [this] { return dialog_->findChild<QFileDialog*>(); };
  const auto caption = [&](bool inProcess) {
    dialog_->SetSiteInProcess(inProcess);
    dialog_->OnCommand(kExportPlaylistCommand);
    if (chooser() == nullptr)
      return QString();
    const QString title = chooser()->windowTitle();
    chooser()->reject();
    Settle();
    return title;
  };
  dialog_->AppendSongRow({Gbk("歌手"), Gbk("歌 a"), Gbk("\"http://h/cache/2/歌 a.mp3\""), "", ""});
  dialog_->AppendSongRow({"S", "T", "\"http://h/t.mp3\"", "", ""});
  EXPECT_EQ(caption(true), plain);
  dialog_->AppendSongRow({"S", "U", "\"" + Base() + "cache/mp3/1/U.mp3\"", "", ""});
  EXPECT_EQ(caption(false), plain);  // --site: the site outlives the program
  EXPECT_EQ(caption(true), dying);
  EXPECT_EQ(chooser(), nullptr) << "a closed dialog is gone";

  dialog_->OnCommand(kExportPlaylistCommand);
  ASSERT_NE(chooser(), nullptr);
  const fs::path path = folder_ / "chosen.m3u8";
  chooser()->selectFile(QString::fromStdString(path.string()));
  static_cast<QDialog*>(chooser())->accept();  // QFileDialog hides its own
  EXPECT_EQ(ReadFile(path),
            "#EXTM3U\n#EXTINF:-1,歌手 - 歌 a\nhttp://h/cache/2/%B8%E8%20a.mp3\n"
            "#EXTINF:-1,S - T\nhttp://h/t.mp3\n#EXTINF:-1,S - U\n" +
                Base() + "cache/mp3/1/U.mp3\n");
}

}  // namespace
}  // namespace melo::ui::testing
