#include "playback/PlaybackWorker.h"

#include <utility>

#include "playback/PlaybackAddress.h"
#include "playback/PlaybackTexts.h"
#include "playback/PlaybackTimes.h"

namespace melo::playback {
namespace {

// The pause between polling cycles; a stop ends it at once.
void PauseUnlessStopped(std::stop_token stop) {
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock lock(mutex);
  wake.wait_for(lock, stop, PlaybackWorker::kPollInterval, [] { return false; });
}

}  // namespace

PlaybackWorker::PlaybackWorker(std::string address, PlaybackWords& words,
                               std::unique_ptr<PlaybackView> view, MediaDeviceFactory makeDevice)
    : address_(std::move(address)),
      words_(words),
      view_(std::move(view)),
      makeDevice_(std::move(makeDevice)),
      thread_([this](std::stop_token stop) { Run(stop); }) {}

PlaybackWorker::~PlaybackWorker() = default;

void PlaybackWorker::RequestStop() {
  thread_.request_stop();
}

bool PlaybackWorker::WaitForEnd(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return ending_ != WorkerEnding::kRunning; });
}

OpenOutcome PlaybackWorker::WaitForOpenOutcome(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [this] { return openOutcome_ != OpenOutcome::kPending; });
  return openOutcome_;
}

WorkerEnding PlaybackWorker::Ending() const {
  std::lock_guard lock(mutex_);
  return ending_;
}

std::string PlaybackWorker::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void PlaybackWorker::Run(std::stop_token stop) {
  words_.seekPending = false;
  view_->EnableSlider(true);
  view_->ShowState(texts::kBuffering);

  const std::unique_ptr<MediaDevice> device = makeDevice_(stop);
  if (device->Open(DeviceAddress(address_)) != OpenResult::kOpened) {
    SetOpenOutcome(OpenOutcome::kFailed);
    Finish(WorkerEnding::kOpenFailed, device->Failure());
    return;
  }
  SetOpenOutcome(OpenOutcome::kOpened);
  // A worker told to stop during a long open must not start its song.
  const WorkerEnding ending =
      stop.stop_requested() ? WorkerEnding::kStopped : PlayOpened(*device, stop);
  std::string failure = ending == WorkerEnding::kFailed ? device->Failure() : std::string();
  device->Stop();
  device->Close();
  if (ending == WorkerEnding::kSongEnded) {
    view_->SongEnded();
  }
  Finish(ending, std::move(failure));
}

WorkerEnding PlaybackWorker::PlayOpened(MediaDevice& device, std::stop_token stop) {
  view_->ShowState(texts::kBuffering);
  // The stream starts at 0 anyway, and one that cannot seek must not be
  // asked to.
  if (const std::int64_t startMs = words_.seekTargetMs; startMs > 0) {
    device.Seek(startMs);
  }
  FollowRequests(device);  // the volume before the first sound
  if (!devicePaused_) {
    device.Play();
  }
  view_->EnableStop(true);
  view_->EnablePause(true);

  std::int64_t lengthMs = -1;  // the total is written once even while unknown
  UpdateLength(device, lengthMs, stop);
  while (!stop.stop_requested()) {
    switch (RunCycle(device, lengthMs, stop)) {
      case MediaMode::kEnded:
        return WorkerEnding::kSongEnded;
      case MediaMode::kFailed:
        // Not an end: the song broke off, and the window says so.
        ShowStopped(*view_);
        return WorkerEnding::kFailed;
      case MediaMode::kPlaying:
        break;
    }
    PauseUnlessStopped(stop);
  }
  return WorkerEnding::kStopped;
}

// One polling cycle; the device's mode at its end.
MediaMode PlaybackWorker::RunCycle(MediaDevice& device, std::int64_t& lengthMs,
                                   std::stop_token stop) {
  // A seek may wait for the bytes at its target, and says so meanwhile. A
  // stream that cannot seek drops the request: the thumb goes back to the
  // playing position below.
  if (!stop.stop_requested() && words_.seekPending.exchange(false)) {
    view_->ShowState(texts::kBuffering);
    if (device.Seek(words_.seekTargetMs) && !devicePaused_) {
      device.Play();
    }
  }
  FollowRequests(device);
  // A paused song says so only once the place it stands at is shown: whoever
  // sees "已暂停" (the window, a screen reader, the desktop's media
  // controls) finds the times of the same moment.
  if (!devicePaused_) {
    view_->ShowState(texts::kPlaying);
  }
  const auto positionMs = device.PositionMs();
  UpdateLength(device, lengthMs, stop);  // after the position: the end may tell it
  if (positionMs) {
    if (!stop.stop_requested()) {
      words_.positionMs = *positionMs;
    }
    view_->ShowElapsed(ElapsedText(*positionMs));
    const auto slider = SliderValue(*positionMs, lengthMs);
    if (slider && !words_.seekDragging) {
      view_->SetSlider(*slider);
    }
  }
  if (devicePaused_) {
    view_->ShowState(texts::kPaused);
  }
  return device.Mode();
}

// The length as the device knows it now: a stream without a length header
// learns it after its first frames, or only as it goes.
void PlaybackWorker::UpdateLength(MediaDevice& device, std::int64_t& lengthMs,
                                  std::stop_token stop) {
  const std::int64_t known = device.LengthMs().value_or(0);
  if (known == lengthMs) {
    return;
  }
  lengthMs = known;
  if (!stop.stop_requested()) {
    words_.lengthMs = known;  // a stopped worker must not hand its length to the next
  }
  view_->ShowTotal(TotalText(known));
}

// A pause keeps the stream and the polling: the times stay where they are.
void PlaybackWorker::FollowRequests(MediaDevice& device) {
  if (const bool paused = words_.paused; paused != devicePaused_) {
    paused ? device.Pause() : device.Play();
    devicePaused_ = paused;
  }
  if (const double volume = words_.volume; volume != deviceVolume_) {
    device.SetVolume(volume);
    deviceVolume_ = volume;
  }
}

void PlaybackWorker::SetOpenOutcome(OpenOutcome outcome) {
  {
    std::lock_guard lock(mutex_);
    openOutcome_ = outcome;
  }
  changed_.notify_all();
}

void PlaybackWorker::Finish(WorkerEnding ending, std::string failure) {
  {
    std::lock_guard lock(mutex_);
    ending_ = ending;
    failure_ = std::move(failure);
  }
  changed_.notify_all();
}

}  // namespace melo::playback
