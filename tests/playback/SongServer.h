#pragma once
// A loopback server that sends one MP3 the ways servers in the wild do: with
// or without Range, with or without Content-Length, behind a redirect,
// breaking off or stalling half-way, or not sending audio at all.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "core/net/RawServer.h"
#include "site/EmbeddedFiles.h"

namespace melo::playback::testing {

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
  std::string status = "200 OK";  // anything else comes with an HTML body
  bool html = false;              // an HTML page instead of the MP3
};

inline std::string SongBytes(std::string_view file) {
  const auto bytes = bundled::FindEmbeddedFile(file);
  if (!bytes) {
    throw std::runtime_error("no bundled MP3");
  }
  return std::string(*bytes);
}

// The MP3 with its first frame taken out when that frame is a Xing/Info
// header, as constant bit rate files of that era come. Our files begin with
// that frame, without an ID3 tag before it.
inline std::string WithoutLengthHeader(std::string mp3) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(mp3.at(i)); };
  if (byte(0) != 0xFF || (byte(1) & 0xE0) != 0xE0 || (byte(1) & 0x06) != 0x02) {
    throw std::runtime_error("the MP3 does not start with a layer III frame");
  }
  const bool mpeg1 = (byte(1) & 0x18) == 0x18;
  static constexpr std::array<int, 15> kMpeg1Kbps = {0,   32,  40,  48,  56,  64,  80, 96,
                                                     112, 128, 160, 192, 224, 256, 320};
  static constexpr std::array<int, 15> kMpeg2Kbps = {0,  8,  16, 24,  32,  40,  48, 56,
                                                     64, 80, 96, 112, 128, 144, 160};
  static constexpr std::array<int, 3> kMpeg1Rates = {44100, 48000, 32000};
  const int kbps = mpeg1 ? kMpeg1Kbps.at(byte(2) >> 4) : kMpeg2Kbps.at(byte(2) >> 4);
  const int divisor = mpeg1 ? 1 : ((byte(1) & 0x18) == 0x10 ? 2 : 4);
  const int rate = kMpeg1Rates.at((byte(2) >> 2) & 3) / divisor;
  const std::size_t frame =
      static_cast<std::size_t>((mpeg1 ? 144'000 : 72'000) * kbps / rate + ((byte(2) >> 1) & 1));
  const std::string_view first(mp3.data(), frame);
  if (first.find("Xing") == first.npos && first.find("Info") == first.npos) {
    throw std::runtime_error("the MP3 has no Xing/Info frame");
  }
  if (byte(frame) != 0xFF) {
    throw std::runtime_error("no frame after the Xing/Info frame");
  }
  return mp3.substr(frame);
}

class SongServer {
 public:
  explicit SongServer(Serving serving)
      : serving_(std::move(serving)),
        mp3_(serving_.noLengthHeader ? WithoutLengthHeader(SongBytes(serving_.file))
                                     : SongBytes(serving_.file)),
        server_([this](int socket, std::stop_token stop) { Serve(socket, stop); }) {}

  std::string SongAddress() const { return server_.Address("/song.mp3"); }
  // A transfer that is to break holds there until this is called, so that
  // it breaks while the song plays rather than while it opens.
  void LetBreak() { mayBreak_ = true; }
  // Requests for the song so far: the first, and one per seek.
  int SongRequests() const { return songRequests_; }

 private:
  void Serve(int socket, const std::stop_token& stop) {
    for (;;) {
      const std::string request = net::testing::ReadRequest(socket, stop);
      if (request.empty()) {
        return;
      }
      if (serving_.redirect && net::testing::RequestPath(request) == "/song.mp3") {
        Send(socket, net::testing::Reply("", "302 Found", "Location: /stored/song.mp3\r\n"));
      } else if (serving_.status != "200 OK" || serving_.html) {
        Send(socket, net::testing::Reply("<html><body><h1>" + serving_.status +
                                             "</h1><p>No song here.</p></body></html>\r\n",
                                         serving_.status, "Content-Type: text/html\r\n"));
      } else if (!SendSong(socket, request, stop)) {
        return;
      }
    }
  }

  // False once the connection is to end.
  bool SendSong(int socket, const std::string& request, const std::stop_token& stop) {
    ++songRequests_;
    std::size_t from = 0;
    const auto range = request.find("Range: bytes=");
    if (serving_.ranges && range != request.npos) {
      from = std::stoul(request.substr(range + 13));
    }
    std::string head = from > 0 ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n";
    head += "Content-Type: audio/mpeg\r\n";
    if (serving_.ranges) {
      head += "Accept-Ranges: bytes\r\n";
    }
    if (from > 0) {
      head += "Content-Range: bytes " + std::to_string(from) + "-" +
              std::to_string(mp3_.size() - 1) + "/" + std::to_string(mp3_.size()) + "\r\n";
    }
    head += serving_.chunked ? "Transfer-Encoding: chunked\r\n"
                             : "Content-Length: " + std::to_string(mp3_.size() - from) + "\r\n";
    if (!Send(socket, head + "\r\n")) {
      return false;
    }
    // The first transfer that gets there breaks half-way; a stalled server
    // answers nothing after it.
    const bool breaks = serving_.breaks != Serving::Break::kNone && !broken_.exchange(true);
    if (serving_.breaks == Serving::Break::kStallHalfWay && !breaks) {
      net::testing::ReadRequest(socket, stop);
      return false;
    }
    const std::size_t end = breaks ? std::max(from, mp3_.size() / 2) : mp3_.size();
    const std::string_view body = std::string_view(mp3_).substr(from, end - from);
    if (!SendBody(socket, body, breaks)) {
      return false;
    }
    if (breaks) {
      while (!mayBreak_ && !stop.stop_requested()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (serving_.breaks == Serving::Break::kStallHalfWay) {
        net::testing::ReadRequest(socket, stop);  // silent until the client gives up
      }
      return false;
    }
    return !serving_.chunked || Send(socket, "0\r\n\r\n");
  }

  // A transfer cut short stops inside its last chunk, as a broken
  // connection does.
  bool SendBody(int socket, std::string_view body, bool cutShort) {
    constexpr std::size_t kChunk = 4096;
    for (std::size_t at = 0; at < body.size(); at += kChunk) {
      const std::string_view piece = body.substr(at, kChunk);
      const bool last = at + kChunk >= body.size();
      if (serving_.chunked &&
          !Send(socket, ToHex(piece.size() + (cutShort && last ? kChunk : 0)) + "\r\n" +
                            std::string(piece) + (cutShort && last ? "" : "\r\n"))) {
        return false;
      }
      if (!serving_.chunked && !Send(socket, piece)) {
        return false;
      }
    }
    return true;
  }

  static std::string ToHex(std::size_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%zx", value);
    return text;
  }
  static bool Send(int socket, std::string_view bytes) {
    return net::testing::SendAll(socket, bytes);
  }

  const Serving serving_;
  const std::string mp3_;
  std::atomic<bool> broken_{false};
  std::atomic<bool> mayBreak_{false};
  std::atomic<int> songRequests_{0};
  net::testing::RawServer server_;  // last: its sessions use the members above
};

}  // namespace melo::playback::testing
