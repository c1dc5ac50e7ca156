// The desktop's media controls over a private session bus of the test's own:
// the Player properties through a song's life and what each method does,
// offscreen, with the fake audio sink, against the bundled site.

#include <QLabel>
#include <QSlider>
#include <QtDBus>

#include "ui/UiTestSupport.h"
#include "ui/mpris/MprisService.h"

namespace melo::ui::testing {
namespace {

const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr qlonglong kUs = 1000;

QVariantMap AsMap(const QVariant& value) {
  return value.canConvert<QDBusArgument>() ? qdbus_cast<QVariantMap>(value.value<QDBusArgument>())
                                           : value.toMap();
}

// A QObject to hear each PropertiesChanged of the Player interface; on the
// session bus of this program alone, which ctest starts it in, never the
// desktop's own bus, where a real player may hold the name.
class MprisTest : public QObject, public PlayerFixture {
  Q_OBJECT

 protected slots:
  void Changed(const QString& interface, const QVariantMap& changed, const QStringList&) {
    if (interface == kPlayer) {
      changes_.push_back(changed);
    }
  }

 protected:
  void SetUp() override {
    if (!bus_.isConnected()) {
      GTEST_SKIP() << "no private session bus (dbus-run-session)";
    }
    bus_.connect(MprisService::kServiceName, MprisService::kObjectPath, kProperties,
                 QStringLiteral("PropertiesChanged"), this,
                 SLOT(Changed(QString, QVariantMap, QStringList)));
    // Offered once the window has been drawn, not before.
    ASSERT_TRUE(WaitUntil([this] {
      return bus_.interface()->isServiceRegistered(MprisService::kServiceName).value();
    }));
    AddSongs();  // heard: the window came before its rows
  }
  void TearDown() override {
    dialog_.reset();
    QDBusConnection::disconnectFromBus(bus_.name());
  }

