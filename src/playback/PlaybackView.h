#pragma once
// What the window shows of playback: the state text, the two time texts,
// the position slider and the stop button. A worker reports through it; the
// window, the command line and the tests each implement it. Texts are UTF-8.

#include <string_view>

#include "playback/PlaybackTexts.h"

namespace melo::playback {

class PlaybackView {
 public:
  virtual ~PlaybackView() = default;

  virtual void ShowState(std::string_view text) = 0;
  virtual void ShowTotal(std::string_view text) = 0;
  virtual void ShowElapsed(std::string_view text) = 0;
  // In thousandths of the song's length.
  virtual void SetSlider(int value) = 0;
  virtual void EnableStop(bool enabled) = 0;
  virtual void EnableSlider(bool enabled) = 0;
  // The song is open: it can be paused. Only a window with a pause control
  // needs to hear it.
  virtual void EnablePause(bool /*enabled*/) {}
  // The song played to its end; the controls keep what they show. Only the
  // desktop's media controls need to hear it.
  virtual void SongEnded() {}
};

// "已停止", with the stop button and the slider disabled: after a stop, and
// after a song that broke off.
inline void ShowStopped(PlaybackView& view) {
  view.EnableStop(false);
  view.EnablePause(false);
  view.ShowState(texts::kStopped);
  view.EnableSlider(false);
}

}  // namespace melo::playback
