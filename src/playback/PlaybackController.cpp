#include "playback/PlaybackController.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "playback/PlaybackAddress.h"
#include "playback/PlaybackTexts.h"
#include "playback/PlaybackTimes.h"

namespace melo::playback {

// What decides, on the window's thread, whether a worker's report may still
// reach the controls: only the current worker's may, and none once the
// controller has gone.
struct PlaybackController::Gate {
  Gate(PlaybackController& owner, PlaybackView& controls) : owner(owner), controls(controls) {}
  PlaybackController& owner;  // hears that the song ended by itself
  PlaybackView& controls;
  std::uint64_t currentTicket = 0;  // 0: no worker is current
};

// A worker's view: every call becomes a task on the window's thread that is
// dropped unless the worker is still the current one when it runs.
class PlaybackController::GatedView final : public PlaybackView {
 public:
  GatedView(WindowThread& window, std::weak_ptr<Gate> gate, std::uint64_t ticket)
      : window_(window), gate_(std::move(gate)), ticket_(ticket) {}

  void ShowState(std::string_view text) override {
    Forward([t = std::string(text)](PlaybackView& v) { v.ShowState(t); });
  }
  void ShowTotal(std::string_view text) override {
    Forward([t = std::string(text)](PlaybackView& v) { v.ShowTotal(t); });
  }
  void ShowElapsed(std::string_view text) override {
    Forward([t = std::string(text)](PlaybackView& v) { v.ShowElapsed(t); });
  }
  void SetSlider(int value) override {
    Forward([value](PlaybackView& v) { v.SetSlider(value); });
  }
  void EnableStop(bool enabled) override {
    Forward([enabled](PlaybackView& v) { v.EnableStop(enabled); });
  }
  void EnableSlider(bool enabled) override {
    Forward([enabled](PlaybackView& v) { v.EnableSlider(enabled); });
  }
  void EnablePause(bool enabled) override {
    Forward([enabled](PlaybackView& v) { v.EnablePause(enabled); });
  }
  void SongEnded() override {
    ForwardToGate([](Gate& g) { g.owner.OnSongEnded(); });
  }

 private:
  template <typename Apply>
  void Forward(Apply apply) {
    ForwardToGate([apply = std::move(apply)](Gate& g) { apply(g.controls); });
  }
  template <typename Apply>
  void ForwardToGate(Apply apply) {
    window_.Post([gate = gate_, ticket = ticket_, apply = std::move(apply)] {
      const auto live = gate.lock();
      if (live && live->currentTicket == ticket) {
        apply(*live);
      }
    });
  }

