// The main window's playback controls, worked as a user works them, playing
// from the bundled site and from servers of the test's own.

#include <QAccessible>
#include <QLabel>
#include <QSettings>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <chrono>

#include "UiTestSupport.h"
#include "core/net/SongServer.h"
#include "playback/PlaybackTimes.h"

namespace melo::ui::testing {
namespace {

class PlaybackWindowTest : public PlayerFixture {
 protected:
  PlaybackWindowTest() { AddSongs(); }

  QString State() const { return Control<QLabel>(1015)->text(); }
  QString Elapsed() const { return Control<QLabel>(1013)->text(); }
  QSlider* Slider() const { return Control<QSlider>(1011); }

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

  // The checked items of the window's own menu.
  QStringList CheckedModes() {
    const std::unique_ptr<QMenu> menu(WindowMenu());
    QStringList checked;
    for (QAction* action : menu->actions()) {
      if (action->isCheckable() && action->isChecked()) {
        checked << action->text();
      }
    }
    return checked;
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
};

// Each action on the slider, however long it is held, seeks within the
// song the player has fetched: no new request for it; then the stop button.
TEST_F(PlaybackWindowTest, OneSeekPerUserActionThenStop) {
  net::testing::SongServer server({}, std::string(songs_[0].audio));
  Play(AddRow(songs_[0], '"' + server.Address() + '"'));
  ASSERT_TRUE(WaitForElapsed("0:01"));
  EXPECT_EQ(State(), Q("播放中"));
  EXPECT_EQ(Control<QLabel>(1012)->text().toStdString(), playback::TotalText(songs_[0].lengthMs));
  EXPECT_TRUE(Slider()->isEnabled());

  const std::pair<const char*, std::function<void()>> actions[] = {
      {"held drag",
       [&] {
         QTest::mousePress(Slider(), Qt::LeftButton, {}, ThumbCentre());
         QTest::mouseMove(Slider(), AtFraction(0.6));
         const int heldAt = Slider()->value();
         ASSERT_TRUE(WaitForTwoTicks());
         EXPECT_EQ(Slider()->value(), heldAt);  // the thumb stays while held
         // Before the seek the thumb stood far below the target: the first
         // value past it is the first position after the seek: within half a
         // second (33 of 1000 for a 15 s song) of the target.
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
       }},
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
    act();
    ASSERT_TRUE(WaitForTwoTicks()) << name;
    EXPECT_EQ(server.Requests().size(), 1u) << name;
    EXPECT_EQ(State(), Q("播放中")) << name;
  }

  Click(1014);
  const QString stoppedAt = Elapsed();
  Settle();  // late reports of the stopped worker would land here
  EXPECT_EQ(State(), Q("已停止"));
  EXPECT_EQ(Elapsed(), stoppedAt);
  EXPECT_FALSE(Control(1014)->isEnabled());
  EXPECT_FALSE(Slider()->isEnabled());
}

// Enter and a double-click on a row play that row, and not OK's page; what
// a screen reader reads of the state and the times is what they show.
TEST_F(PlaybackWindowTest, EnterAndDoubleClickPlayTheirRowForAllToRead) {
  ASSERT_TRUE(Activate(*dialog_));
  const auto readerName = [this](int id) { return ReaderText(Control(id)); };
  for (const auto& [way, act] : WaysToRunARow(Songs())) {
    for (const int row : {2, 0}) {
      SCOPED_TRACE(std::string(way) + " on row " + std::to_string(row));
      act(row);
      const QString total = QString::fromStdString(playback::TotalText(songs_[row].lengthMs));
      ASSERT_TRUE(WaitUntil([&] { return State() == Q("播放中") && !Elapsed().isEmpty(); }));
      EXPECT_EQ(Control<QLabel>(1012)->text(), total);
      EXPECT_EQ(readerName(1015), Q("播放中"));
      EXPECT_EQ(readerName(1012), total);
      EXPECT_EQ(readerName(1013), Elapsed());
    }
  }
  EXPECT_EQ(dialog_->RunThreadCount(), 0u);
  EXPECT_EQ(Songs().RowCount(), 3);
}

// A pause of two seconds holds the place: the polling goes on showing
// "已暂停", and the song goes on from where it stood. Space pauses wherever
// the focus is but in a text box, which takes its space. Closing while
// playing stops first (Esc and the close box both end in the same done();
// the download window case closes with the close box).
TEST_F(PlaybackWindowTest, PauseHoldsThePlaceForTwoSecondsAndClosingStops) {
  auto* pause = Control<QPushButton>(1026);
  const auto name = [&] { return pause->accessibleName(); };
  EXPECT_FALSE(pause->isEnabled());
  Play(0);
  ASSERT_TRUE(WaitForElapsed("0:01"));
  ASSERT_TRUE(WaitUntil([&] { return pause->isEnabled(); }));
  EXPECT_EQ(name(), Q("暂停"));

  QTest::keyClick(&Songs(), Qt::Key_Space);
  ASSERT_TRUE(WaitUntil([&] { return State() == Q("已暂停"); }));
  EXPECT_EQ(name(), Q("继续"));
  const int heldAt = Slider()->value();
  const QString elapsed = Elapsed();
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < until) {
    QTest::qWait(50);
    ASSERT_EQ(State(), Q("已暂停"));
    ASSERT_EQ(Slider()->value(), heldAt);
    ASSERT_EQ(Elapsed(), elapsed);
  }
  auto* url = Control<QLineEdit>(1000);
  url->setFocus();
  const QString typed = url->text() + ' ';
  QTest::keyClick(url, Qt::Key_Space);
  EXPECT_EQ(url->text(), typed);
  EXPECT_EQ(State(), Q("已暂停"));

