// The desktop's media controls over a private session bus of the test's own:
// the Player properties through a song's life and what each method does,
// offscreen, with the fake audio sink, against the bundled site.

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
  for (const char* name : {"PlaybackStatus", "CanPause", "CanSeek", "CanGoNext", "CanControl"}) {
    shown << QStringLiteral("%1=%2").arg(name, before.value(name).toString());
  }
  EXPECT_EQ(shown.join(' '),
            "PlaybackStatus=Stopped CanPause=false CanSeek=false CanGoNext=true CanControl=true");

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
  // The song plays to its end: the window's state text stays, the bus says so.
  ASSERT_TRUE(WaitUntil([&] { return Announced("PlaybackStatus").size() == 2; }));
  EXPECT_EQ(Announced("PlaybackStatus"), (std::vector<QVariant>{"Playing", "Stopped"}));
}

struct MethodCase {
  const char* name;
  int playing;  // the row playing before the call, -1 for none
  int selected;
  const char* method;
  QVariantList arguments;
  int row;  // the row playing afterwards, -1 for stopped
  friend void PrintTo(const MethodCase& c, std::ostream* os) { *os << c.name; }
};

class MprisMethodTest : public MprisTest, public ::testing::WithParamInterface<MethodCase> {};

TEST_P(MprisMethodTest, DoesWhatTheControlDoes) {
  const MethodCase& c = GetParam();
  if (c.playing >= 0) {
    PlayRow(c.playing);
  }
  Songs().SetSelectionMark(c.selected);
  Call(QString::fromLatin1(c.method), c.arguments);
  ASSERT_TRUE(WaitUntil([&] {
    return c.row < 0 ? PlayerStatus() == "Stopped"
                     : PlayerStatus() == "Playing" && Title() == TitleOf(c.row);
  })) << PlayerStatus().toStdString()
      << " " << Title().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Methods, MprisMethodTest,
    ::testing::Values(
        MethodCase{"NextPlaysTheNextRow", 0, 0, "Next", {}, 1},
        MethodCase{"PreviousPlaysTheRowBefore", 1, 1, "Previous", {}, 0},
        MethodCase{"NextStartsWhenStopped", -1, -1, "Next", {}, 1},
        MethodCase{"StopStops", 0, 0, "Stop", {}, -1},
        MethodCase{"PlayPauseStopsWhenPlaying", 0, 1, "PlayPause", {}, -1},
        MethodCase{"PlayPauseStartsTheSelection", -1, 1, "PlayPause", {}, 1},
        MethodCase{"PlayKeepsPlaying", 0, 1, "Play", {}, 0},
        MethodCase{"PauseCannotPause", 0, 0, "Pause", {}, 0},
        MethodCase{"SeekPastTheEndPlaysNext", 0, 0, "Seek", {qlonglong{1'000'000'000'000}}, 1}),
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

}  // namespace
}  // namespace melo::ui::testing

#include "MprisTest.moc"
