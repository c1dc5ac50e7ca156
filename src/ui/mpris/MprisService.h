#pragma once
// The playing song on the session bus for the desktop's media keys and sound
// panels (MPRIS 2): org.mpris.MediaPlayer2.melodriftdown at
// /org/mpris/MediaPlayer2. It follows what the playback controls are told and
// steers playback through the window's own commands. On the window's thread.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <memory>
#include <string>
#include <string_view>

namespace melo::ui {

class CMainDialog;
class PlaybackPanel;

class MprisService final : public QObject {
  Q_OBJECT

 public:
  inline static const QString kServiceName = QStringLiteral("org.mpris.MediaPlayer2.melodriftdown");
  inline static const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
  inline static const QString kDesktopEntry =
      QStringLiteral("io.github.melodriftdown.MeloDriftDown");

  // Null, silently, when there is no session bus or no name to be had there.
  static std::unique_ptr<MprisService> Offer(CMainDialog& dialog, PlaybackPanel& panel);
  ~MprisService() override;

  // What the playback controls were told.
  void StateShown(std::string_view text);
  void LengthShown();
  void SongEnded();
  // The volume, the play mode or whether a song can pause changed.
  void PlayerChanged();

  // The Player interface's properties and methods.
  QString PlaybackStatus() const;
  QVariantMap Metadata() const;
  qlonglong Position() const;
  bool CanGoNext() const;
  bool CanGoPrevious() const { return CanGoNext(); }
  bool CanPlay() const { return CanGoNext(); }
  bool CanSeek() const;
  bool CanPause() const;
  double Volume() const;
  void SetVolume(double linear);
  QString LoopStatus() const;
  void SetLoopStatus(const QString& status);
  bool Shuffle() const;
  void SetShuffle(bool shuffle);
  void Next();
  void Previous();
  void Stop();
  void Play();
  void Pause();
  void PlayPause();
  void Seek(qlonglong offsetUs);
  void SetPosition(const QString& trackId, qlonglong positionUs);
  void Raise();

 signals:
  void Seeked(qlonglong positionUs);

 private:
  // What the bus was last told, to send only what changed.
  struct Shown {
    QString status;
    QString track;  // the track id and whether its length is known
    bool canGoNext = false;
    bool canSeek = false;
    bool canPause = false;
    double volume = 0;
    QString loopStatus;
    bool shuffle = false;
    bool operator==(const Shown&) const = default;
  };

  MprisService(CMainDialog& dialog, PlaybackPanel& panel, QDBusConnection bus, QString name);
  void FollowSong();
  QString TrackId() const;
  void SeekTo(qlonglong targetMs);
  Shown Current() const;
  void AnnounceChanges();

  CMainDialog& dialog_;
  PlaybackPanel& panel_;
  QDBusConnection bus_;
  const QString name_;

  // As the window's state text says: "Playing", "Paused" or "Stopped".
  QString status_ = QStringLiteral("Stopped");
  // The song the controls follow: its row and address when it started.
  int songRow_ = -1;
  std::string songAddress_;
  QString title_;
  QString singer_;
  unsigned songSerial_ = 0;
  bool lengthKnown_ = false;
  Shown shown_;
};

}  // namespace melo::ui