  int resumedAt = 0;
  QObject watcher;
  QObject::connect(Slider(), &QSlider::valueChanged, &watcher,
                   [&](int value) { resumedAt = resumedAt == 0 ? value : resumedAt; });
  pause->click();
  ASSERT_TRUE(WaitUntil([&] { return resumedAt != 0; }));
  EXPECT_EQ(State(), Q("播放中"));
  EXPECT_EQ(name(), Q("暂停"));
  EXPECT_GE(resumedAt, heldAt);
  EXPECT_LE(resumedAt, heldAt + 67);  // within a second of a 15 s song

  // The media keys of a keyboard, with the window in front.
  const auto mediaKey = [&](Qt::Key key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(dialog_.get(), &press);
  };
  mediaKey(Qt::Key_MediaPause);
  ASSERT_TRUE(WaitUntil([&] { return State() == Q("已暂停"); }));
  mediaKey(Qt::Key_MediaTogglePlayPause);
  ASSERT_TRUE(WaitUntil([&] { return State() == Q("播放中"); }));

  QTest::keyClick(dialog_.get(), Qt::Key_Escape);
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_EQ(State(), Q("已停止"));
  dialog_.reset();  // pending reports of the worker must not reach a widget
  Settle();
}

// "顺序播放" from the window's menu: the next row starts by itself, and after
// the last row playback stops. The volume and the play mode outlive the
// window; a garbled file gives the defaults.
TEST_F(PlaybackWindowTest, SequentialPlaysToTheEndAndVolumeAndModeAreRemembered) {
  EXPECT_EQ(CheckedModes(), QStringList{Q("单曲")});
  dialog_->OnCommand(kSequentialModeCommand);
  EXPECT_EQ(CheckedModes(), QStringList{Q("顺序播放")});
  const auto& shortest = songs_[2];
  net::testing::SongServer server({}, std::string(shortest.audio));
  AddRow(shortest, '"' + server.Address() + '"');
  Play(2);
  ASSERT_TRUE(WaitUntil([&] { return !server.Requests().empty(); }));
  ASSERT_TRUE(WaitUntil([&] { return State() == Q("已停止"); }));
  EXPECT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(Elapsed().toStdString(), playback::ElapsedText(shortest.lengthMs));
  EXPECT_FALSE(Control(1014)->isEnabled());
  EXPECT_FALSE(Control(1026)->isEnabled());

  auto* volume = Control<QSlider>(1027);
  EXPECT_EQ(volume->accessibleName(), Q("音量"));
  EXPECT_EQ(volume->value(), 100);
  volume->setFocus();
  QTest::keyClick(volume, Qt::Key_PageDown);
  QTest::keyClick(volume, Qt::Key_Left);
  EXPECT_EQ(volume->value(), 89);
  dialog_->OnCommand(kShuffleModeCommand);
  dialog_.reset();
  {
    QSettings file(SettingsPath(), QSettings::IniFormat);
    EXPECT_NEAR(file.value("player/volume").toDouble(), 0.89 * 0.89 * 0.89, 1e-9);
    EXPECT_EQ(file.value("player/playMode").toString(), "shuffle");
  }
  OpenWindow();
  EXPECT_EQ(Control<QSlider>(1027)->value(), 89);
  EXPECT_EQ(CheckedModes(), QStringList{Q("随机播放")});
  dialog_.reset();

  {
    QSettings file(SettingsPath(), QSettings::IniFormat);
    file.setValue("player/volume", "loud");
    file.setValue("player/playMode", "sideways");
  }
  OpenWindow();
  EXPECT_EQ(Control<QSlider>(1027)->value(), 100);
  EXPECT_EQ(CheckedModes(), QStringList{Q("单曲")});
}

}  // namespace
}  // namespace melo::ui::testing
