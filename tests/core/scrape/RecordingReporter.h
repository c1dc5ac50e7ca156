#pragma once
// A reporter that records every event in order, for runner tests.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Printers.h"
#include "core/scrape/RunReporter.h"
#include "core/text/Gbk.h"

namespace melo::scrape {

class RecordingReporter : public RunReporter {
 public:
  // Called after each recorded event (e.g. to stop the run at some point).
  std::function<void()> afterEvent = [] {};

  void Status(const std::string& text) override { Record("status " + text::GbkToUtf8(text)); }
  void SongRow(const SongRecord& r) override { Record("song " + text::GbkToUtf8(r.title), &r); }
  void SingerRow(const SingerRecord& r) override {
    Record("singer " + text::GbkToUtf8(r.singer), nullptr, &r);
  }
  void Finished() override { Record("finished"); }

  std::vector<std::string> Events() const { return Locked(events_); }
  std::vector<SongRecord> Songs() const { return Locked(songs_); }
  std::vector<SingerRecord> Singers() const { return Locked(singers_); }

 private:
  void Record(std::string event, const SongRecord* song = nullptr,
              const SingerRecord* singer = nullptr) {
    {
      std::lock_guard lock(mutex_);
      events_.push_back(std::move(event));
      if (song)
        songs_.push_back(*song);
      if (singer)
        singers_.push_back(*singer);
    }
    afterEvent();
  }
  template <typename T>
  T Locked(const T& value) const {
    std::lock_guard lock(mutex_);
    return value;
  }

  mutable std::mutex mutex_;
  std::vector<std::string> events_;
  std::vector<SongRecord> songs_;
  std::vector<SingerRecord> singers_;
};

}  // namespace melo::scrape
