#pragma once
// A reporter that records every event in order, for runner tests.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/scrape/RunReporter.h"
#include "core/text/Gbk.h"

namespace melo::scrape {

class RecordingReporter : public RunReporter {
 public:
  // Called after each recorded event (e.g. to stop the run at some point).
  std::function<void()> afterEvent = [] {};

  void Status(const std::string& text) override { Record("status " + text::GbkToUtf8(text)); }
  void SongRow(const SongRecord& r) override {
    {
      std::lock_guard lock(mutex_);
      songs_.push_back(r);
    }
    Record("song " + text::GbkToUtf8(r.title));
  }
  void SingerRow(const SingerRecord& r) override {
    {
      std::lock_guard lock(mutex_);
      singers_.push_back(r);
    }
    Record("singer " + text::GbkToUtf8(r.singer));
  }
  void Finished() override { Record("finished"); }

  std::vector<std::string> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<SongRecord> Songs() const {
    std::lock_guard lock(mutex_);
    return songs_;
  }
  std::vector<SingerRecord> Singers() const {
    std::lock_guard lock(mutex_);
    return singers_;
  }

 private:
  void Record(std::string event) {
    {
      std::lock_guard lock(mutex_);
      events_.push_back(std::move(event));
    }
    afterEvent();
  }

  mutable std::mutex mutex_;
  std::vector<std::string> events_;
  std::vector<SongRecord> songs_;
  std::vector<SingerRecord> singers_;
};

}  // namespace melo::scrape
