#pragma once
// What the song list's benchmarks share: per-thread and per-process CPU
// clocks, resident memory, and rows shaped like the site's (every row
// different, GBK texts as the site sends them).

#include <unistd.h>

#include <ctime>
#include <fstream>
#include <string>

#include "core/scrape/SongRecord.h"
#include "core/text/Gbk.h"

namespace melo::bench {

inline double SecondsOf(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
inline double ThreadCpuSeconds() {
  return SecondsOf(CLOCK_THREAD_CPUTIME_ID);
}
inline double ProcessCpuSeconds() {
  return SecondsOf(CLOCK_PROCESS_CPUTIME_ID);
}

inline double ResidentMegabytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

inline scrape::SongRecord Row(int n) {
  static const std::string singer = text::Utf8ToGbk("林晚风");
  static const std::string title = text::Utf8ToGbk("晚风里的信 第");
  const std::string id = std::to_string(2'000'000 + n);
  scrape::SongRecord record;
  record.singer = singer + std::to_string(n % 97);
  record.title = title + id;
  record.downloadLink = "\"http://localhost:47580/cache/mp3/" + id + "/" + record.title + ".mp3\"";
  record.singerLink = "http://www.localhost:47580/singer/" + std::to_string(n % 97) + "/";
  record.songLink = "http://www.localhost:47580/song/" + id + "//";
  return record;
}

}  // namespace melo::bench
