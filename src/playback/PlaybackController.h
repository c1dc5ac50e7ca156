#pragma once
// The window's playback handlers without the window: play the selected
// row, stop, previous, next, the slider and closing. Runs on the window's
// thread; the window supplies its controls, its song list and a way to run
// a task on its thread later.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "playback/MediaDevice.h"
#include "playback/PlayOrder.h"
#include "playback/PlaybackView.h"
#include "playback/PlaybackWorker.h"

namespace melo::playback {

// The song list as playback reads it.
class SongList {
 public:
  virtual ~SongList() = default;
  virtual int RowCount() const = 0;
  // Column 2 as stored: the MP3 address wrapped in double quotes (GBK).
  virtual std::string DownloadLink(int row) const = 0;
};

// Runs tasks on the window's thread, in the order posted, after the poster
// has returned. Callable from any thread. Tasks still waiting when the
// window goes are dropped.
class WindowThread {
 public:
  virtual ~WindowThread() = default;
  virtual void Post(std::function<void()> task) = 0;
};

// kMoving: the user works the slider; kEndTrack: the user has let go where
// the slider moved to, and that is where the song goes; kLetGo: the user has
// let go without moving it.
enum class SliderEvent { kMoving, kEndTrack, kLetGo };

// How long each command waits for the worker before the window goes on.
struct PlaybackWaits {
  std::chrono::milliseconds play{1000};  // for the open's outcome
  std::chrono::milliseconds stop{2000};  // for the old worker's end
  std::chrono::milliseconds step{1000};  // for the old worker's end
};

class PlaybackController {
 public:
  // An address that fails at once is tried this often by one play command.
  inline static constexpr int kPlayAttempts = 3;

  // `controls` are the window's own widgets, changed only on its thread.
  // All four must outlive the controller.
  PlaybackController(SongList& songs, PlaybackView& controls, WindowThread& window,
                     MediaDeviceFactory makeDevice, PlaybackWaits waits = {});
  // Stops every worker and waits for it; nothing of theirs reaches the
  // controls afterwards.
  ~PlaybackController();
  PlaybackController(const PlaybackController&) = delete;
  PlaybackController& operator=(const PlaybackController&) = delete;

  void OnPlaySelected(int selectionMark);
  void OnStopPlayback();
  void OnPreviousSong();
  void OnNextSong();
  void OnSliderScroll(SliderEvent event, int sliderValue);
  // After it no worker reaches the controls and nothing starts again.
  void OnCloseWindow();

  // Holds the playing song where it is, or lets it go on; nothing while no
  // song plays. The worker shows "已暂停" from its next cycle.
  void SetPaused(bool paused);
  bool Paused() const { return words_.paused; }
  // Linear, 0 to 1; for the playing song and every song after it.
  void SetVolume(double linear);
  double Volume() const { return words_.volume; }
  // What follows a song that ends by itself; steps and the play command
  // are the same in every mode.
  void SetPlayMode(PlayMode mode) { mode_ = mode; }
  PlayMode Mode() const { return mode_; }
  // Every row is gone: the shuffled order starts afresh.
  void OnSongListCleared() { shuffle_.Forget(); }

  int PlayIndex() const { return playIndex_; }
  const std::string& PlayAddress() const { return playAddress_; }
  std::int64_t SeekTargetMs() const { return words_.seekTargetMs; }
  std::int64_t LengthMs() const { return words_.lengthMs; }
  std::int64_t PositionMs() const { return words_.positionMs; }

 private:
  struct Gate;
  class GatedView;

  bool IsRow(int row) const;
  void StopWorker(std::chrono::milliseconds wait);
  void ShowStopped();
  void StartWorker();
  void Step(int delta);
  void OnSongEnded();
  void PlayFromStart(int row);

  SongList& songs_;
  PlaybackView& controls_;
  WindowThread& window_;
  const MediaDeviceFactory makeDevice_;
  const PlaybackWaits waits_;

  PlaybackWords words_;
  int playIndex_ = 0;
  std::string playAddress_;
  bool closed_ = false;
  PlayMode mode_ = PlayMode::kSingle;
  ShuffleOrder shuffle_;

  std::shared_ptr<Gate> gate_;
  std::uint64_t lastTicket_ = 0;
  std::unique_ptr<PlaybackWorker> worker_;
  // Told to stop, but not yet ended when the wait expired.
  std::vector<std::unique_ptr<PlaybackWorker>> retired_;
};

}  // namespace melo::playback
