#pragma once
// One song from open to close on a thread of its own: reports the state and
// the times, moves the slider and carries out seek requests. Every worker
// has its own stop token and its own device, so a worker that outlives a
// wait can never stop or steer the song of the worker that replaced it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "playback/MediaDevice.h"
#include "playback/PlaybackView.h"

namespace melo::playback {

// The words the window's thread and the running worker share.
struct PlaybackWords {
  // One-slot seek mailbox: the writer stores the target, then raises the
  // flag; the worker lowers the flag, then reads the target. The target is
  // also where the next worker starts.
  std::atomic<bool> seekPending{false};
  std::atomic<std::int64_t> seekTargetMs{0};
  // The user is working the slider: the worker leaves the thumb alone.
  std::atomic<bool> seekDragging{false};
  // Length of the song opened last; 0 while it is not known.
  std::atomic<std::int64_t> lengthMs{0};
  // Where the playing song was at the last poll.
  std::atomic<std::int64_t> positionMs{0};
  // What the user asks of the playing song: held where it is, and how loud
  // (linear, 0 to 1). The worker carries both out at its next cycle.
  std::atomic<bool> paused{false};
  std::atomic<double> volume{1.0};
};

// kFailed: the song broke off in the middle (the worker has shown "已停止").
enum class WorkerEnding { kRunning, kOpenFailed, kSongEnded, kFailed, kStopped };

enum class OpenOutcome { kPending, kOpened, kFailed };

class PlaybackWorker {
 public:
  inline static constexpr std::chrono::milliseconds kPollInterval{100};

  // Starts at once. `address` is the unquoted download link (GBK bytes);
  // `words` must outlive the worker.
  PlaybackWorker(std::string address, PlaybackWords& words, std::unique_ptr<PlaybackView> view,
                 MediaDeviceFactory makeDevice);
  // Tells the worker to stop and waits for it.
  ~PlaybackWorker();
  PlaybackWorker(const PlaybackWorker&) = delete;
  PlaybackWorker& operator=(const PlaybackWorker&) = delete;

  void RequestStop();
  // True when the worker has ended within `timeout`.
  bool WaitForEnd(std::chrono::milliseconds timeout);
  // Waits until the open has succeeded or failed, or `timeout` has passed.
  OpenOutcome WaitForOpenOutcome(std::chrono::milliseconds timeout);
  WorkerEnding Ending() const;
  // Why the open failed or the song broke off; set before Ending() says so.
  std::string Failure() const;

 private:
  void Run(std::stop_token stop);
  WorkerEnding PlayOpened(MediaDevice& device, std::stop_token stop);
  MediaMode RunCycle(MediaDevice& device, std::int64_t& lengthMs, std::stop_token stop);
  void UpdateLength(MediaDevice& device, std::int64_t& lengthMs, std::stop_token stop);
  void FollowRequests(MediaDevice& device);
  void SetOpenOutcome(OpenOutcome outcome);
  void Finish(WorkerEnding ending, std::string failure = {});

  const std::string address_;
  PlaybackWords& words_;
  const std::unique_ptr<PlaybackView> view_;
  const MediaDeviceFactory makeDevice_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  OpenOutcome openOutcome_ = OpenOutcome::kPending;
  WorkerEnding ending_ = WorkerEnding::kRunning;
  std::string failure_;

  // What the device was last told; the worker's thread alone uses them.
  bool devicePaused_ = false;
  double deviceVolume_ = -1;

  std::jthread thread_;  // last: joined before the members it uses go
};

}  // namespace melo::playback