  WindowThread& window_;
  const std::weak_ptr<Gate> gate_;
  const std::uint64_t ticket_;
};

PlaybackController::PlaybackController(SongList& songs, PlaybackView& controls,
                                       WindowThread& window, MediaDeviceFactory makeDevice,
                                       PlaybackWaits waits)
    : songs_(songs),
      controls_(controls),
      window_(window),
      makeDevice_(std::move(makeDevice)),
      waits_(waits),
      gate_(std::make_shared<Gate>(*this, controls)) {}

PlaybackController::~PlaybackController() {
  gate_.reset();
  if (worker_) {
    worker_->RequestStop();
  }
  for (const auto& old : retired_) {
    old->RequestStop();
  }
  worker_.reset();
  retired_.clear();
}

void PlaybackController::OnPlaySelected(int selectionMark) {
  if (closed_) {
    return;
  }
  for (int attempt = 0; attempt < kPlayAttempts; ++attempt) {
    controls_.SetSlider(0);
    words_.seekTargetMs = 0;
    words_.seekPending = false;
    OnStopPlayback();
    if (!IsRow(selectionMark)) {
      return;
    }
    playIndex_ = selectionMark;
    playAddress_ = UnquoteLink(songs_.DownloadLink(selectionMark));
    shuffle_.Played(playIndex_, songs_.RowCount());
    StartWorker();
    // Waiting for the open's outcome rather than the whole second keeps the
    // window responsive once the song has opened.
    if (worker_->WaitForOpenOutcome(waits_.play) != OpenOutcome::kFailed) {
      return;
    }
  }
  // Every attempt failed at once: say so instead of trying for ever.
  OnStopPlayback();
}

void PlaybackController::OnStopPlayback() {
  StopWorker(waits_.stop);
  ShowStopped();
}

void PlaybackController::OnPreviousSong() {
  Step(-1);
}

void PlaybackController::OnNextSong() {
  Step(+1);
}

void PlaybackController::OnSliderScroll(SliderEvent event, int sliderValue) {
  words_.seekDragging = true;
  if (event == SliderEvent::kMoving) {
    return;
  }
  words_.seekDragging = false;
  // While the length is unknown a slider value stands for no position.
  if (const std::int64_t lengthMs = words_.lengthMs;
      event == SliderEvent::kEndTrack && lengthMs > 0) {
    words_.seekTargetMs = SeekTarget(lengthMs, sliderValue);
    words_.seekPending = true;
  }
}

void PlaybackController::OnCloseWindow() {
  closed_ = true;
  OnStopPlayback();
}

void PlaybackController::SetPaused(bool paused) {
  if (worker_ && worker_->Ending() == WorkerEnding::kRunning) {
    words_.paused = paused;
  }
}

void PlaybackController::SetVolume(double linear) {
  words_.volume = std::clamp(linear, 0.0, 1.0);
}

bool PlaybackController::IsRow(int row) const {
  return row >= 0 && row < songs_.RowCount();
}

void PlaybackController::StopWorker(std::chrono::milliseconds wait) {
  gate_->currentTicket = 0;
  words_.paused = false;  // nothing plays, so nothing is held
  std::erase_if(retired_, [](const auto& old) { return old->Ending() != WorkerEnding::kRunning; });
  if (!worker_) {
    return;
  }
  worker_->RequestStop();
  if (!worker_->WaitForEnd(wait)) {
    retired_.push_back(std::move(worker_));
  }
  worker_.reset();
}

void PlaybackController::ShowStopped() {
  playback::ShowStopped(controls_);
}

void PlaybackController::StartWorker() {
  gate_->currentTicket = ++lastTicket_;
  words_.positionMs = words_.seekTargetMs.load();  // where the new worker starts
  worker_ = std::make_unique<PlaybackWorker>(
      playAddress_, words_, std::make_unique<GatedView>(window_, gate_, gate_->currentTicket),
      makeDevice_);
}

// Previous and next count from the stored index, which may no longer name
// a row (rows deleted while the song played): "<<" on row 0 and ">>" on the
// last row play the same song again, and only a target row that does not
// exist plays nothing.
void PlaybackController::Step(int delta) {
  StopWorker(waits_.step);
  if (closed_) {
    return;
  }
  const int lastRow = songs_.RowCount() - 1;
  const bool sameAgain = playIndex_ == (delta < 0 ? 0 : lastRow);
  const int target = playIndex_ + delta;
  if (!sameAgain && !IsRow(target)) {
    ShowStopped();
    return;
  }
  if (!sameAgain) {
    playAddress_ = UnquoteLink(songs_.DownloadLink(target));
    playIndex_ = target;
  }
  shuffle_.Played(playIndex_, songs_.RowCount());
  ShowStopped();
  StartWorker();
}

// In "单曲" the window keeps what it shows ("播放中", the last times); the
// other modes go on from 0:00, and "顺序播放" stops after the last row.
void PlaybackController::OnSongEnded() {
  if (mode_ == PlayMode::kSingle) {
    controls_.SongEnded();
    return;
  }
  const std::optional<int> next = RowAfterEnd(mode_, playIndex_, songs_.RowCount(), shuffle_);
  if (!next && mode_ != PlayMode::kLoopOne) {
    StopWorker(waits_.step);
    ShowStopped();
    return;
  }
  // "单曲循环" plays the song it played, even when its row has gone.
  PlayFromStart(mode_ == PlayMode::kLoopOne ? -1 : *next);
}

// -1: the song played last.
void PlaybackController::PlayFromStart(int row) {
  StopWorker(waits_.step);       // the worker has ended: this only lets it go
  controls_.EnablePause(false);  // until the next song has opened
  controls_.SetSlider(0);
  words_.seekTargetMs = 0;
  words_.seekPending = false;
  if (row >= 0) {
    playIndex_ = row;
    playAddress_ = UnquoteLink(songs_.DownloadLink(row));
  }
  StartWorker();
}

}  // namespace melo::playback
