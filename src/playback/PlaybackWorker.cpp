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

void PlaybackWorker::Run(std::stop_token stop) {
  words_.seekPending = false;
  view_->EnableSlider(true);
  view_->ShowState(texts::kBuffering);

  const std::unique_ptr<MediaDevice> device = makeDevice_(stop);
  if (device->Open(DeviceAddress(address_)) != OpenResult::kOpened) {
    SetOpenOutcome(OpenOutcome::kFailed);
    Finish(WorkerEnding::kOpenFailed);
    return;
  }
  SetOpenOutcome(OpenOutcome::kOpened);
  // A worker told to stop during a long open must not start its song.
  const WorkerEnding ending =
      stop.stop_requested() ? WorkerEnding::kStopped : PlayOpened(*device, stop);
  device->Stop();
  device->Close();
  if (ending == WorkerEnding::kSongEnded) {
    view_->SongEnded();
  }
  Finish(ending);
}

WorkerEnding PlaybackWorker::PlayOpened(MediaDevice& device, std::stop_token stop) {
  view_->ShowState(texts::kBuffering);
  device.Seek(words_.seekTargetMs);
  device.Play();
  view_->EnableStop(true);

  const std::int64_t lengthMs = device.LengthMs().value_or(0);
  if (!stop.stop_requested()) {
    words_.lengthMs = lengthMs;  // a stopped worker must not hand its length to the next
  }
  view_->ShowTotal(TotalText(lengthMs));

  while (!stop.stop_requested()) {
    if (RunCycle(device, lengthMs, stop)) {
      return WorkerEnding::kSongEnded;
    }
    PauseUnlessStopped(stop);
  }
  return WorkerEnding::kStopped;
}

// One polling cycle; true once the song has ended.
bool PlaybackWorker::RunCycle(MediaDevice& device, std::int64_t lengthMs, std::stop_token stop) {
  if (!stop.stop_requested() && words_.seekPending.exchange(false)) {
    view_->ShowState(texts::kBuffering);
    device.Seek(words_.seekTargetMs);
    device.Play();
  }
  view_->ShowState(texts::kPlaying);
  if (const auto positionMs = device.PositionMs()) {
    if (!stop.stop_requested()) {
      words_.positionMs = *positionMs;
    }
    view_->ShowElapsed(ElapsedText(*positionMs));
    const auto slider = SliderValue(*positionMs, lengthMs);
    if (slider && !words_.seekDragging) {
      view_->SetSlider(*slider);
    }
  }
  return device.Mode() == MediaMode::kStopped;
}

void PlaybackWorker::SetOpenOutcome(OpenOutcome outcome) {
  {
    std::lock_guard lock(mutex_);
    openOutcome_ = outcome;
  }
  changed_.notify_all();
}

void PlaybackWorker::Finish(WorkerEnding ending) {
  {
    std::lock_guard lock(mutex_);
    ending_ = ending;
  }
  changed_.notify_all();
}

}  // namespace melo::playback
