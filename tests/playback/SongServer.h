#pragma once
// A loopback server that sends one MP3 the ways servers in the wild do: with
// or without Range, with or without Content-Length, behind a redirect,
// breaking off or stalling half-way, or not sending audio at all.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "core/net/RawServer.h"
#include "site/EmbeddedFiles.h"

namespace melo::playback::testing {

using net::testing::ReadRequest;
using net::testing::SendAll;

// One of the bundled MP3s (3 s long).
inline constexpr std::string_view kSongFile = "audio/breeze.mp3";
inline constexpr std::int64_t kSongLengthMs = 3056;

struct Serving {
  std::string_view file = kSongFile;  // below res/
  bool ranges = true;                 // answers Range with 206, says "Accept-Ranges: bytes"
  bool chunked = false;               // no Content-Length: chunked transfer
  bool redirect = false;              // the song's address answers 302 to where it is
  bool noLengthHeader = false;        // the MP3 without its Xing frame
  enum class Break { kNone, kDropHalfWay, kStallHalfWay } breaks = Break::kNone;
  std::string htmlStatus = "";  // set: an HTML page with this status instead of the MP3
};

// The bundled MP3; without its length header, it starts at its second frame
// (found by the first frame's sync and version bytes), as constant bit rate
// files of that era come.
inline std::string SongBytes(std::string_view file, bool noLengthHeader) {
  const std::string mp3(bundled::FindEmbeddedFile(file).value());
  const std::size_t second = noLengthHeader ? mp3.find(mp3.substr(0, 2), 4) : 0;
  const std::string_view first = std::string_view(mp3).substr(0, second);
  if (noLengthHeader && first.find("Xing") == first.npos && first.find("Info") == first.npos) {
    throw std::runtime_error("the MP3 does not start with a Xing/Info frame");
  }
  return mp3.substr(second);
}

class SongServer {
 public:
  explicit SongServer(Serving serving)
      : serving_(std::move(serving)),
        mp3_(SongBytes(serving_.file, serving_.noLengthHeader)),
        server_([this](int socket, std::stop_token stop) { Serve(socket, stop); }) {}

  std::string SongAddress() const { return server_.Address("/song.mp3"); }
  // A transfer that is to break holds there until this is called, so that
  // it breaks while the song plays rather than while it opens.
  void LetBreak() { mayBreak_ = true; }
  // Requests for the song so far: the first, and one per seek.
  int SongRequests() const { return songRequests_; }

 private:
  void Serve(int socket, const std::stop_token& stop) {
    for (std::string request; !(request = ReadRequest(socket, stop)).empty();) {
      if (serving_.redirect && net::testing::RequestPath(request) == "/song.mp3") {
        SendAll(socket, net::testing::Reply("", "302 Found", "Location: /stored/song.mp3\r\n"));
      } else if (!serving_.htmlStatus.empty()) {
        SendAll(socket, net::testing::Reply("<html><body><h1>" + serving_.htmlStatus +
                                                "</h1><p>No song here.</p></body></html>\r\n",
                                            serving_.htmlStatus, "Content-Type: text/html\r\n"));
      } else if (!SendSong(socket, request, stop)) {
        return;
      }
    }
  }

  // False once the connection is to end.
  bool SendSong(int socket, const std::string& request, const std::stop_token& stop) {
    ++songRequests_;
    const auto range = request.find("Range: bytes=");
    const std::size_t from =
        serving_.ranges && range != request.npos ? std::stoul(request.substr(range + 13)) : 0;
    // The first transfer that gets there breaks half-way, cut short inside
    // its chunk as a broken connection is; a stalled server answers nothing
    // after it.
    const bool breaks = serving_.breaks != Serving::Break::kNone && !broken_.exchange(true);
    const bool stalls = serving_.breaks == Serving::Break::kStallHalfWay;
    const bool holds = breaks || stalls;
    const std::size_t size = mp3_.size();
    const std::size_t end = breaks ? std::max(from, size / 2) : stalls ? from : size;
    std::ostringstream reply;
    reply << "HTTP/1.1 " << (from > 0 ? "206 Partial Content" : "200 OK")
          << "\r\nContent-Type: audio/mpeg\r\n"
          << (serving_.ranges ? "Accept-Ranges: bytes\r\n" : "");
    if (from > 0) {
      reply << "Content-Range: bytes " << from << "-" << size - 1 << "/" << size << "\r\n";
    }
    if (serving_.chunked) {
      reply << "Transfer-Encoding: chunked\r\n\r\n"
            << std::hex << end - from + (holds ? 1 : 0) << "\r\n";
    } else {
      reply << "Content-Length: " << size - from << "\r\n\r\n";
    }
    reply << std::string_view(mp3_).substr(from, end - from)
          << (serving_.chunked && !holds ? "\r\n0\r\n\r\n" : "");
    if (!SendAll(socket, reply.str()) || !holds) {
      return !holds;
    }
    while (breaks && !mayBreak_ && !stop.stop_requested()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (stalls) {
      ReadRequest(socket, stop);  // silent until the client gives up
    }
    return false;
  }

  const Serving serving_;
  const std::string mp3_;
  std::atomic<bool> broken_{false};
  std::atomic<bool> mayBreak_{false};
  std::atomic<int> songRequests_{0};
  net::testing::RawServer server_;  // last: its sessions use the members above
};

}  // namespace melo::playback::testing
