// What goes out on the wire, and what makes an open fail.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <future>
#include <string>

#include "core/net/PageReader.h"
#include "core/net/RawServer.h"

namespace melo::net {
namespace {

using ::testing::HasSubstr;
using testing::RawServer;

TEST(EncodeRequestAddress, EncodesExactlyTheRefusedBytes) {
  struct Case {
    std::string address;
    std::string request;
  };
  const Case cases[] = {
      {"http://h/a b", "http://h/a%20b"},
      {"http://h/\xB8\xE8.html", "http://h/%B8%E8.html"},
      {"http://h/\x7F\xFF\x80", "http://h/%7F%FF%80"},
      {std::string("http://h/\t\r\n\0x", 14), "http://h/%09%0D%0A%00x"},
      {"http://h/p?q=1&r=%41#f{}|\\^`\"<>~'", "http://h/p?q=1&r=%41#f{}|\\^`\"<>~'"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeRequestAddress(c.address), c.request) << c.address;
  }
}

// Answers with the request head it got, so a test can look at it.
RawServer EchoServer() {
  return RawServer([](int socket, std::stop_token) {
    testing::SendAll(socket, testing::Reply(testing::ReadRequest(socket)));
  });
}

std::string RequestHeadFor(const std::string& address) {
  PageReader reader;
  reader.Open(address);
  return reader.ReadToEnd(true);
}

TEST(Open, SendsEncodedPlainGetWithProgramName) {
  const RawServer server = EchoServer();
  const std::string head = RequestHeadFor(server.Address("/\xB8\xE8 1.html?q=a b"));
  EXPECT_THAT(head, ::testing::StartsWith("GET /%B8%E8%201.html?q=a%20b HTTP/1.1"));
  EXPECT_THAT(head, HasSubstr("User-Agent: melodriftdown"));

  SetUserAgent("MeloDriftDown");
  EXPECT_THAT(RequestHeadFor(server.Address()), HasSubstr("User-Agent: MeloDriftDown"));
  SetUserAgent("melodriftdown");
}

// The program addresses its bundled site as http://www.localhost:PORT/ while
// the server listens on 127.0.0.1 only.
TEST(Open, ReachesWwwLocalhostOnLoopback) {
  const RawServer server = EchoServer();
  const std::string host = "www.localhost:" + std::to_string(server.port());
  EXPECT_THAT(RequestHeadFor("http://" + host + "/"), HasSubstr("Host: " + host));
}

TEST(Open, FollowsRedirectsAndReadsErrorBodies) {
  const RawServer server([](int socket, std::stop_token) {
    const std::string path = testing::RequestPath(testing::ReadRequest(socket));
    if (path == "/old") {
      testing::SendAll(socket, testing::Reply("moved", "302 Found", "Location: /new\r\n"));
    } else {
      testing::SendAll(socket, testing::Reply("not here\n", "404 Not Found"));
    }
  });
  PageReader reader;
  reader.Open(server.Address("/old"));
  EXPECT_EQ(reader.ReadToEnd(true), "not here");
}

TEST(Open, GoesThroughTheProxyOfTheEnvironment) {
  const RawServer proxy(EchoServer());
  setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.port())).c_str(), 1);
  unsetenv("no_proxy");
  const std::string head = RequestHeadFor("http://site.invalid/song.html");
  unsetenv("http_proxy");
  EXPECT_THAT(head, ::testing::StartsWith("GET http://site.invalid/song.html HTTP/1.1"));
}

TEST(Open, FailsWithCurlsTextAndLeavesNothingOpen) {
  const std::string localFile = ::testing::TempDir() + "/melo-local.txt";
  std::ofstream(localFile) << "local secret\n";
  const RawServer server = EchoServer();
  const std::string port = std::to_string(server.port());
  struct Case {
    std::string address;
    std::string textPart;
  };
  const Case cases[] = {
      {"www.example.invalid/song.html", "scheme"},
      {"127.0.0.1:" + port + "/", "scheme"},
      {"file://" + localFile, "file"},
      {"ftp://127.0.0.1:" + port + "/", "ftp"},
      {"gopher://127.0.0.1:" + port + "/", "gopher"},
      {"http://127.0.0.1:" + std::to_string(testing::UnusedPort()) + "/", "connect"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    PageReader reader;
    try {
      reader.Open(c.address);
      ADD_FAILURE() << "opened";
    } catch (const InternetError& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.textPart));
    }
    std::string line;
    EXPECT_FALSE(reader.ReadLine(line));
  }
  EXPECT_EQ(server.connections(), 0) << "a refused scheme must not reach the server";
}

}  // namespace
}  // namespace melo::net
