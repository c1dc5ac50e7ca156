#pragma once
// What the download tests share: songs to serve, files to read and write, and
// the loopback song server.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/download/Download.h"
#include "core/net/SongServer.h"

namespace melo::download::testing {

namespace fs = std::filesystem;
using net::testing::Serving;
using net::testing::SongServer;

// MPEG-1 Layer III frames, 128 kbit/s at 44.1 kHz: 417 bytes each, no two alike.
inline std::string Mp3Body(int frames = 120) {
  std::string frame(417, '\0'), body;
  frame.replace(0, 4, "\xFF\xFB\x90\x00", 4);
  for (int i = 0; i < frames; ++i) {
    frame[100] = static_cast<char>(i);
    body += frame;
  }
  return body;
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// 0 while there is no such file.
inline std::uintmax_t SizeOf(const fs::path& path) {
  std::error_code missing;
  const auto size = fs::file_size(path, missing);
  return missing ? 0 : size;
}

// An empty folder of the running case's own: ctest runs the cases in parallel.
inline fs::path CaseFolder(const std::string& prefix) {
  const fs::path folder =
      fs::path(::testing::TempDir()) /
      (prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

// What a download run reported, in the order it reported it.
class Recorder final : public DownloadReporter {
 public:
  void Result(std::size_t index, const scrape::SongRecord&, const DownloadResult& result) override {
    order.push_back(index);
    results.push_back(result);
    outcomes.push_back(result.outcome);
  }
  std::vector<std::size_t> order;
  std::vector<DownloadResult> results;
  std::vector<Outcome> outcomes;
};

}  // namespace melo::download::testing
