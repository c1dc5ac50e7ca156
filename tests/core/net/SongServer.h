#pragma once
// A loopback server that sends one song the ways servers in the wild do: with
// or without Range, with or without Content-Length, behind a redirect,
// slowly, breaking off, reset or stalling half-way, or an HTML page instead.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <sstream>

#include "core/net/RawServer.h"
#include "site/EmbeddedFiles.h"

namespace melo::net::testing {

// One of the bundled MP3s (3 s long).
inline constexpr std::string_view kSongFile = "audio/breeze.mp3";
inline constexpr std::int64_t kSongLengthMs = 3056;

struct Serving {
  std::string_view file = kSongFile;  // below res/, unless the server is given the song
  bool ranges = true;                 // Range: 206 (416 past the end), "Accept-Ranges: bytes"
  bool chunked = false;               // no Content-Length: chunked transfer
  bool redirect = false;              // the song's address answers 302 to where it is
  bool noLengthHeader = false;        // the MP3 without its Xing frame
  bool slow = false;                  // the reply in small pieces with pauses
  // Half-way through the song: the first transfer is closed, or reset, once
  // LetBreak is called, or holds there until then and goes on; every
  // transfer stalls, silent until the client goes.
  enum class Break {
    kNone,
    kDropHalfWay,
    kResetHalfWay,
    kHoldHalfWay,
    kStallHalfWay
  } breaks = Break::kNone;
  std::string htmlStatus = "";  // set: an HTML page with this status instead of the song
  bool htmlOnce = false;        // only the first reply is that page
};

// The bundled MP3; without its length header, it starts at its second frame
// (found by the first frame's sync and version bytes), as constant bit rate
// files of that era come.
inline std::string SongBytes(std::string_view file, bool noLengthHeader) {
  const std::string mp3(bundled::FindEmbeddedFile(file).value());
  const std::size_t second = noLengthHeader ? mp3.find(mp3.substr(0, 2), 4) : 0;
  const std::string_view first = std::string_view(mp3).substr(0, second);
  if (noLengthHeader && first.find("Xing") == first.npos && first.find("Info") == first.npos)
    throw std::runtime_error("the MP3 does not start with a Xing/Info frame");
  return mp3.substr(second);
}

// The song at every path; a connection carries requests until it breaks.
class SongServer {
 public:
  // `song`: these bytes rather than the file.
  explicit SongServer(Serving serving = {}, std::string song = "")
      : serving_(serving),
        song_(song.empty() ? SongBytes(serving.file, serving.noLengthHeader) : std::move(song)) {}

  std::string Address(std::string_view path = "/song.mp3") const { return server_.Address(path); }
  void Set(Serving serving) {
    std::lock_guard lock(mutex_);
    serving_ = std::move(serving);
  }
  // A transfer that is to break holds there until this is called, so that
  // it breaks while the song plays rather than while it opens.
  void LetBreak() { mayBreak_ = true; }
  // The request heads so far but redirected ones: the first, then one per
  // seek or resumption.
  std::vector<std::string> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void Serve(int socket, const std::stop_token& stop) {
    for (std::string request; !(request = ReadRequest(socket, stop)).empty();) {
      std::unique_lock lock(mutex_);
      const Serving serving = serving_;
      const bool redirect = serving.redirect && RequestPath(request) == "/song.mp3";
      if (!redirect)
        requests_.push_back(request);
      const bool page = !serving.htmlStatus.empty() && (!serving.htmlOnce || requests_.size() == 1);
      lock.unlock();
      const std::string& status = serving.htmlStatus;
      if (redirect)
        SendAll(socket, Reply("", "302 Found", "Location: /stored/song.mp3\r\n"));
      else if (page)
        SendAll(socket, Reply("<html><h1>" + status + "</h1></html>", status));
      else if (!SendSong(socket, request, serving, stop))
        return;
    }
  }

  // False once the connection is to end.
  bool SendSong(int socket, const std::string& request, const Serving& serving,
                const std::stop_token& stop) {
    using enum Serving::Break;
    const std::size_t size = song_.size(), range = request.find("Range: bytes=");
    const std::size_t from =
        serving.ranges && range != request.npos ? std::stoul(request.substr(range + 13)) : 0;
    if (from >= size)  // with a page of its own, as web servers send it
      return SendAll(socket, Reply("<html>416</html>", "416 Range Not Satisfiable",
                                   "Content-Type: text/html\r\nContent-Range: bytes */" +
                                       std::to_string(size) + "\r\n"));
    // The first transfer that gets there breaks half-way, cut short inside
    // its chunk as a broken connection is; a stalling server stalls each.
    const bool breaks =
        serving.breaks == kStallHalfWay || (serving.breaks != kNone && !broken_.exchange(true));
    const bool holds = breaks && serving.breaks == kHoldHalfWay;
    const std::size_t end = breaks && !holds ? std::max(from, size / 2) : size;
    std::ostringstream head;
    head << "HTTP/1.1 " << (from > 0 ? "206 Partial Content" : "200 OK")
         << "\r\nContent-Type: audio/mpeg\r\n"
         << (serving.ranges ? "Accept-Ranges: bytes\r\n" : "");
    if (from > 0)
      head << "Content-Range: bytes " << from << "-" << size - 1 << "/" << size << "\r\n";
    if (serving.chunked)
      head << "Transfer-Encoding: chunked\r\n\r\n"
           << std::hex << end - from + (breaks && !holds) << "\r\n";
    else
      head << "Content-Length: " << size - from << "\r\n\r\n";
    const std::size_t holdAt = head.tellp() + static_cast<std::streamoff>(size / 2 - from);
    head << std::string_view(song_).substr(from, end - from)
         << (serving.chunked && (!breaks || holds) ? "\r\n0\r\n\r\n" : "");
    const std::string reply = head.str();
    if (holds) {  // the first part, a pause until LetBreak, the rest
      if (!SendAll(socket, std::string_view(reply).substr(0, holdAt)))
        return false;
      while (!mayBreak_ && !stop.stop_requested())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      return SendAll(socket, std::string_view(reply).substr(holdAt));
    }
    const std::size_t piece = serving.slow ? reply.size() / 8 + 1 : reply.size();
    for (std::size_t at = 0; at < reply.size(); at += piece) {
      if (!SendAll(socket, std::string_view(reply).substr(at, piece)))
        return false;
      if (serving.slow)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    while (breaks && serving.breaks != kStallHalfWay && !mayBreak_ && !stop.stop_requested())
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const linger reset{1, 0};  // closing sends RST instead of FIN
    if (serving.breaks == kStallHalfWay)
      ReadRequest(socket, stop);  // silent until the client gives up
    else if (breaks && serving.breaks == kResetHalfWay)
      setsockopt(socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    return !breaks;
  }

  Serving serving_;  // under mutex_
  const std::string song_;
  std::atomic<bool> broken_{false};
  std::atomic<bool> mayBreak_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  RawServer server_{[this](int socket, std::stop_token stop) { Serve(socket, stop); }};  // last
};

}  // namespace melo::net::testing
