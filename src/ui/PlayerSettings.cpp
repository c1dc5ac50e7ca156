#include "ui/PlayerSettings.h"

#include <cmath>

#include "ui/AppSettings.h"

namespace melo::ui {
namespace {

const QString kVolumeKey = QStringLiteral("player/volume");
const QString kPlayModeKey = QStringLiteral("player/playMode");

}  // namespace

// The one settings file the window's other choices live in too.
QString PlayerSettings::DefaultPath() {
  return SettingsFilePath();
}

PlayerSettings::PlayerSettings(const QString& path) : settings_(path, QSettings::IniFormat) {}

PlayerChoices PlayerSettings::Load() const {
  PlayerChoices choices;
  bool isNumber = false;
  const double volume = settings_.value(kVolumeKey).toDouble(&isNumber);
  if (isNumber && std::isfinite(volume) && volume >= 0.0 && volume <= 1.0) {
    choices.volume = volume;
  }
  const QByteArray mode = settings_.value(kPlayModeKey).toString().toUtf8();
  choices.mode = playback::PlayModeFromKey(mode.toStdString()).value_or(choices.mode);
  return choices;
}

void PlayerSettings::SaveVolume(double linear) {
  settings_.setValue(kVolumeKey, linear);
}

void PlayerSettings::SavePlayMode(playback::PlayMode mode) {
  settings_.setValue(kPlayModeKey, QString::fromLatin1(PlayModeKey(mode)));
}

}  // namespace melo::ui
