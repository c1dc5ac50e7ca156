#pragma once
// The window side of playback for tests: a song list, the controls as
// plain values, and a task queue that the test thread runs, so the test
// thread plays the part of the window's thread.

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "playback/PlaybackController.h"

namespace melo::playback::testing {

class TestWindow final : public SongList, public PlaybackView, public WindowThread {
 public:
  std::vector<std::string> links;  // column 2 of each row, quoted

  // What the controls show.
  std::string state, total, elapsed;
  int slider = kSliderMinimum;
  bool stopEnabled = false, sliderEnabled = false;
  // Every state text written (repeats folded), every elapsed text and
  // slider value, in order.
  std::vector<std::string> states, elapsedTexts;
  std::vector<int> sliderValues;

  int RowCount() const override { return static_cast<int>(links.size()); }
  std::string DownloadLink(int row) const override { return links.at(row); }

  void ShowState(std::string_view text) override {
    state = text;
    if (states.empty() || states.back() != state) {
      states.push_back(state);
    }
  }
  void ShowTotal(std::string_view text) override { total = text; }
  void ShowElapsed(std::string_view text) override {
    elapsed = text;
    elapsedTexts.push_back(elapsed);
  }
  // The slider widget keeps its value within its range, as the window's does.
  void SetSlider(int value) override {
    slider = std::max(value, kSliderMinimum);
    sliderValues.push_back(value);
  }
  void EnableStop(bool enabled) override { stopEnabled = enabled; }
  void EnableSlider(bool enabled) override { sliderEnabled = enabled; }

  void Post(std::function<void()> task) override {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }

  // Runs posted tasks until `done` holds; false if it never does.
  template <typename Predicate>
  bool PumpUntil(Predicate done, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      RunPosted();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  void RunPosted() {
    std::deque<std::function<void()>> batch;
    {
      std::lock_guard lock(mutex_);
      batch.swap(tasks_);
    }
    for (auto& task : batch) {
      task();
    }
  }

 private:
  static constexpr int kSliderMinimum = 1;
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
};

}  // namespace melo::playback::testing
