#pragma once
// A loopback server that sends one song as real servers do: ranges honoured
// or ignored, connections broken off, error pages; and the helpers the
// download tests share.

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/net/RawServer.h"

namespace melo::download::testing {

namespace fs = std::filesystem;

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

enum class Serve {
  kRanges,           // 206 for a Range, 416 (with a page) past the end
  kIgnoreRange,      // always 200 with the whole song
  kNotFound,         // 404 with an HTML page
  kHtml,             // 200 with an HTML page
  kBreakOffOnce,     // the first reply stops half way, then ranges
  kResetOnce,        // the first connection is reset half way, then ranges
  kServerErrorOnce,  // the first reply is a 503, then ranges
  kSlow,             // ranges, the reply in small pieces with pauses
  kHalfThenHold,     // half the song, then silence until the client or the server goes
};

// One song at every path; each connection carries one request.
class SongServer {
 public:
  SongServer(std::string body, Serve serve) : body_(std::move(body)), serve_(serve) {}

  std::string Address(std::string_view path) const { return server_.Address(path); }
  void Set(Serve serve) { serve_ = serve; }
  std::vector<std::string> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void Answer(int socket, const std::stop_token& stop) {
    using namespace net::testing;
    const std::string request = ReadRequest(socket, stop);
    if (request.empty())
      return;
    Serve serve = serve_;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
      if (requests_.size() > 1 && (serve == Serve::kBreakOffOnce || serve == Serve::kResetOnce ||
                                   serve == Serve::kServerErrorOnce))
        serve = Serve::kRanges;
    }
    const std::size_t range = request.find("Range: bytes=");
    const std::size_t from =
        range == std::string::npos ? 0 : std::stoul(request.substr(range + 13));
    const std::string size = std::to_string(body_.size());
    const std::string audio = "Content-Type: audio/mpeg\r\nConnection: close\r\n";
    const bool ranges = serve == Serve::kRanges || serve == Serve::kSlow;
    std::string reply = Reply(body_, "200 OK", audio);
    if (serve == Serve::kNotFound)
      reply = Reply("<html>not here</html>", "404 Not Found", "Content-Type: text/html\r\n");
    else if (serve == Serve::kHtml)
      reply = Reply("<!DOCTYPE html><html>login</html>");
    else if (serve == Serve::kServerErrorOnce)
      reply = Reply("busy", "503 Service Unavailable");
    else if (serve == Serve::kBreakOffOnce || serve == Serve::kResetOnce ||
             serve == Serve::kHalfThenHold)
      reply.resize(reply.size() - body_.size() + body_.size() / 2);
    else if (ranges && from >= body_.size())  // with a page of its own, as web servers send it
      reply = Reply("<html>416</html>", "416 Range Not Satisfiable",
                    "Content-Type: text/html\r\nContent-Range: bytes */" + size + "\r\n");
    else if (ranges && from > 0)
      reply = Reply(body_.substr(from), "206 Partial Content",
                    audio + "Content-Range: bytes " + std::to_string(from) + "-" +
                        std::to_string(body_.size() - 1) + "/" + size + "\r\n");
    const std::size_t piece = serve == Serve::kSlow ? reply.size() / 8 + 1 : reply.size();
    for (std::size_t at = 0; at < reply.size(); at += piece) {
      if (!SendAll(socket, std::string_view(reply).substr(at, piece)))
        return;
      if (serve == Serve::kSlow)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (serve == Serve::kResetOnce) {
      const linger reset{1, 0};  // closing sends RST instead of FIN
      setsockopt(socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    } else if (serve == Serve::kHalfThenHold) {
      ReadRequest(socket, stop);  // nothing more comes
    }
  }

  const std::string body_;
  std::atomic<Serve> serve_;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  // Last: its sessions use the members above.
  net::testing::RawServer server_{
      [this](int socket, std::stop_token stop) { Answer(socket, stop); }};
};

}  // namespace melo::download::testing
