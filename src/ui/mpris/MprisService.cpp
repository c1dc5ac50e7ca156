#include "ui/mpris/MprisService.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>
#include <algorithm>
#include <cmath>

#include "core/text/Gbk.h"
#include "playback/PlaybackAddress.h"
#include "playback/PlaybackTexts.h"
#include "playback/PlaybackTimes.h"
#include "ui/ControlIds.h"
#include "ui/MainDialog.h"
#include "ui/Menus.h"
#include "ui/PlaybackPanel.h"
#include "ui/RecordListView.h"
#include "ui/mpris/MprisAdaptors.h"

namespace melo::ui {
namespace {

constexpr qlonglong kUsPerMs = 1000;

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kPlaying = QStringLiteral("Playing");
const QString kPaused = QStringLiteral("Paused");
const QString kStopped = QStringLiteral("Stopped");
const QString kNoLoop = QStringLiteral("None");
const QString kLoopTrack = QStringLiteral("Track");
const QString kLoopPlaylist = QStringLiteral("Playlist");

QString FromGbk(const std::string& gbk) {
  return QString::fromStdString(text::GbkToUtf8(gbk));
}

}  // namespace

std::unique_ptr<MprisService> MprisService::Offer(CMainDialog& dialog, PlaybackPanel& panel) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    return nullptr;
  }
  // A second window takes a name of its own, as the MPRIS rules suggest.
  QString name = kServiceName;
  if (!bus.registerService(name)) {
    name = kServiceName + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
    if (!bus.registerService(name)) {
      return nullptr;
    }
  }
  std::unique_ptr<MprisService> service(new MprisService(dialog, panel, bus, name));
  if (!bus.registerObject(kObjectPath, service.get(), QDBusConnection::ExportAdaptors)) {
    return nullptr;
  }
  return service;
}

MprisService::MprisService(CMainDialog& dialog, PlaybackPanel& panel, QDBusConnection bus,
                           QString name)
    : dialog_(dialog), panel_(panel), bus_(std::move(bus)), name_(std::move(name)) {
  new MprisRootAdaptor(*this);
  new MprisPlayerAdaptor(*this);
  shown_ = Current();
  // Next, previous and play need rows; panels hear when the first comes or the last goes.
  const QAbstractItemModel* rows = dialog_.SongList().model();
  connect(rows, &QAbstractItemModel::rowsInserted, this, &MprisService::AnnounceChanges);
  connect(rows, &QAbstractItemModel::rowsRemoved, this, &MprisService::AnnounceChanges);
}

MprisService::~MprisService() {
  bus_.unregisterObject(kObjectPath);
  bus_.unregisterService(name_);
}

// The status says what the state text says. Buffering ("正在缓冲...")
// leaves it as it was: before the first "播放中" a song is not yet playing,
// during a seek it still is (or is still paused).
void MprisService::StateShown(std::string_view text) {
  if (text == playback::texts::kStopped) {
    status_ = kStopped;
  } else {
    FollowSong();
    if (text == playback::texts::kPlaying) {
      status_ = kPlaying;
    } else if (text == playback::texts::kPaused) {
      status_ = kPaused;
    }
  }
  AnnounceChanges();
}

void MprisService::LengthShown() {
  FollowSong();
  lengthKnown_ = true;
  AnnounceChanges();
}

// A song that ends by itself in "单曲" leaves "播放中" in the window, and so
// "Playing" here, until the user stops; only pausing is over.
void MprisService::SongEnded() {
  AnnounceChanges();
}

void MprisService::PlayerChanged() {
  AnnounceChanges();
}

