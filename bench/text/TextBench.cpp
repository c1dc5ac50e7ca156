// Find over a large GBK text against memmem on the same bytes (goal: at
// least half of memmem's throughput), and the song extraction of a 64 KB
// page held in memory.

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

#include "core/scrape/SongPageParser.h"
#include "core/text/Gbk.h"
#include "core/text/TextRules.h"

namespace {

// Mostly two-byte Chinese characters with some markup, as a song page is,
// and the marker only at the very end.
std::string GbkText(size_t size, std::string_view tail) {
  const std::string chinese = melo::text::Utf8ToGbk("旋律漂流的歌曲和歌手都在这里，欢迎收听。");
  const std::string markup = "<div class=\"lyric\">&nbsp;</div>\r\n";
  std::mt19937 random(1);
  std::string text;
  text.reserve(size + tail.size());
  while (text.size() < size)
    text += (random() % 4 == 0) ? markup : chinese;
  text.resize(size);
  // Do not end on a lead byte that would swallow the marker's first byte.
  while (!text.empty() && melo::text::IsLeadByte(static_cast<unsigned char>(text.back()))) {
    text.pop_back();
  }
  text += tail;
  return text;
}

constexpr size_t kTextSize = size_t{16} << 20;
constexpr std::string_view kMarker = "ListenLog";

void BM_Find(benchmark::State& state) {
  const std::string text = GbkText(kTextSize, kMarker);
  for (auto _ : state)
    benchmark::DoNotOptimize(melo::text::Find(text, kMarker));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Find)->Unit(benchmark::kMillisecond);

// A marker whose first byte is common in GBK text: many candidates.
void BM_FindGbkMarker(benchmark::State& state) {
  const std::string marker = melo::text::Utf8ToGbk("歌手 ");
  const std::string text = GbkText(kTextSize, marker);
  for (auto _ : state)
    benchmark::DoNotOptimize(melo::text::Find(text, marker));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_FindGbkMarker)->Unit(benchmark::kMillisecond);

void BM_Memmem(benchmark::State& state) {
  const std::string text = GbkText(kTextSize, kMarker);
  for (auto _ : state) {
    benchmark::DoNotOptimize(memmem(text.data(), text.size(), kMarker.data(), kMarker.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Memmem)->Unit(benchmark::kMillisecond);

void BM_ExtractSong64K(benchmark::State& state) {
  using melo::text::Utf8ToGbk;
  // The heading and anchor come early, the media line after 64 KB of page.
  const std::string head = "<html><head><title>x</title></head><body>" +
                           Utf8ToGbk("<h1>漂流的歌 歌手 小雨</h1>") +
                           "<a href='/singer/42/' target='_blank'>";
  const std::string media =
      "player('cache/mp3/2244436/preview.mp3', 'http://localhost:8080/','ListenLog');";
  const std::string page = head + GbkText(64 << 10, "") + media;
  for (auto _ : state) {
    benchmark::DoNotOptimize(melo::scrape::ExtractSong(page, media, "http://www.localhost/"));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_ExtractSong64K)->Unit(benchmark::kMicrosecond);

}  // namespace
