#pragma once
// The two MPRIS interfaces the service exports; each call goes to
// MprisService, which keeps the state.

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QStringList>

#include "ui/mpris/MprisService.h"

namespace melo::ui {

class MprisRootAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ CanQuit)
  Q_PROPERTY(bool CanRaise READ CanRaise)
  Q_PROPERTY(bool HasTrackList READ HasTrackList)
  Q_PROPERTY(QString Identity READ Identity)
  Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

 public:
  explicit MprisRootAdaptor(MprisService& service)
      : QDBusAbstractAdaptor(&service), service_(service) {}

  bool CanQuit() const { return false; }
  bool CanRaise() const { return true; }
  bool HasTrackList() const { return false; }
  QString Identity() const { return QStringLiteral("MeloDriftDown"); }
  QString DesktopEntry() const { return MprisService::kDesktopEntry; }
  QStringList SupportedUriSchemes() const { return {}; }
  QStringList SupportedMimeTypes() const { return {}; }

 public slots:
  void Raise() { service_.Raise(); }
  void Quit() {}

 private:
  MprisService& service_;
};

class MprisPlayerAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(QString LoopStatus READ LoopStatus WRITE SetLoopStatus)
  Q_PROPERTY(double Rate READ Rate)
  Q_PROPERTY(bool Shuffle READ Shuffle WRITE SetShuffle)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(double MinimumRate READ Rate)
  Q_PROPERTY(double MaximumRate READ Rate)
  Q_PROPERTY(bool CanGoNext READ CanGoNext)
  Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
  Q_PROPERTY(bool CanPlay READ CanPlay)
  Q_PROPERTY(bool CanPause READ CanPause)
  Q_PROPERTY(bool CanSeek READ CanSeek)
  Q_PROPERTY(bool CanControl READ CanControl)

 public:
  explicit MprisPlayerAdaptor(MprisService& service)
      : QDBusAbstractAdaptor(&service), service_(service) {
    connect(&service, &MprisService::Seeked, this, &MprisPlayerAdaptor::Seeked);
  }

  QString PlaybackStatus() const { return service_.PlaybackStatus(); }
  QString LoopStatus() const { return service_.LoopStatus(); }
  void SetLoopStatus(const QString& status) { service_.SetLoopStatus(status); }
  double Rate() const { return 1.0; }
  bool Shuffle() const { return service_.Shuffle(); }
  void SetShuffle(bool shuffle) { service_.SetShuffle(shuffle); }
  QVariantMap Metadata() const { return service_.Metadata(); }
  double Volume() const { return service_.Volume(); }
  void SetVolume(double linear) { service_.SetVolume(linear); }
  qlonglong Position() const { return service_.Position(); }
  bool CanGoNext() const { return service_.CanGoNext(); }
  bool CanGoPrevious() const { return service_.CanGoPrevious(); }
  bool CanPlay() const { return service_.CanPlay(); }
  bool CanPause() const { return service_.CanPause(); }
  bool CanSeek() const { return service_.CanSeek(); }
  bool CanControl() const { return true; }

 public slots:
  void Next() { service_.Next(); }
  void Previous() { service_.Previous(); }
  void Pause() { service_.Pause(); }
  void PlayPause() { service_.PlayPause(); }
  void Stop() { service_.Stop(); }
  void Play() { service_.Play(); }
  void Seek(qlonglong offset) { service_.Seek(offset); }
  void SetPosition(const QDBusObjectPath& trackId, qlonglong position) {
    service_.SetPosition(trackId.path(), position);
  }
  void OpenUri(const QString& /*uri*/) {}

 signals:
  void Seeked(qlonglong position);

 private:
  MprisService& service_;
};

}  // namespace melo::ui