// A report reaches the panel only from the current worker, so the
// controller's row and address are the song that report is about.
void MprisService::FollowSong() {
  const auto& handlers = panel_.Handlers();
  if (songRow_ == handlers.PlayIndex() && songAddress_ == handlers.PlayAddress()) {
    return;
  }
  songRow_ = handlers.PlayIndex();
  songAddress_ = handlers.PlayAddress();
  ++songSerial_;
  lengthKnown_ = false;
  const RecordListView& songs = dialog_.SongList();
  // Rows deleted while the song played leave the index on another song.
  const bool sameRow =
      playback::UnquoteLink(songs.Text(songRow_, kDownloadLinkColumn)) == songAddress_;
  title_ = sameRow ? FromGbk(songs.Text(songRow_, kTitleColumn)) : QString();
  singer_ = sameRow ? FromGbk(songs.Text(songRow_, kSingerColumn)) : QString();
}

QString MprisService::TrackId() const {
  if (songSerial_ == 0) {
    return QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
  }
  return QStringLiteral("/io/github/melodriftdown/MeloDriftDown/track/%1").arg(songSerial_);
}

QString MprisService::PlaybackStatus() const {
  return status_;
}

QVariantMap MprisService::Metadata() const {
  QVariantMap metadata{
      {QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(TrackId()))}};
  if (songSerial_ == 0) {
    return metadata;
  }
  metadata.insert(QStringLiteral("xesam:title"), title_);
  metadata.insert(QStringLiteral("xesam:artist"), QStringList{singer_});
  metadata.insert(QStringLiteral("xesam:url"),
                  QString::fromLatin1(playback::DeviceAddress(songAddress_)));
  const qlonglong lengthMs = panel_.Handlers().LengthMs();
  if (lengthKnown_ && lengthMs > 0) {
    metadata.insert(QStringLiteral("mpris:length"), lengthMs * kUsPerMs);
  }
  return metadata;
}

qlonglong MprisService::Position() const {
  return status_ != kStopped ? panel_.Handlers().PositionMs() * kUsPerMs : 0;
}

bool MprisService::CanGoNext() const {
  return dialog_.SongList().RowCount() > 0;
}

bool MprisService::CanSeek() const {
  return panel_.SongLoaded() && lengthKnown_ && panel_.Handlers().LengthMs() > 0;
}

bool MprisService::CanPause() const {
  return panel_.SongLoaded();
}

double MprisService::Volume() const {
  return panel_.Handlers().Volume();
}

void MprisService::SetVolume(double linear) {
  if (std::isfinite(linear)) {
    panel_.SetVolume(std::clamp(linear, 0.0, 1.0));
  }
}

// "单曲" and "顺序播放" both stop where the list of what is to play ends.
QString MprisService::LoopStatus() const {
  switch (panel_.Handlers().Mode()) {
    case playback::PlayMode::kLoopOne:
      return kLoopTrack;
    case playback::PlayMode::kLoopList:
    case playback::PlayMode::kShuffle:
      return kLoopPlaylist;
    default:
      return kNoLoop;
  }
}

// Each write changes as little as it can: "None" takes a loop off the mode
// it loops ("单曲循环" becomes "单曲", the others "顺序播放"); a shuffle stays
// on through "Playlist" and goes off into "列表循环".
void MprisService::SetLoopStatus(const QString& status) {
  using playback::PlayMode;
  const PlayMode mode = panel_.Handlers().Mode();
  if (status == kLoopTrack) {
    panel_.SetPlayMode(PlayMode::kLoopOne);
  } else if (status == kLoopPlaylist && mode != PlayMode::kShuffle) {
    panel_.SetPlayMode(PlayMode::kLoopList);
  } else if (status == kNoLoop) {
    const bool oneSong = mode == PlayMode::kLoopOne || mode == PlayMode::kSingle;
    panel_.SetPlayMode(oneSong ? PlayMode::kSingle : PlayMode::kSequential);
  }
}

bool MprisService::Shuffle() const {
  return panel_.Handlers().Mode() == playback::PlayMode::kShuffle;
}

