// The download window: saving the song list, stop and retry, and a main
// window that closes while songs are still coming.

#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QTreeWidget>
#include <atomic>
#include <filesystem>

#include "core/download/Id3Tags.h"
#include "core/net/RawServer.h"
#include "ui/DownloadWindow.h"
#include "ui/Menus.h"
#include "ui/UiTestSupport.h"

namespace melo::ui::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kStateColumn = 4;

class DownloadWindowTest : public DialogFixture {
 protected:
  DownloadWindowTest() {
    folder_ =
        fs::path(::testing::TempDir()) /
        ("window_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    dialog_->Downloads().SetFolder(QString::fromStdString(folder_.string()));
  }

  DownloadWindow& Window() const { return dialog_->Downloads(); }
  QStringList States() const {
    QStringList states;
    for (int r = 0; r < Window().Rows().topLevelItemCount(); ++r)
      states << Window().Rows().topLevelItem(r)->text(kStateColumn);
    return states;
  }
  bool AllStatesAre(const char* state) const {
    const QStringList states = States();
    return !states.isEmpty() && states.count(Q(state)) == states.size();
  }
  bool WaitForDownloads() {
    const bool ended = WaitUntil([this] { return !Window().Busy(); });
    Settle();
    return ended;
  }

  fs::path folder_;
};

TEST_F(DownloadWindowTest, SaveAllFillsTheFolderWithNamedSongsThenFindsThemThere) {
  dialog_->OnCommand(kChartCommand);
  ASSERT_TRUE(WaitForRuns());
  ASSERT_GT(Songs().RowCount(), 0);

  dialog_->OnCommand(kSaveAllSongsCommand);
  EXPECT_TRUE(Window().isVisible());
  EXPECT_FALSE(Window().isModal());
  EXPECT_EQ(Window().windowTitle(), Q("下载"));
  ASSERT_TRUE(WaitForDownloads());
  EXPECT_TRUE(AllStatesAre("已完成")) << States().join(',').toStdString();
  const int songs = Window().Rows().topLevelItemCount();
  int files = 0;
  for (const auto& entry : fs::directory_iterator(folder_)) {
    EXPECT_EQ(entry.path().extension(), ".mp3") << entry.path();
    ++files;
  }
  EXPECT_EQ(files, songs);
  const std::string first = text::GbkToUtf8(Songs().Text(0, 0) + " - " + Songs().Text(0, 1));
  EXPECT_TRUE(fs::exists(folder_ / (first + ".mp3"))) << first;

  dialog_->OnCommand(kSaveAllSongsCommand);  // the same rows again, not new ones
  ASSERT_TRUE(WaitForDownloads());
  EXPECT_EQ(Window().Rows().topLevelItemCount(), songs);
  EXPECT_TRUE(AllStatesAre("已存在")) << States().join(',').toStdString();
}

// MPEG frames enough for the tagger.
std::string Mp3Body() {
  std::string frame(417, '\0');
  frame.replace(0, 4, "\xFF\xFB\x90\x00", 4);
  std::string body;
  for (int i = 0; i < 60; ++i)
    body += frame;
  return body;
}

// Half the song, then silence while `hold` is set; ranges honoured after.
class HoldingServer {
 public:
  std::atomic<bool> hold{true};
  const std::string body = Mp3Body();

  std::string Address(const char* path) const { return server_.Address(path); }

 private:
  void Answer(int socket, const std::stop_token& stop) {
    using namespace net::testing;
    const std::string request = ReadRequest(socket, stop);
    const std::size_t range = request.find("Range: bytes=");
    const std::size_t from =
        range == std::string::npos ? 0 : std::stoul(request.substr(range + 13));
    const std::string head = "Content-Type: audio/mpeg\r\nConnection: close\r\n";
    if (hold) {
      SendAll(socket, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
                          head + "\r\n" + body.substr(0, body.size() / 2));
      ReadRequest(socket, stop);  // holds until the client or the server goes
      return;
    }
    SendAll(socket, Reply(body.substr(from), from == 0 ? "200 OK" : "206 Partial Content",
                          head + "Content-Range: bytes " + std::to_string(from) + "-" +
                              std::to_string(body.size() - 1) + "/" + std::to_string(body.size()) +
                              "\r\n"));
  }

  net::testing::RawServer server_{
      [this](int socket, std::stop_token stop) { Answer(socket, stop); }};
};

TEST_F(DownloadWindowTest, StopKeepsThePartRetryResumesAndClosingStopsEverything) {
  HoldingServer server;
  const auto song = [&](const char* name) {
    return scrape::SongRecord{Gbk("歌手"), name, "\"" + server.Address("/a.mp3") + "\"", "",
                              std::string("http://h/song/") + name + "/"};
  };
  dialog_->AppendSongRow(song("one"));
  dialog_->AppendSongRow(song("two"));
  Songs().SetSelectionMark(0);
  dialog_->OnCommand(kSaveSongCommand);
  const fs::path part = folder_ / "歌手 - one.mp3.part";
  const auto partBytes = [&] {
    std::error_code missing;
    const auto size = fs::file_size(part, missing);
    return missing ? 0 : size;
  };
  ASSERT_TRUE(
      WaitUntil([&] { return partBytes() == download::kTagRoomBytes + server.body.size() / 2; }));
  EXPECT_TRUE(WaitUntil([&] { return States() == QStringList{Q("下载中")}; }));

  for (QPushButton* button : Window().findChildren<QPushButton*>()) {
    if (button->text() == Q("停止"))
      button->click();
  }
  EXPECT_FALSE(Window().Busy());
  EXPECT_EQ(States(), QStringList{Q("失败:已停止")});
  EXPECT_EQ(partBytes(), download::kTagRoomBytes + server.body.size() / 2);

  server.hold = false;
  Window().RetryFailed();
  ASSERT_TRUE(WaitForDownloads());
  EXPECT_EQ(States(), QStringList{Q("已完成")});
  EXPECT_TRUE(fs::exists(folder_ / "歌手 - one.mp3"));
  EXPECT_FALSE(fs::exists(part));

  server.hold = true;
  Songs().SetSelectionMark(1);
  dialog_->OnCommand(kSaveSongCommand);
  const fs::path secondPart = folder_ / "歌手 - two.mp3.part";
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(secondPart) && fs::file_size(secondPart) > 0; }));
  dialog_->close();
  EXPECT_FALSE(Window().Busy());
  Settle();  // whatever the worker posted before it ended finds no batch
  EXPECT_TRUE(fs::exists(secondPart));
  EXPECT_FALSE(fs::exists(folder_ / "歌手 - two.mp3"));
}

TEST_F(DownloadWindowTest, ExportsTheSongListAsExtendedM3u8) {
  dialog_->AppendSongRow({Gbk("歌手"), Gbk("歌 a"), Gbk("\"http://h/cache/2/歌 a.mp3\""), "", ""});
  dialog_->AppendSongRow({"S", "T", "\"http://h/t.mp3\"", "", ""});
  const QString path = QString::fromStdString((folder_ / "list.m3u8").string());
  ASSERT_TRUE(dialog_->ExportPlaylist(path));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll().toStdString(),
            "#EXTM3U\n#EXTINF:-1,歌手 - 歌 a\nhttp://h/cache/2/%B8%E8%20a.mp3\n"
            "#EXTINF:-1,S - T\nhttp://h/t.mp3\n");
}

}  // namespace
}  // namespace melo::ui::testing