  // A call through the bus, answered by the window on this very thread.
  QDBusMessage Call(const QString& method, const QVariantList& arguments = {},
                    const QString& interface = kPlayer) {
    auto message = QDBusMessage::createMethodCall(MprisService::kServiceName,
                                                  MprisService::kObjectPath, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = bus_.asyncCall(message);
    EXPECT_TRUE(WaitUntil([&] { return pending.isFinished(); })) << method.toStdString();
    return pending.reply();
  }
  QVariantMap Properties(const QString& interface = kPlayer) {
    const QDBusMessage reply = Call(QStringLiteral("GetAll"), {interface}, kProperties);
    return reply.arguments().isEmpty() ? QVariantMap{} : AsMap(reply.arguments().front());
  }
  QVariant Property(const QString& name) { return Properties().value(name); }
  void SetProperty(const char* name, const QVariant& value) {
    Call(QStringLiteral("Set"),
         {kPlayer, QString::fromLatin1(name), QVariant::fromValue(QDBusVariant(value))},
         kProperties);
  }
  QVariant Metadata(const QString& key) { return AsMap(Property("Metadata")).value(key); }
  QString PlayerStatus() { return Property("PlaybackStatus").toString(); }
  QString Title() { return Metadata("xesam:title").toString(); }
  qlonglong Position() { return Property("Position").toLongLong(); }
  QString TrackId() { return Metadata("mpris:trackid").value<QDBusObjectPath>().path(); }
  QString TitleOf(int row) const { return QString::fromStdString(songs_[row].title); }

  // Plays `row` as its menu item does and waits until it plays.
  void PlayRow(int row) {
    Play(row);
    ASSERT_TRUE(WaitUntil([&] { return PlayerStatus() == "Playing" && Title() == TitleOf(row); }));
  }
  // The announced values of `property`, in order.
  std::vector<QVariant> Announced(const QString& property) const {
    std::vector<QVariant> values;
    for (const auto& change : changes_) {
      if (change.contains(property)) {
        values.push_back(change.value(property));
      }
    }
    return values;
  }

  QDBusConnection bus_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "mpris-test");
  std::vector<QVariantMap> changes_;
};

TEST_F(MprisTest, PropertiesThroughASongsLife) {
  const QVariantMap root = Properties(QStringLiteral("org.mpris.MediaPlayer2"));
  EXPECT_EQ(root.value("Identity").toString(), "MeloDriftDown");
  EXPECT_EQ(root.value("DesktopEntry").toString(), "io.github.melodriftdown.MeloDriftDown");

  // The rows came after the window: play, next and previous became possible.
  ASSERT_TRUE(WaitUntil([&] { return !Announced("CanGoNext").empty(); }));
  EXPECT_TRUE(Announced("CanGoNext").front().toBool());
  const QVariantMap before = Properties();
  EXPECT_EQ(TrackId(), "/org/mpris/MediaPlayer2/TrackList/NoTrack");
  QStringList shown;
  for (const char* name : {"PlaybackStatus", "CanPause", "CanSeek", "CanGoNext", "CanControl",
                           "Volume", "LoopStatus", "Shuffle"}) {
    shown << QStringLiteral("%1=%2").arg(name, before.value(name).toString());
  }
  EXPECT_EQ(shown.join(' '),
            "PlaybackStatus=Stopped CanPause=false CanSeek=false CanGoNext=true CanControl=true "
            "Volume=1 LoopStatus=None Shuffle=false");

  const auto& song = songs_[2];
  Songs().SetSelectionMark(2);
  Call(QStringLiteral("Play"));
  // Announced, not only readable: the length comes once the song has opened.
  QVariantMap metadata;
  ASSERT_TRUE(WaitUntil([&] {
    const auto announced = Announced("Metadata");
    metadata = announced.empty() ? QVariantMap{} : AsMap(announced.back());
    return metadata.contains("mpris:length");
  }));
  EXPECT_EQ(metadata.value("xesam:title").toString().toStdString(), song.title);
  EXPECT_EQ(metadata.value("xesam:artist").toStringList(),
            QStringList{QString::fromStdString(song.singer)});
  const QString url = metadata.value("xesam:url").toString();
  EXPECT_TRUE(url.contains(QString::fromStdString("/cache/mp3/" + song.id + "/")))
      << url.toStdString();
  EXPECT_NEAR(metadata.value("mpris:length").toLongLong(), song.lengthMs * kUs, 100 * kUs);
  const QString track = metadata.value("mpris:trackid").value<QDBusObjectPath>().path();
  EXPECT_TRUE(track.startsWith("/io/github/melodriftdown/")) << track.toStdString();

  ASSERT_TRUE(WaitUntil([&] { return Position() > 0; }));
  // The song plays to its end: the window keeps "播放中", and so does the
  // bus; only pausing is over. The stop button stops both.
  ASSERT_TRUE(WaitUntil([&] { return Announced("CanPause").size() == 2; }));
  EXPECT_EQ(Announced("CanPause"), (std::vector<QVariant>{true, false}));
  EXPECT_EQ(Announced("PlaybackStatus"), (std::vector<QVariant>{"Playing"}));
  EXPECT_EQ(Control<QLabel>(1015)->text(), Q("播放中"));
  Click(1014);
  ASSERT_TRUE(WaitUntil([&] { return Announced("PlaybackStatus").size() == 2; }));
  EXPECT_EQ(Announced("PlaybackStatus").back(), "Stopped");
}

struct MethodCase {
  const char* name;
  int playing;  // the row playing before the call, -1 for none
  bool paused;  // and paused first
  int selected;
  const char* method;
  QVariantList arguments;
  const char* status;  // afterwards
  int row;             // the row loaded afterwards, -1 for none
  friend void PrintTo(const MethodCase& c, std::ostream* os) { *os << c.name; }
};

class MprisMethodTest : public MprisTest, public ::testing::WithParamInterface<MethodCase> {};

// A pause keeps the place: resumed, the song goes on from there.
TEST_P(MprisMethodTest, DoesWhatTheControlDoes) {
  const MethodCase& c = GetParam();
  if (c.playing >= 0) {
    PlayRow(c.playing);
  }
  if (c.paused) {
    Call(QStringLiteral("Pause"));
    ASSERT_TRUE(WaitUntil([&] { return PlayerStatus() == "Paused"; }));
    EXPECT_EQ(Control<QLabel>(1015)->text(), Q("已暂停"));
  }
  const qlonglong before = Position();
  Songs().SetSelectionMark(c.selected);
  Call(QString::fromLatin1(c.method), c.arguments);
  ASSERT_TRUE(WaitUntil([&] {
    return PlayerStatus() == c.status && (c.row < 0 || Title() == TitleOf(c.row));
  })) << PlayerStatus().toStdString()
      << " " << Title().toStdString();
  EXPECT_EQ(Property("CanPause").toBool(), c.row >= 0);
  if (c.paused && c.row == c.playing) {
    EXPECT_GE(Position(), before);
    EXPECT_LT(Position(), before + 1'000 * kUs);
  }
}

const MethodCase kMethods[] = {
    {"NextPlaysTheNextRow", 0, false, 0, "Next", {}, "Playing", 1},
    {"PreviousPlaysTheRowBefore", 1, false, 1, "Previous", {}, "Playing", 0},
    {"NextStartsWhenStopped", -1, false, -1, "Next", {}, "Playing", 1},
    {"NextFromAPause", 0, true, 0, "Next", {}, "Playing", 1},
    {"StopStops", 0, false, 0, "Stop", {}, "Stopped", -1},
    {"StopFromAPause", 0, true, 0, "Stop", {}, "Stopped", -1},
    {"PlayPausePauses", 0, false, 1, "PlayPause", {}, "Paused", 0},
    {"PlayPauseResumes", 0, true, 1, "PlayPause", {}, "Playing", 0},
    {"PlayPauseStartsTheSelection", -1, false, 1, "PlayPause", {}, "Playing", 1},
    {"PlayKeepsPlaying", 0, false, 1, "Play", {}, "Playing", 0},
    {"PlayResumes", 0, true, 1, "Play", {}, "Playing", 0},
    {"PausePauses", 0, false, 0, "Pause", {}, "Paused", 0},
    {"SeekPastTheEndPlaysNext", 0, false, 0, "Seek", {qlonglong{1'000'000'000'000}}, "Playing", 1},
};
INSTANTIATE_TEST_SUITE_P(Methods, MprisMethodTest, ::testing::ValuesIn(kMethods),
                         printing::CaseName());

TEST_F(MprisTest, SetPositionAndSeekMoveAsTheSliderDoes) {
  PlayRow(0);
  const qlonglong lengthUs = songs_[0].lengthMs * kUs;
  ASSERT_TRUE(WaitUntil([&] { return Property("CanSeek").toBool(); }));

  // A stale track id is ignored.
  const auto setPosition = [&](const QString& track, qlonglong us) {
    Call(QStringLiteral("SetPosition"), {QVariant::fromValue(QDBusObjectPath(track)), us});
  };
  setPosition("/io/github/melodriftdown/MeloDriftDown/track/99", lengthUs * 3 / 4);
  setPosition(TrackId(), lengthUs * 2 / 3);
  ASSERT_TRUE(WaitUntil([&] { return Position() >= lengthUs * 2 / 3; }));
  EXPECT_LT(Position(), lengthUs * 3 / 4);

  const qlonglong before = Position();
  Call(QStringLiteral("Seek"), {-lengthUs / 2});
  ASSERT_TRUE(WaitUntil([&] { return Position() < before - lengthUs / 3; }));
  EXPECT_GE(Position(), before - lengthUs / 2 - lengthUs / 20);
}

// Writes change as little as they can; the window's menu, its volume
// control and the settings file follow; the volume is linear here and
// cubic on the control.
TEST_F(MprisTest, PlayModeAndVolumeAreWritable) {
  const auto set = [&](const char* name, const QVariant& value) { SetProperty(name, value); };
  const auto shown = [&] {
    return Property("LoopStatus").toString() + ' ' + Property("Shuffle").toString();
  };
  const std::pair<std::function<void()>, const char*> steps[] = {
      {[&] { set("LoopStatus", "Playlist"); }, "Playlist false"},
      {[&] { set("Shuffle", true); }, "Playlist true"},
      {[&] { set("LoopStatus", "Playlist"); }, "Playlist true"},
      {[&] { set("Shuffle", false); }, "Playlist false"},
      {[&] { set("LoopStatus", "None"); }, "None false"},  // 顺序播放
      {[&] { set("LoopStatus", "Track"); }, "Track false"},
      {[&] { set("LoopStatus", "None"); }, "None false"},  // 单曲
      {[&] { set("LoopStatus", "Sideways"); }, "None false"},
  };
  for (const auto& [step, expected] : steps) {
    step();
    EXPECT_EQ(shown(), QString::fromLatin1(expected));
  }
  EXPECT_EQ(Announced("Shuffle"), (std::vector<QVariant>{true, false}));

  set("Volume", 0.3);
  EXPECT_DOUBLE_EQ(Property("Volume").toDouble(), 0.3);
  EXPECT_EQ(Control<QSlider>(1027)->value(), 67);  // the cube root of 0.3
  ASSERT_FALSE(Announced("Volume").empty());
  EXPECT_DOUBLE_EQ(Announced("Volume").back().toDouble(), 0.3);
  set("Volume", -2.0);
  EXPECT_EQ(Property("Volume").toDouble(), 0.0);
  Control<QSlider>(1027)->setValue(50);
  EXPECT_DOUBLE_EQ(Property("Volume").toDouble(), 0.125);
}

// The samples that reach the output carry the volume asked for over the bus.
TEST_F(MprisTest, VolumeSetOverTheBusReachesTheSink) {
  const QString written =
      QDir(QString::fromStdString(::testing::TempDir()))
          .filePath(QStringLiteral("mpris-volume-%1.raw").arg(QCoreApplication::applicationPid()));
  const QByteArray sink = "audioconvert ! audio/x-raw,format=S16LE ! filesink sync=true location=" +
                          QFile::encodeName(written);
  const QByteArray oldSink = qgetenv("MELODRIFT_AUDIO_SINK");
  qputenv("MELODRIFT_AUDIO_SINK", sink);
  // The loudest sample of the shortest song, played whole; in real time, so that a song
  // read from the cache is still playing when the test looks.
  const auto peak = [&] {
    Click(1014);
    Play(2);
    EXPECT_TRUE(WaitUntil([&] { return Property("CanPause").toBool(); }));
    EXPECT_TRUE(WaitUntil([&] { return !Property("CanPause").toBool(); }));
    QFile file(written);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray pcm = file.readAll();
    int loudest = 0;
    for (qsizetype at = 0; at + 1 < pcm.size(); at += 2) {
      const auto sample =
          static_cast<qint16>(static_cast<quint8>(pcm[at]) | static_cast<quint8>(pcm[at + 1]) << 8);
      loudest = std::max(loudest, std::abs(static_cast<int>(sample)));
    }
    return loudest;
  };
  const int full = peak();
  SetProperty("Volume", 0.3);
  const int turnedDown = peak();
  qputenv("MELODRIFT_AUDIO_SINK", oldSink);
  QFile::remove(written);
  ASSERT_GT(full, 1000);
  EXPECT_NEAR(static_cast<double>(turnedDown) / full, 0.3, 0.02) << turnedDown << "/" << full;
}

}  // namespace
}  // namespace melo::ui::testing

#include "MprisTest.moc"
