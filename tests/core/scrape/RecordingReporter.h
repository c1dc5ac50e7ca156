#pragma once
// A reporter that records every event in order as text, for runner tests:
// "status <text>", "song <title> <song link>", "singer <name> <link>", "finished".

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
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
    Record("song " + text::GbkToUtf8(r.title) + " " + r.songLink);
  }
  void SingerRow(const SingerRecord& r) override {
    Record("singer " + text::GbkToUtf8(r.singer) + " " + r.singerLink);
  }
  void Finished() override { Record("finished"); }

  std::vector<std::string> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  // The events of a kind: "song ", "singer ", "status ".
  std::size_t Count(std::string_view kind) const {
    std::lock_guard lock(mutex_);
    return std::ranges::count_if(events_,
                                 [&](const std::string& e) { return e.starts_with(kind); });
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
};

}  // namespace melo::scrape
