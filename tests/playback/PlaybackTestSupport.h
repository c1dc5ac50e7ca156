#pragma once
// What the playback tests share: a wait on a condition, a view that records
// what it is shown, and the outcomes by name in a failing test's message.

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Printers.h"
#include "playback/MediaDevice.h"
#include "playback/PlaybackWorker.h"

namespace melo::playback {

inline void PrintTo(OpenResult v, std::ostream* os) {
  printing::PrintName(v, {"kOpened", "kFailed", "kTimedOut", "kStopped"}, os);
}
inline void PrintTo(WorkerEnding v, std::ostream* os) {
  printing::PrintName(v, {"kRunning", "kOpenFailed", "kSongEnded", "kFailed", "kStopped"}, os);
}

// Until `ready`, with a deadline far beyond any healthy wait (it guards a
// hang, it times nothing).
inline bool WaitUntil(const std::function<bool()>& ready) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// What a view was shown, from any thread: each control's values in order,
// repeats folded, and how often it was shown anything.
class RecordingView final : public PlaybackView {
 public:
  void ShowState(std::string_view text) override { Add("state", text); }
  void ShowTotal(std::string_view text) override { Add("total", text); }
  void ShowElapsed(std::string_view text) override { Add("elapsed", text); }
  void SetSlider(int value) override { Add("slider", std::to_string(value)); }
  void EnableStop(bool enabled) override { Add("stop-enabled", enabled ? "1" : "0"); }
  void EnableSlider(bool enabled) override { Add("slider-enabled", enabled ? "1" : "0"); }
  void EnablePause(bool enabled) override { Add("pause-enabled", enabled ? "1" : "0"); }
  void SongEnded() override { Add("ended", "1"); }

  std::vector<std::string> Values(const std::string& control) const {
    std::lock_guard lock(mutex_);
    const auto found = shown_.find(control);
    return found == shown_.end() ? std::vector<std::string>{} : found->second;
  }
  // Calls, repeats included: the worker shows its state once a cycle.
  std::size_t Calls(const std::string& control) const {
    std::lock_guard lock(mutex_);
    const auto found = calls_.find(control);
    return found == calls_.end() ? 0 : found->second;
  }
  // The last value shown, "" for none.
  std::string Last(const std::string& control) const {
    const auto values = Values(control);
    return values.empty() ? "" : values.back();
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    shown_.clear();
    calls_.clear();
  }

 private:
  void Add(const std::string& control, std::string_view value) {
    std::lock_guard lock(mutex_);
    ++calls_[control];
    auto& values = shown_[control];
    if (values.empty() || values.back() != value) {
      values.emplace_back(value);
    }
  }

  mutable std::mutex mutex_;
  std::map<std::string, std::vector<std::string>> shown_;
  std::map<std::string, std::size_t> calls_;
};

}  // namespace melo::playback
