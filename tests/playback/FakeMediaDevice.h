#pragma once
// A media device without sound for worker and handler tests. Its song
// advances by `stepMs` at each position query while it plays, so tests run
// through a song in a few polling cycles. Every device that the factory
// makes logs its commands, numbered by device, into the shared FakeMedia.

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "playback/MediaDevice.h"

namespace melo::playback::testing {

class FakeMedia {
 public:
  std::int64_t lengthMs = 245'678;
  std::int64_t stepMs = 1000;
  std::set<std::string> unopenable;  // device addresses whose open fails

  MediaDeviceFactory Factory();

  // Opens of `address` hang, deaf to the stop token, until ReleaseOpens().
  void HoldOpens(const std::string& address) {
    std::lock_guard lock(mutex_);
    heldAddress_ = address;
  }
  void ReleaseOpens() {
    {
      std::lock_guard lock(mutex_);
      heldAddress_.reset();
    }
    released_.notify_all();
  }

  void Log(int device, const std::string& entry) {
    std::lock_guard lock(mutex_);
    log_.push_back(std::to_string(device) + " " + entry);
  }
  std::vector<std::string> Entries() const {
    std::lock_guard lock(mutex_);
    return log_;
  }
  bool Logged(const std::string& entry) const {
    const auto entries = Entries();
    return std::find(entries.begin(), entries.end(), entry) != entries.end();
  }
  int DevicesMade() const {
    std::lock_guard lock(mutex_);
    return devicesMade_;
  }

 private:
  friend class FakeMediaDevice;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  std::optional<std::string> heldAddress_;
  std::vector<std::string> log_;
  int devicesMade_ = 0;
};

class FakeMediaDevice final : public MediaDevice {
 public:
  explicit FakeMediaDevice(FakeMedia& media) : media_(media) {
    std::lock_guard lock(media.mutex_);
    id_ = ++media.devicesMade_;
  }

  OpenResult Open(const std::string& address) override {
    {
      std::unique_lock lock(media_.mutex_);
      media_.released_.wait(lock, [&] { return media_.heldAddress_ != address; });
    }
    media_.Log(id_, "open " + address);
    return media_.unopenable.contains(address) ? OpenResult::kFailed : OpenResult::kOpened;
  }
  void Seek(std::int64_t targetMs) override {
    media_.Log(id_, "seek " + std::to_string(targetMs));
    positionMs_ = std::clamp<std::int64_t>(targetMs, 0, media_.lengthMs);
  }
  void Play() override {
    media_.Log(id_, "play");
    playing_ = true;
  }
  std::optional<std::int64_t> LengthMs() override { return media_.lengthMs; }
  std::optional<std::int64_t> PositionMs() override {
    if (playing_) {
      positionMs_ = std::min(positionMs_ + media_.stepMs, media_.lengthMs);
    }
    return positionMs_;
  }
  MediaMode Mode() override {
    return positionMs_ >= media_.lengthMs ? MediaMode::kStopped : MediaMode::kPlaying;
  }
  void Stop() override {
    media_.Log(id_, "stop");
    playing_ = false;
  }
  void Close() override { media_.Log(id_, "close"); }

 private:
  FakeMedia& media_;
  int id_ = 0;
  std::int64_t positionMs_ = 0;
  bool playing_ = false;
};

inline MediaDeviceFactory FakeMedia::Factory() {
  return [this](std::stop_token) { return std::make_unique<FakeMediaDevice>(*this); };
}

}  // namespace melo::playback::testing
