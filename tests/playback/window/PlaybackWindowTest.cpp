// The main window's playback controls, playing the bundled site's MP3s.

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <algorithm>
#include <memory>

#include "Printers.h"
#include "core/site/Site.h"
#include "core/text/Gbk.h"
#include "playback/PlaybackTimes.h"
#include "site/BundledSite.h"
#include "site/Catalogue.h"
#include "ui/MainDialog.h"
#include "ui/Menus.h"
#include "ui/RecordListView.h"

namespace melo::ui {
namespace {

// Processes events until `done` holds; the bound only guards a hang.
bool WaitUntil(const std::function<bool()>& done) {
  return QTest::qWaitFor(done, 20'000);
}

// Delivers every report posted so far. A stop waits for its worker or gates
// it off, so nothing a stopped worker sends can come later than these.
void Settle() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

QString Q(const char* utf8) {
  return QString::fromUtf8(utf8);
}

class PlaybackWindowTest : public ::testing::Test {
 protected:
  PlaybackWindowTest() {
    site::SetSiteHost(site_.Host());
    OpenWindow();
  }

  // The longest song, so that it plays on through each test.
  void OpenWindow() {
    dialog_ = std::make_unique<CMainDialog>();
    dialog_->show();
    dialog_->AppendSongRow({text::Utf8ToGbk(song_.singer), text::Utf8ToGbk(song_.title),
                            "\"http://" + site_.Host() + "/cache/mp3/" + song_.id + "/" +
                                text::Utf8ToGbk(song_.title) + ".mp3\"",
                            "", ""});
  }

  template <class W = QWidget>
  W* Control(int id) const {
    return dialog_->Control<W>(id);
  }
  QString State() const { return Control<QLabel>(1015)->text(); }
  QString Total() const { return Control<QLabel>(1012)->text(); }
  QString Elapsed() const { return Control<QLabel>(1013)->text(); }
  QSlider* Slider() const { return Control<QSlider>(1011); }
  bool StopEnabled() const { return Control<QPushButton>(1014)->isEnabled(); }

  void Play(int row) {
    dialog_->SongList().SetSelectionMark(row);
    dialog_->OnCommand(kPlaySongCommand);
  }
  bool WaitForElapsed(const char* text) {
    return WaitUntil([&] { return Elapsed() == Q(text); });
  }

  bundled::BundledSite site_;
  const bundled::CatalogueSong& song_ = *std::ranges::max_element(
      bundled::DemoCatalogue().Songs(), {}, &bundled::CatalogueSong::lengthMs);
  std::unique_ptr<CMainDialog> dialog_;
};

TEST_F(PlaybackWindowTest, PlayDragReleaseAndStop) {
  Play(0);
  ASSERT_TRUE(WaitForElapsed("0:01"));
  EXPECT_EQ(State(), Q("播放中"));
  EXPECT_EQ(Total().toStdString(), playback::TotalText(song_.lengthMs));
  EXPECT_TRUE(Slider()->isEnabled());

  Slider()->setSliderDown(true);
  Slider()->setSliderPosition(600);
  ASSERT_TRUE(WaitForElapsed("0:03"));
  EXPECT_EQ(Slider()->value(), 600);  // the thumb stays while dragged

  Slider()->setSliderDown(false);
  // Before the seek the thumb stood far below 550: the first value past it
  // is the first position after the seek: within half a second (33 of 1000
  // for a 15 s song) of the target.
  int landed = 0;
  QObject watcher;
  QObject::connect(Slider(), &QSlider::valueChanged, &watcher, [&](int value) {
    if (landed == 0 && value >= 550) {
      landed = value;
    }
  });
  ASSERT_TRUE(WaitUntil([&] { return landed != 0; }));
  EXPECT_NEAR(landed, 600, 33);

  Control<QPushButton>(1014)->click();
  const QString stoppedAt = Elapsed();
  Settle();  // late reports of the stopped worker would land here
  EXPECT_EQ(State(), Q("已停止"));
  EXPECT_EQ(Elapsed(), stoppedAt);
  EXPECT_FALSE(StopEnabled());
  EXPECT_FALSE(Slider()->isEnabled());
}

TEST_F(PlaybackWindowTest, ClosingWhilePlayingStopsFirst) {
  for (const bool escape : {false, true}) {
    Play(0);
    ASSERT_TRUE(WaitForElapsed("0:01"));
    escape ? QTest::keyClick(dialog_.get(), Qt::Key_Escape) : static_cast<void>(dialog_->close());
    EXPECT_FALSE(dialog_->isVisible()) << escape;
    EXPECT_EQ(State(), Q("已停止")) << escape;
    dialog_.reset();  // pending reports of the worker must not reach a widget
    Settle();
    OpenWindow();
  }
}

}  // namespace
}  // namespace melo::ui
