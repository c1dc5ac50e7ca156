// How a page is read over a real connection: the line rule, the page text,
// the caps, and how a transfer ends early.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <future>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "core/net/PageReader.h"
#include "core/net/RawServer.h"

namespace melo::net {
namespace {

using testing::RawServer;

struct BodyCase {
  const char* name;
  std::string body;
  std::vector<std::string> lines;
};

const std::vector<BodyCase> kBodyCases = {
    {"CR inside a line is dropped", "a\rb\n", {"ab"}},
    {"last line without line feed", "x\r\nlast", {"x", "last"}},
    {"empty lines are not the end", "\n\r\n", {"", ""}},
    {"a lone CR after the last LF", "x\n\r", {"x", ""}},
    {"300-byte line arrives whole", std::string(300, 'L') + "\r\n", {std::string(300, 'L')}},
    {"bytes above 0x7F untouched", "\xB8\xE8\xC7\xFA\r\n", {"\xB8\xE8\xC7\xFA"}},
    {"empty body", "", {}},
};

// Sends case N of kBodyCases, as one write or one byte per packet
// ("/N/trickle") so that CR and LF fall on every read boundary.
void ServeBodyCase(int socket, std::stop_token stop) {
  const std::string path = testing::RequestPath(testing::ReadRequest(socket, stop));
  const std::string& body = kBodyCases.at(std::stoul(path.substr(1))).body;
  testing::SendAll(socket, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
  if (!path.ends_with("trickle")) {
    testing::SendAll(socket, body);
    return;
  }
  const int one = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  for (const char byte : body) {
    testing::SendAll(socket, std::string(1, byte));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// ReadToEnd joins what ReadLine gives, with or without the first line.
TEST(ReadLine, FollowsTheLineRule) {
  const RawServer server(ServeBodyCase);
  for (std::size_t i = 0; i < kBodyCases.size(); ++i) {
    for (const char* delivery : {"", "/trickle"}) {
      SCOPED_TRACE(std::string(kBodyCases[i].name) + delivery);
      const std::string address = server.Address("/" + std::to_string(i) + delivery);
      PageReader reader;
      reader.Open(address);
      std::vector<std::string> lines;
      for (std::string line; reader.ReadLine(line);)
        lines.push_back(line);
      EXPECT_EQ(lines, kBodyCases[i].lines);
      std::string line;
      EXPECT_FALSE(reader.ReadLine(line)) << "end of data must stay the end";
      if (*delivery != '\0')
        continue;
      std::string text;
      for (const std::string& each : lines)
        text += each;
      EXPECT_EQ(testing::ReadPage(address, true), text);
      EXPECT_EQ(testing::ReadPage(address, false),
                text.substr(lines.empty() ? 0 : lines[0].size()));
    }
  }
}

// A hostile server must not exhaust memory, yet a page right at the cap is
// still read; both caps are exercised at their real size. A body cut short
// is a failure too, not a shorter page.
TEST(ReadToEnd, FailsPastTheCapsAndOnATruncatedBody) {
  const std::string longest(kMaxLineBytes, 'x');
  std::string fullPage;
  for (std::size_t i = 0; i < (kMaxPageBytes >> 20); ++i)
    fullPage += std::string(std::size_t{1} << 20, 'y') + "\n";
  const std::pair<std::string, std::size_t> cases[] = {
      {testing::Reply(longest + "\n"), kMaxLineBytes},
      {testing::Reply(longest + "x\n"), 0},  // 0: a failure
      {testing::Reply(fullPage), kMaxPageBytes},
      {testing::Reply(fullPage + "z"), 0},
      {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten\n", 0},
  };
  for (const auto& [reply, textSize] : cases) {
    SCOPED_TRACE(reply.substr(0, 40) + (textSize == 0 ? " fails" : " fits"));
    const RawServer server([&reply](int socket, std::stop_token stop) {
      testing::ReadRequest(socket, stop);
      testing::SendAll(socket, reply);
    });
    PageReader reader;
    reader.Open(server.Address());
    if (textSize != 0) {
      EXPECT_EQ(reader.ReadToEnd(true).size(), textSize);
      continue;
    }
    EXPECT_THROW(reader.ReadToEnd(true), InternetError);
    std::string line;
    EXPECT_FALSE(reader.ReadLine(line)) << "a failed read leaves nothing open";
  }
}

// A server that sends the reply head and, for "/first-line", one line, then
// stays silent: the stop token ends the open or read as stopped, the stall
// time-out as a plain failure.
TEST(Transfer, StopOrStallTimeOutEndsAStalledOpenOrRead) {
  const RawServer server([](int socket, std::stop_token stop) {
    if (testing::RequestPath(testing::ReadRequest(socket, stop)) == "/first-line")
      testing::SendAll(socket, "HTTP/1.1 200 OK\r\n\r\nfirst\n");
    testing::ReadRequest(socket, stop);
  });
  ReaderTimeouts shortStall;
  shortStall.stall = std::chrono::milliseconds(200);
  for (const bool byStop : {true, false}) {
    for (const char* path : {"/silent", "/first-line"}) {
      SCOPED_TRACE(std::string(path) + (byStop ? " stopped" : " timed out"));
      std::stop_source stop;
      PageReader reader(stop.get_token(), byStop ? ReaderTimeouts{} : shortStall);
      const std::jthread stopper([&stop, byStop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (byStop)
          stop.request_stop();
      });
      try {
        reader.Open(server.Address(path));
        for (std::string line; reader.ReadLine(line);) {
        }
        ADD_FAILURE() << "read to the end";
      } catch (const TransferStopped&) {
        EXPECT_TRUE(byStop);
      } catch (const InternetError&) {
        EXPECT_FALSE(byStop);
      }
    }
  }
}

// The song page parser stops at the media line; the rest of a page must stay
// with the server rather than be downloaded into a reader nobody reads.
TEST(Transfer, EarlyCloseLeavesTheRestUnsent) {
  constexpr std::size_t kBodyBytes = std::size_t{64} << 20;
  std::promise<std::size_t> sentBytes;
  const RawServer server([&](int socket, std::stop_token stop) {
    testing::ReadRequest(socket, stop);
    const std::string chunk(64 * 1024, 'x');
    std::size_t sent = 6;
    bool open = testing::SendAll(socket, "HTTP/1.1 200 OK\r\nContent-Length: " +
                                             std::to_string(kBodyBytes) + "\r\n\r\nfirst\n");
    for (; open && sent < kBodyBytes; sent += chunk.size())
      open = testing::SendAll(socket, chunk);
    sentBytes.set_value(sent);
  });
  {
    PageReader reader;
    reader.Open(server.Address());
    std::string line;
    ASSERT_TRUE(reader.ReadLine(line));
    EXPECT_EQ(line, "first");
  }
  EXPECT_LT(sentBytes.get_future().get(), kBodyBytes);
}

}  // namespace
}  // namespace melo::net
