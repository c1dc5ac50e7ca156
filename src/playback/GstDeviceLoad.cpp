// MakeGstMediaDevice on the program's side: loads the player module and
// opens each song for it over the program's own transfer.

#include <memory>
#include <string>
#include <utility>

#include "core/download/CachedSong.h"
#include "core/module/LoadedModule.h"
#include "playback/GstMediaDevice.h"
#include "playback/PlayerModule.h"

namespace melo::playback {
namespace {

// Where the player module could not be loaded: every open fails, saying why.
class MissingDevice final : public MediaDevice {
 public:
  explicit MissingDevice(std::string failure) : failure_(std::move(failure)) {}
  OpenResult Open(const std::string& /*address*/) override { return OpenResult::kFailed; }
  bool Seek(std::int64_t /*targetMs*/) override { return false; }
  void Play() override {}
  void Pause() override {}
  void SetVolume(double /*linear*/) override {}
  std::optional<std::int64_t> LengthMs() override { return std::nullopt; }
  std::optional<std::int64_t> PositionMs() override { return std::nullopt; }
  MediaMode Mode() override { return MediaMode::kFailed; }
  std::string Failure() override { return failure_; }
  void Stop() override {}
  void Close() override {}

 private:
  const std::string failure_;
};

// The module's device, with the module held open for as long as it lives.
class ModuleDevice final : public MediaDevice {
 public:
  ModuleDevice(std::unique_ptr<const module::LoadedModule> player,
               std::unique_ptr<MediaDevice> device)
      : player_(std::move(player)), device_(std::move(device)) {}
  OpenResult Open(const std::string& address) override { return device_->Open(address); }
  bool Seek(std::int64_t targetMs) override { return device_->Seek(targetMs); }
  void Play() override { device_->Play(); }
  void Pause() override { device_->Pause(); }
  void SetVolume(double linear) override { device_->SetVolume(linear); }
  std::optional<std::int64_t> LengthMs() override { return device_->LengthMs(); }
  std::optional<std::int64_t> PositionMs() override { return device_->PositionMs(); }
  MediaMode Mode() override { return device_->Mode(); }
  std::string Failure() override { return device_->Failure(); }
  void Stop() override { device_->Stop(); }
  void Close() override { device_->Close(); }

 private:
  const std::unique_ptr<const module::LoadedModule> player_;
  const std::unique_ptr<MediaDevice> device_;  // after player_: gone before it
};

SongOpener CachedSongs(const GstDeviceOptions& options) {
  download::DownloadOptions rules;
  rules.stall = options.stallLimit;
  rules.retries = options.transferRetries;
  return [rules](const std::string& address) {
    return std::make_shared<download::CachedSong>(address, rules);
  };
}

}  // namespace

std::unique_ptr<MediaDevice> MakeGstMediaDevice(std::stop_token stop, GstDeviceOptions options) {
  auto player = std::make_unique<const module::LoadedModule>(kPlayerModule, kPlayerEntry);
  auto* const make = player->Entry<MakeDeviceEntry>();
  if (make == nullptr)
    return std::make_unique<MissingDevice>("cannot start playback: " + player->Failure());
  std::unique_ptr<MediaDevice> device(make(std::move(stop), CachedSongs(options)));
  return std::make_unique<ModuleDevice>(std::move(player), std::move(device));
}

}  // namespace melo::playback
