// From a slider release to "播放中" at the new place, on loopback: within
// the cached part (goal: at most 0.3 s) and beyond it on a Range server
// (at most 1 s); and the cache's disk writes per byte of the song (goal: 1).

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "core/download/CachedSong.h"
#include "core/download/SongCache.h"
#include "core/net/SongServer.h"
#include "playback/GstMediaDevice.h"
#include "playback/PlaybackTexts.h"
#include "playback/PlaybackWorker.h"

namespace {

using namespace melo;
using Clock = std::chrono::steady_clock;
using net::testing::Serving;

// 45 s of constant bit rate frames: room for a seek far beyond the cached part.
std::string LongSong() {
  const std::string frames = net::testing::SongBytes("audio/tide.mp3", true);
  return frames + frames + frames;
}
constexpr std::int64_t kLongSongMs = 45'000;

// The states shown, each with when it was shown.
class StateClock final : public playback::PlaybackView {
 public:
  void ShowState(std::string_view text) override {
    {
      std::lock_guard lock(mutex_);
      shown_.emplace_back(text, Clock::now());
    }
    changed_.notify_all();
  }
  void ShowTotal(std::string_view) override {}
  void ShowElapsed(std::string_view) override {}
  void SetSlider(int) override {}
  void EnableStop(bool) override {}
  void EnableSlider(bool) override {}

  std::size_t Count() {
    std::lock_guard lock(mutex_);
    return shown_.size();
  }
  // When "播放中" was first shown after the first `after` states.
  std::optional<Clock::time_point> PlayingAfter(std::size_t after) {
    std::unique_lock lock(mutex_);
    std::optional<Clock::time_point> at;
    changed_.wait_for(lock, std::chrono::seconds(20), [&] {
      for (std::size_t i = after; i < shown_.size() && !at; ++i) {
        if (shown_[i].first == playback::texts::kPlaying)
          at = shown_[i].second;
      }
      return at.has_value();
    });
    return at;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::pair<std::string, Clock::time_point>> shown_;
};

bool WaitUntil(const std::function<bool()>& ready) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (!ready() && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return ready();
}

void SeekToPlaying(benchmark::State& state, bool beyondTheCache, double limitSeconds) {
  setenv("MELODRIFT_AUDIO_SINK", "fakesink sync=true", 0);
  const std::string song = LongSong();
  const std::int64_t targetMs = beyondTheCache ? kLongSongMs - 1500 : kLongSongMs * 2 / 3;
  double totalSeconds = 0;
  for (auto _ : state) {
    std::filesystem::remove_all(download::SongCacheFolder());
    // Beyond: the first transfer holds half-way, so the target is not cached.
    net::testing::SongServer server(
        {.breaks = beyondTheCache ? Serving::Break::kHoldHalfWay : Serving::Break::kNone}, song);
    playback::PlaybackWords words;
    auto owned = std::make_unique<StateClock>();
    StateClock& view = *owned;
    playback::PlaybackWorker worker(server.Address(), words, std::move(owned), [](auto stop) {
      return playback::MakeGstMediaDevice(std::move(stop));
    });
    const bool ready = WaitUntil([&] { return words.positionMs >= 300; }) &&
                       (beyondTheCache || WaitUntil([&] {
                          return download::WholeCachedSong(server.Address()).has_value();
                        }));
    if (!ready) {
      state.SkipWithError("the song never played");
      return;
    }
    const std::size_t shown = view.Count();
    const auto start = Clock::now();
    words.seekTargetMs = targetMs;
    words.seekPending = true;
    const auto playing = view.PlayingAfter(shown);
    if (!playing) {
      state.SkipWithError("the seek never played");
      return;
    }
    WaitUntil([&] { return std::llabs(words.positionMs - targetMs) < 1000; });
    if (std::llabs(words.positionMs - targetMs) >= 1000) {
      state.SkipWithError("the seek landed elsewhere");
      return;
    }
    const std::chrono::duration<double> took = *playing - start;
    state.SetIterationTime(took.count());
    totalSeconds += took.count();
    server.LetBreak();
  }
  state.counters["of_limit"] =
      benchmark::Counter(totalSeconds / limitSeconds, benchmark::Counter::kAvgIterations);
}

void BM_SeekWithinTheCache(benchmark::State& state) {
  SeekToPlaying(state, false, 0.3);
}
void BM_SeekBeyondTheCacheOnARangeServer(benchmark::State& state) {
  SeekToPlaying(state, true, 1.0);
}

// A song read from near its end first, then from its start: what the cache
// wrote for it, per byte of the song.
void CacheWrites(benchmark::State& state, Serving serving) {
  const std::string song = LongSong();
  double writesPerByte = 0;
  for (auto _ : state) {
    std::filesystem::remove_all(download::SongCacheFolder());
    net::testing::SongServer server(serving, song);
    server.LetBreak();
    download::CachedSong cached(server.Address(), {});
    std::string piece(64 * 1024, '\0');
    for (const std::uint64_t from : {song.size() - song.size() / 10, std::uint64_t{0}}) {
      for (std::uint64_t at = from;;) {
        const std::size_t got = cached.Read(at, piece.data(), piece.size());
        if (got == 0)
          break;
        at += got;
      }
    }
    WaitUntil([&] { return cached.Whole(); });
    writesPerByte = static_cast<double>(cached.WrittenBytes()) / static_cast<double>(song.size());
  }
  state.counters["writes_per_byte"] = writesPerByte;
}

void BM_CacheWritesRangeServer(benchmark::State& state) {
  CacheWrites(state, {});
}
void BM_CacheWritesServerWithoutRangeDroppingHalfWay(benchmark::State& state) {
  CacheWrites(state, {.ranges = false, .breaks = Serving::Break::kDropHalfWay});
}

BENCHMARK(BM_SeekWithinTheCache)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_SeekBeyondTheCacheOnARangeServer)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK(BM_CacheWritesRangeServer)->Iterations(3);
BENCHMARK(BM_CacheWritesServerWithoutRangeDroppingHalfWay)->Iterations(3);

}  // namespace
