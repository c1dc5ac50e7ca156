// From the play command to "播放中" on loopback, for the bundled site (Range,
// length header) and for a plain server without Range. Goal: at most 0.3 s
// each; the counter "of_limit" is the mean time as a share of that limit.

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "core/download/SongCache.h"
#include "core/net/SongServer.h"
#include "playback/GstMediaDevice.h"
#include "playback/PlaybackTexts.h"
#include "playback/PlaybackWorker.h"
#include "site/BundledSite.h"
#include "site/Catalogue.h"

namespace {

using namespace melo;
constexpr double kLimitSeconds = 0.3;

// Wakes the waiting benchmark when the worker first shows "播放中".
class PlayingView final : public playback::PlaybackView {
 public:
  void ShowState(std::string_view text) override {
    if (text == playback::texts::kPlaying) {
      {
        std::lock_guard lock(mutex_);
        playing_ = true;
      }
      changed_.notify_all();
    }
  }
  void ShowTotal(std::string_view) override {}
  void ShowElapsed(std::string_view) override {}
  void SetSlider(int) override {}
  void EnableStop(bool) override {}
  void EnableSlider(bool) override {}

  bool WaitForPlaying(std::chrono::seconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return playing_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool playing_ = false;
};

void TimeToPlaying(benchmark::State& state, const std::string& address) {
  setenv("MELODRIFT_AUDIO_SINK", "fakesink sync=true", 0);
  double totalSeconds = 0;
  for (auto _ : state) {
    // Each start fetches the song anew rather than playing the cached copy.
    std::filesystem::remove_all(download::SongCacheFolder());
    playback::PlaybackWords words;
    auto owned = std::make_unique<PlayingView>();
    PlayingView& view = *owned;
    const auto start = std::chrono::steady_clock::now();
    playback::PlaybackWorker worker(address, words, std::move(owned), [](std::stop_token stop) {
      return playback::MakeGstMediaDevice(std::move(stop));
    });
    if (!view.WaitForPlaying(std::chrono::seconds(20))) {
      state.SkipWithError("the song never played");
      return;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
    totalSeconds += took.count();
  }  // each worker is stopped and joined before the next starts
  state.counters["of_limit"] =
      benchmark::Counter(totalSeconds / kLimitSeconds, benchmark::Counter::kAvgIterations);
}

void BM_BundledSite(benchmark::State& state) {
  const bundled::BundledSite site;
  const auto& song = bundled::DemoCatalogue().Songs().front();
  TimeToPlaying(state, "http://" + site.Host() + "/cache/mp3/" + song.id + "/song.mp3");
}

void BM_ServerWithoutRange(benchmark::State& state) {
  const net::testing::SongServer server({.ranges = false});
  TimeToPlaying(state, server.Address());
}

BENCHMARK(BM_BundledSite)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_ServerWithoutRange)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
