// The line rule and the page text, over a real connection.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
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

const std::vector<BodyCase>& BodyCases() {
  static const std::vector<BodyCase> cases = {
      {"lines end in LF or CRLF", "a\r\nb\n", {"a", "b"}},
      {"last line without line feed", "x\nlast", {"x", "last"}},
      {"empty lines are not the end", "\n\r\n", {"", ""}},
      {"CR inside a line is dropped", "a\rb\n", {"ab"}},
      {"CRs only make an empty line", "\r\r\n", {""}},
      {"a lone CR after the last LF", "x\n\r", {"x", ""}},
      {"long line arrives whole", std::string(300, 'L') + "\r\n", {std::string(300, 'L')}},
      {"bytes above 0x7F untouched", "\xB8\xE8\xC7\xFA\r\n", {"\xB8\xE8\xC7\xFA"}},
      {"empty body", "", {}},
  };
  return cases;
}

// Sends case N of BodyCases(), as one write or one byte per packet
// ("/N/trickle") so that CR and LF fall on every read boundary.
void ServeBodyCase(int socket, std::stop_token) {
  const std::string path = testing::RequestPath(testing::ReadRequest(socket));
  const BodyCase& bodyCase = BodyCases().at(std::stoul(path.substr(1)));
  testing::SendAll(socket, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
  if (path.find("trickle") == std::string::npos) {
    testing::SendAll(socket, bodyCase.body);
    return;
  }
  const int one = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  for (const char byte : bodyCase.body) {
    testing::SendAll(socket, std::string(1, byte));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

std::vector<std::string> ReadAllLines(const std::string& address) {
  PageReader reader;
  reader.Open(address);
  std::vector<std::string> lines;
  std::string line;
  while (reader.ReadLine(line))
    lines.push_back(line);
  EXPECT_FALSE(reader.ReadLine(line)) << "end of data must stay the end";
  return lines;
}

TEST(ReadLine, FollowsTheLineRule) {
  const RawServer server(ServeBodyCase);
  for (std::size_t i = 0; i < BodyCases().size(); ++i) {
    for (const char* delivery : {"", "/trickle"}) {
      SCOPED_TRACE(std::string(BodyCases()[i].name) + delivery);
      const std::string address = server.Address("/" + std::to_string(i) + delivery);
      EXPECT_EQ(ReadAllLines(address), BodyCases()[i].lines);
    }
  }
}

TEST(ReadToEnd, KeepsOrDropsTheFirstLine) {
  const RawServer server([](int socket, std::stop_token) {
    const std::string path = testing::RequestPath(testing::ReadRequest(socket));
    testing::SendAll(socket, testing::Reply(path == "/empty" ? "" : "first\nsecond\r\nthird"));
  });
  struct Case {
    const char* path;
    bool keepFirstLine;
    std::string text;
  };
  const Case cases[] = {
      {"/page", true, "firstsecondthird"},
      {"/page", false, "secondthird"},
      {"/empty", true, ""},
      {"/empty", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + (c.keepFirstLine ? " kept" : " dropped"));
    PageReader reader;
    reader.Open(server.Address(c.path));
    EXPECT_EQ(reader.ReadToEnd(c.keepFirstLine), c.text);
  }
}

// A hostile server must not exhaust memory, yet a page right at the cap is
// still read; both caps are exercised at their real size.
TEST(ReadToEnd, CapsLineAndPage) {
  const std::string longest(kMaxLineBytes, 'x');
  const std::string mebiLine = std::string(std::size_t{1} << 20, 'y') + "\n";
  std::string fullPage;
  for (std::size_t i = 0; i < (kMaxPageBytes >> 20); ++i)
    fullPage += mebiLine;

  struct Case {
    const char* name;
    std::string body;
    bool fits;
    std::size_t textSize = 0;
  };
  const std::vector<Case> cases = {
      {"line at the cap", longest + "\n", true, kMaxLineBytes},
      {"line past the cap", longest + "x\n", false},
      {"page at the cap", fullPage, true, kMaxPageBytes},
      {"page past the cap", fullPage + "z", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RawServer server([&c](int socket, std::stop_token) {
      testing::ReadRequest(socket);
      testing::SendAll(socket, testing::Reply(c.body));
    });
    PageReader reader;
    reader.Open(server.Address());
    if (c.fits) {
      EXPECT_EQ(reader.ReadToEnd(true).size(), c.textSize);
    } else {
      EXPECT_THROW(reader.ReadToEnd(true), InternetError);
      std::string line;
      EXPECT_FALSE(reader.ReadLine(line)) << "a failed read leaves nothing open";
    }
  }
}

}  // namespace
}  // namespace melo::net
