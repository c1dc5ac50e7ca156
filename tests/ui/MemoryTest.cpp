// What the window keeps across runs: the song list, the download queue and
// the user's choices, and what it does when it cannot keep them.

#include <QCheckBox>
#include <QMessageBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <fstream>

#include "core/download/Id3Tags.h"
#include "core/download/SongFiles.h"
#include "core/store/ListStore.h"
#include "ui/AppSettings.h"
#include "ui/DownloadWindow.h"
#include "ui/SettingsDialog.h"
#include "ui/UiTestSupport.h"

namespace melo::ui::testing {
namespace {

using namespace download::testing;
using Memory = CMainDialog::Memory;

scrape::SongRecord Song(int n, const std::string& address = "\"http://127.0.0.1:9/a.mp3\"") {
  return {Gbk("歌手") + std::to_string(n), Gbk("歌") + std::to_string(n), address,
          "http://h/singer/" + std::to_string(n), "http://h/song/" + std::to_string(n) + "/"};
}

std::vector<scrape::SongRecord> Rows(const RecordListView& list) {
  std::vector<scrape::SongRecord> rows;
  for (int r = 0; r < list.RowCount(); ++r) {
    rows.push_back(
        {list.Text(r, 0), list.Text(r, 1), list.Text(r, 2), list.Text(r, 3), list.Text(r, 4)});
  }
  return rows;
}

class MemoryTest : public DialogFixture {
 protected:
  MemoryTest() {
    dialog_.reset();  // the fixture's window keeps nothing; these do
    std::filesystem::remove_all(store::DefaultStorePath().parent_path());
    QFile::remove(SettingsFilePath());
  }
  std::unique_ptr<CMainDialog> Remembering() const {
    return std::make_unique<CMainDialog>(nullptr, Memory::kRemember);
  }
  static QMessageBox* StoreMessage(CMainDialog& window) {
    Settle();
    return window.findChild<QMessageBox*>(QStringLiteral("StoreMessage"));
  }
};

TEST_F(MemoryTest, TheListComesBackAsLeftWithDeletesAndClearsKept) {
  std::vector<scrape::SongRecord> expected;
  {
    auto window = Remembering();
    for (int n = 0; n < 300; ++n) {
      window->AppendSongRow(Song(n));
      expected.push_back(Song(n));
    }
    window->SongList().SetSelectionMark(0);
    window->OnCommand(kDeleteSongCommand);
    expected.erase(expected.begin());
    window->reject();
  }
  {
    auto window = Remembering();
    // Before the window ever shows, the rows and their count are there.
    EXPECT_EQ(window->Control<QLineEdit>(1009)->text(), Q("299"));
    EXPECT_EQ(window->SongList().model()->rowCount(), 299);
    EXPECT_EQ(Rows(window->SongList()), expected);
    EXPECT_EQ(StoreMessage(*window), nullptr);
    window->OnCommand(1007);  // 清空列表
    window->AppendSongRow(Song(7));
  }  // gone without done(): what was handed over is written all the same
  EXPECT_EQ(Rows(Remembering()->SongList()), std::vector{Song(7)});
}

TEST_F(MemoryTest, ChoicesComeBackAndTheListGoesAtExitWhenAsked) {
  const QString folder = QString::fromStdString(CaseFolder("memory_").string());
  {
    auto window = Remembering();
    window->AppendSongRow(Song(1));
    window->Control<QRadioButton>(1023)->setChecked(true);
    window->OnCommand(kSearchPanelCommand);
    window->OnCommand(kSettingsCommand);
    auto* settings = window->findChild<SettingsDialog*>();
    ASSERT_NE(settings, nullptr);
    settings->findChild<QLineEdit*>(QStringLiteral("SettingsFolder"))->setText(folder);
    settings->findChild<QSpinBox*>(QStringLiteral("SettingsJobs"))->setValue(2);
    settings->findChild<QCheckBox*>(QStringLiteral("SettingsClearOnExit"))->setChecked(true);
    settings->accept();
    EXPECT_EQ(window->Downloads().Folder(), folder);
    window->move(40, 50);
    window->reject();
  }
  auto window = Remembering();
  EXPECT_EQ(window->Downloads().Folder(), folder);
  EXPECT_TRUE(window->Control<QRadioButton>(1023)->isChecked());
  EXPECT_EQ(window->width(), kWideClientWidth);
  EXPECT_EQ(window->SongList().RowCount(), 0);
  const AppSettings saved = LoadAppSettings();
  EXPECT_EQ(saved.downloads.jobs, 2);
  EXPECT_EQ(saved.downloads.maxFileSize, qint64(1) << 30);
  EXPECT_EQ(saved.windowPosition, QPoint(40, 50));
}

// A lone row reaches the file while its window stays open; a second window
// shows the list but keeps nothing of it.
TEST_F(MemoryTest, ALoneRowIsKeptAtOnceAndASecondWindowKeepsNothing) {
  auto first = Remembering();
  first->AppendSongRow(Song(1));  // and no row after it
  const auto saved = [] {
    std::vector<scrape::SongRecord> songs;
    store::ReadSavedSongs(store::DefaultStorePath(),
                          [&](scrape::SongRecord&& song) { songs.push_back(std::move(song)); });
    return songs;
  };
  EXPECT_TRUE(WaitUntil([&] { return saved() == std::vector{Song(1)}; }));
  auto second = Remembering();
  QMessageBox* message = StoreMessage(*second);
  ASSERT_NE(message, nullptr);
  EXPECT_TRUE(message->text().contains(Q("另一个窗口")));
  second->AppendSongRow(Song(2));
  second.reset();
  first.reset();
  EXPECT_EQ(Rows(Remembering()->SongList()), std::vector{Song(1)});
}

TEST_F(MemoryTest, AGarbageFileIsMovedAsideWithAMessageAndTheWindowStartsEmpty) {
  const std::filesystem::path file = store::DefaultStorePath();
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << std::string(4096, 'g');
  auto window = Remembering();
  EXPECT_EQ(window->SongList().RowCount(), 0);
  QMessageBox* message = StoreMessage(*window);
  ASSERT_NE(message, nullptr);
  std::vector<std::filesystem::path> aside;
  for (const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
    if (entry.path().filename().string().find(".broken-") != std::string::npos)
      aside.push_back(entry.path());
  }
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_TRUE(message->text().contains(QString::fromStdString(aside[0].string())));
  window->AppendSongRow(Song(1));
  window.reset();
  EXPECT_EQ(Rows(Remembering()->SongList()), std::vector{Song(1)});
}

TEST_F(MemoryTest, AHalfDoneQueueComesBackStoppedAndContinues) {
  const std::string body = Mp3Body(60);
  SongServer server(Serving{.breaks = Serving::Break::kStallHalfWay}, body);
  const fs::path folder = CaseFolder("queue_");
  const scrape::SongRecord song = Song(1, "\"" + server.Address("/a.mp3") + "\"");
  const fs::path part =
      folder / (text::GbkToUtf8(song.singer) + " - " + text::GbkToUtf8(song.title) + ".mp3.part");
  const std::size_t half = download::kTagRoomBytes + body.size() / 2;
  {
    auto window = Remembering();
    window->Downloads().SetFolder(QString::fromStdString(folder.string()));
    window->Downloads().Download({song});
    ASSERT_TRUE(WaitUntil([&] { return SizeOf(part) == half; }));
    window->reject();
  }
  {
    auto window = Remembering();
    DownloadWindow& downloads = window->Downloads();
    ASSERT_EQ(DownloadStates(downloads), QStringList{Q("已停止")});
    // The server went quiet before any progress told the song's size.
    EXPECT_EQ(downloads.Rows().topLevelItem(0)->text(3),
              Q("已下载 ") + QString::number(static_cast<double>(body.size() / 2) / 1024, 'f', 1) +
                  Q(" KB"));
    ButtonShowing(downloads, "继续")->click();
    EXPECT_TRUE(WaitUntil([&] { return DownloadStates(downloads) == QStringList{Q("下载中")}; }));
    EXPECT_TRUE(downloads.Busy());
    window->reject();
  }
}

TEST_F(MemoryTest, FinishedDownloadsStayUntilCleared) {
  {
    store::OpenedStore opened =
        store::OpenListStore(store::DefaultStorePath(), [](scrape::SongRecord&&) {});
    opened.store->PutDownload({4, Song(4), "/nowhere", true, 100});
    opened.store->PutDownload({5, Song(5), "/nowhere", false, 100});
  }
  {
    auto window = Remembering();
    DownloadWindow& downloads = window->Downloads();
    EXPECT_EQ(DownloadStates(downloads), (QStringList{Q("已完成"), Q("已停止")}));
    ButtonShowing(downloads, "清除已完成")->click();
    EXPECT_EQ(DownloadStates(downloads), QStringList{Q("已停止")});
  }
  auto window = Remembering();
  EXPECT_EQ(DownloadStates(window->Downloads()), QStringList{Q("已停止")});
}

}  // namespace
}  // namespace melo::ui::testing
