// The main window's playback controls, worked as a user works them, playing
// from the bundled site and from servers of the test's own.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWheelEvent>
#include <algorithm>
#include <memory>

#include "Printers.h"
#include "core/site/Site.h"
#include "core/text/Gbk.h"
#include "playback/PlaybackTimes.h"
#include "playback/SongServer.h"
#include "site/BundledSite.h"
#include "site/Catalogue.h"
#include "ui/MainDialog.h"
#include "ui/Menus.h"
#include "ui/RecordListView.h"

namespace melo::ui {
namespace {

using playback::testing::Serving;
using playback::testing::SongServer;

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
    AddRow("\"http://" + site_.Host() + "/cache/mp3/" + song_.id + "/" +
           text::Utf8ToGbk(song_.title) + ".mp3\"");
  }
  void AddRow(const std::string& link) {
    dialog_->AppendSongRow(
        {text::Utf8ToGbk(song_.singer), text::Utf8ToGbk(song_.title), link, "", ""});
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
  // Until the elapsed time has moved on twice: the worker has run its
  // cycles, so a seek asked for before has been carried out.
  bool WaitForTwoTicks() {
    for (int tick = 0; tick < 2; ++tick) {
      const QString from = Elapsed();
      if (!WaitUntil([&] { return Elapsed() != from; })) {
        return false;
      }
    }
    return true;
  }

  QPoint ThumbCentre() const {
    QStyleOptionSlider option;
    option.initFrom(Slider());
    option.orientation = Slider()->orientation();
    option.minimum = Slider()->minimum();
    option.maximum = Slider()->maximum();
    option.sliderPosition = Slider()->sliderPosition();
    option.sliderValue = Slider()->value();
    return Slider()
        ->style()
        ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, Slider())
        .center();
  }
  QPoint AtFraction(double fraction) const {
    return {static_cast<int>(Slider()->width() * fraction), Slider()->height() / 2};
  }
  void Drag(double toFraction) {
    QTest::mousePress(Slider(), Qt::LeftButton, {}, ThumbCentre());
    QTest::mouseMove(Slider(), AtFraction((toFraction + 0.1) / 2));
    QTest::mouseMove(Slider(), AtFraction(toFraction));
    QTest::mouseRelease(Slider(), Qt::LeftButton, {}, AtFraction(toFraction));
  }
  void SendKey(QEvent::Type type, Qt::Key key, bool autoRepeat) {
    QKeyEvent event(type, key, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(Slider(), &event);
  }
  void Wheel(int steps) {
    const QPointF at = ThumbCentre();
    QWheelEvent event(at, Slider()->mapToGlobal(at), {}, {0, 120 * steps}, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Slider(), &event);
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

  QTest::mousePress(Slider(), Qt::LeftButton, {}, ThumbCentre());
  QTest::mouseMove(Slider(), AtFraction(0.6));
  const int heldAt = Slider()->value();
  ASSERT_TRUE(WaitForTwoTicks());
  EXPECT_EQ(Slider()->value(), heldAt);  // the thumb stays while held

  // Before the seek the thumb stood far below the target: the first value
  // past it is the first position after the seek: within half a second (33
  // of 1000 for a 15 s song) of the target.
  int landed = 0;
  QObject watcher;
  QObject::connect(Slider(), &QSlider::valueChanged, &watcher, [&](int value) {
    if (landed == 0 && value >= heldAt - 50) {
      landed = value;
    }
  });
  QTest::mouseRelease(Slider(), Qt::LeftButton, {}, AtFraction(0.6));
  ASSERT_TRUE(WaitUntil([&] { return landed != 0; }));
  EXPECT_NEAR(landed, heldAt, 33);

  Control<QPushButton>(1014)->click();
  const QString stoppedAt = Elapsed();
  Settle();  // late reports of the stopped worker would land here
  EXPECT_EQ(State(), Q("已停止"));
  EXPECT_EQ(Elapsed(), stoppedAt);
  EXPECT_FALSE(StopEnabled());
  EXPECT_FALSE(Slider()->isEnabled());
}

// Each action on the slider, however long it is held, asks for one seek
// and so one new request for the song.
TEST_F(PlaybackWindowTest, OneSeekPerUserAction) {
  SongServer server({.file = "audio/tide.mp3"});
  AddRow('"' + server.SongAddress() + '"');
  Play(1);
  ASSERT_TRUE(WaitForElapsed("0:01"));

  const std::pair<const char*, std::function<void()>> actions[] = {
      {"drag", [&] { Drag(0.5); }},
      {"held press on the groove",
       [&] {
         QTest::mousePress(Slider(), Qt::LeftButton, {}, AtFraction(0.1));
         ASSERT_TRUE(WaitForTwoTicks());  // its page steps repeat meanwhile
         QTest::mouseRelease(Slider(), Qt::LeftButton, {}, AtFraction(0.1));
       }},
      {"arrow key", [&] { QTest::keyClick(Slider(), Qt::Key_Left); }},
      {"held arrow key",
       [&] {
         SendKey(QEvent::KeyPress, Qt::Key_Left, false);
         for (int repeat = 0; repeat < 3; ++repeat) {
           SendKey(QEvent::KeyRelease, Qt::Key_Left, true);
           SendKey(QEvent::KeyPress, Qt::Key_Left, true);
         }
         SendKey(QEvent::KeyRelease, Qt::Key_Left, false);
       }},
      {"wheel step", [&] { Wheel(-1); }},
  };
  for (const auto& [name, act] : actions) {
    const int before = server.SongRequests();
    act();
    ASSERT_TRUE(WaitUntil([&] { return server.SongRequests() > before; })) << name;
    ASSERT_TRUE(WaitForTwoTicks()) << name;
    EXPECT_EQ(server.SongRequests(), before + 1) << name;
    EXPECT_EQ(State(), Q("播放中")) << name;
  }
}

// A plain server without Range: the song plays to its end with its total
// and a moving slider, a seek is dropped; one that breaks off shows it.
TEST_F(PlaybackWindowTest, ServerWithoutRange) {
  SongServer plain({.ranges = false});
  SongServer breaking({.ranges = false, .breaks = Serving::Break::kDropHalfWay});
  AddRow('"' + plain.SongAddress() + '"');
  AddRow('"' + breaking.SongAddress() + '"');

  Play(1);
  ASSERT_TRUE(WaitUntil([&] { return Slider()->value() > 1; }));
  EXPECT_EQ(Total().toStdString(), playback::TotalText(playback::testing::kSongLengthMs));
  Drag(0.1);
  const std::string end = playback::ElapsedText(playback::testing::kSongLengthMs);
  ASSERT_TRUE(WaitUntil([&] { return Elapsed().toStdString() == end; }));
  EXPECT_EQ(plain.SongRequests(), 1);
  EXPECT_EQ(State(), Q("播放中"));
  EXPECT_TRUE(Slider()->isEnabled());

  Play(2);
  ASSERT_TRUE(WaitUntil([&] { return Slider()->value() > 1; }));
  breaking.LetBreak();
  ASSERT_TRUE(WaitUntil([&] { return State() == Q("已停止"); }));
  EXPECT_FALSE(Slider()->isEnabled());
  EXPECT_FALSE(StopEnabled());
  EXPECT_FALSE(Elapsed().isEmpty());
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
