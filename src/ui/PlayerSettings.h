#pragma once
// What the player remembers for the next start: the volume and the play
// mode, in the program's settings file
// ($XDG_CONFIG_HOME/melodriftdown/melodriftdown.ini). A missing, unreadable
// or garbled file gives the defaults.

#include <QSettings>
#include <QString>

#include "playback/PlayOrder.h"
#include "playback/VolumeScale.h"

namespace melo::ui {

struct PlayerChoices {
  double volume = playback::kFullVolume;  // linear, 0 to 1
  playback::PlayMode mode = playback::PlayMode::kSingle;
};

class PlayerSettings {
 public:
  static QString DefaultPath();
  explicit PlayerSettings(const QString& path = DefaultPath());

  PlayerChoices Load() const;
  void SaveVolume(double linear);
  void SavePlayMode(playback::PlayMode mode);

 private:
  QSettings settings_;
};

}  // namespace melo::ui