void MprisService::SetShuffle(bool shuffle) {
  if (shuffle) {
    panel_.SetPlayMode(playback::PlayMode::kShuffle);
  } else if (Shuffle()) {
    panel_.SetPlayMode(playback::PlayMode::kLoopList);
  }
}

void MprisService::Next() {
  dialog_.OnCommand(kNextButton);
}

void MprisService::Previous() {
  dialog_.OnCommand(kPreviousButton);
}

void MprisService::Stop() {
  dialog_.OnCommand(kStopButton);
}

void MprisService::Play() {
  if (status_ == kPaused) {
    panel_.SetPaused(false);
  } else if (!panel_.SongLoaded()) {
    dialog_.OnCommand(kPlaySongCommand);
  }
}

void MprisService::Pause() {
  if (panel_.SongLoaded()) {
    panel_.SetPaused(true);
  }
}

void MprisService::PlayPause() {
  panel_.PlayPause();
}

void MprisService::Seek(qlonglong offsetUs) {
  if (!CanSeek()) {
    return;
  }
  const qlonglong targetMs = std::max<qlonglong>(Position() / kUsPerMs + offsetUs / kUsPerMs, 0);
  if (targetMs > panel_.Handlers().LengthMs()) {
    Next();  // past the end, as the MPRIS rules ask
    return;
  }
  SeekTo(targetMs);
}

void MprisService::SetPosition(const QString& trackId, qlonglong positionUs) {
  if (CanSeek() && trackId == TrackId() && positionUs >= 0 &&
      positionUs / kUsPerMs <= panel_.Handlers().LengthMs()) {
    SeekTo(positionUs / kUsPerMs);
  }
}

// As a release of the slider at the place that stands for the target.
void MprisService::SeekTo(qlonglong targetMs) {
  auto& handlers = panel_.Handlers();
  const int value = playback::SliderValue(targetMs, handlers.LengthMs()).value_or(0);
  handlers.OnSliderScroll(playback::SliderEvent::kEndTrack, value);
  emit Seeked(handlers.SeekTargetMs() * kUsPerMs);
}

void MprisService::Raise() {
  dialog_.raise();
  dialog_.activateWindow();
}

MprisService::Shown MprisService::Current() const {
  return {PlaybackStatus(), TrackId() + QString::number(lengthKnown_),
          CanGoNext(),      CanSeek(),
          CanPause(),       Volume(),
          LoopStatus(),     Shuffle()};
}

void MprisService::AnnounceChanges() {
  const Shown now = Current();
  if (now == shown_) {
    return;
  }
  QVariantMap changed;
  if (now.status != shown_.status) {
    changed.insert(QStringLiteral("PlaybackStatus"), now.status);
  }
  if (now.track != shown_.track) {
    changed.insert(QStringLiteral("Metadata"), Metadata());
  }
  if (now.canGoNext != shown_.canGoNext) {
    changed.insert(QStringLiteral("CanGoNext"), now.canGoNext);
    changed.insert(QStringLiteral("CanGoPrevious"), now.canGoNext);
    changed.insert(QStringLiteral("CanPlay"), now.canGoNext);
  }
  if (now.canSeek != shown_.canSeek) {
    changed.insert(QStringLiteral("CanSeek"), now.canSeek);
  }
  if (now.canPause != shown_.canPause) {
    changed.insert(QStringLiteral("CanPause"), now.canPause);
  }
  if (now.volume != shown_.volume) {
    changed.insert(QStringLiteral("Volume"), now.volume);
  }
  if (now.loopStatus != shown_.loopStatus) {
    changed.insert(QStringLiteral("LoopStatus"), now.loopStatus);
  }
  if (now.shuffle != shown_.shuffle) {
    changed.insert(QStringLiteral("Shuffle"), now.shuffle);
  }
  shown_ = now;
  QDBusMessage signal =
      QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                 QStringLiteral("PropertiesChanged"));
  signal << kPlayerInterface << changed << QStringList();
  bus_.send(signal);
}

}  // namespace melo::ui
