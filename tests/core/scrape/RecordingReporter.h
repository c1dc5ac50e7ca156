#pragma once
// A reporter that records every event in order as text, for runner tests:
// "status <text>", "song <title> <song link>", "singer <name> <link>",
// "failure <reason>", "finished".

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/scrape/RunReporter.h"
#include "core/text/Gbk.h"

namespace melo::scrape {

class RecordingReporter : public RunReporter {
 public:
  // Called with each event once it is recorded (e.g. to stop the run there).
  std::function<void(const std::string&)> afterEvent = [](const std::string&) {};

  void Status(const std::string& text) override { Record("status " + text::GbkToUtf8(text)); }
  void SongRow(const SongRecord& r) override {
    Record("song " + text::GbkToUtf8(r.title) + " " + r.songLink);
  }
  void SingerRow(const SingerRecord& r) override {
    Record("singer " + text::GbkToUtf8(r.singer) + " " + r.singerLink);
  }
  void Failure(const std::string& reason) override { Record("failure " + reason); }
  void Finished() override { Record("finished"); }

  std::vector<std::string> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  void Record(const std::string& event) {
    {
      std::lock_guard lock(mutex_);
      events_.push_back(event);
    }
    afterEvent(event);
  }

  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

}  // namespace melo::scrape
