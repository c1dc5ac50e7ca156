// What goes out on the wire, what makes an open fail, and which connection
// a reader gets.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "core/net/PageReader.h"
#include "core/net/RawServer.h"

namespace melo::net {
namespace {

using ::testing::HasSubstr;
using testing::RawServer;
using ::testing::StartsWith;

TEST(EncodeRequestAddress, EncodesExactlyTheRefusedBytes) {
  const std::pair<std::string, std::string> cases[] = {
      {"http://h/a b", "http://h/a%20b"},
      {std::string("http://h/\xB8\xE8\x7F\t\0x", 15), "http://h/%B8%E8%7F%09%00x"},
      {"http://h/p?q=1&r=%41#f{}|\\^`\"<>~'", "http://h/p?q=1&r=%41#f{}|\\^`\"<>~'"},
  };
  for (const auto& [address, request] : cases)
    EXPECT_EQ(EncodeRequestAddress(address), request) << address;
}

// Addresses leaving the program as URIs: a page keeps its query, escapes and
// fragment; an MP3 address's title is plain text throughout. That nothing a
// URI cannot hold gets through is the request address fuzz target's.
TEST(EncodeUriAddress, EncodesWhatAUriCannotHold) {
  struct Case {
    std::string address, page, media;
  };
  const Case cases[] = {
      {"http://h/p?q=1&r=%41#f", "http://h/p?q=1&r=%41#f", "http://h/p%3Fq=1&r=%2541%23f"},
      {"http://h/100%.mp3", "http://h/100%25.mp3", "http://h/100%25.mp3"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeUriAddress(c.address), c.page) << c.address;
    EXPECT_EQ(EncodeMediaAddress(c.address), c.media) << c.address;
  }
}

// The proxy gets the whole address, encoded, in a plain GET that names the
// program; the host itself is never looked up.
TEST(Open, SendsAnEncodedPlainGetThroughTheProxyOfTheEnvironment) {
  const RawServer proxy([](int socket, std::stop_token stop) {
    testing::SendAll(socket, testing::Reply(testing::ReadRequest(socket, stop)));
  });
  setenv("http_proxy", proxy.Address("").c_str(), 1);
  unsetenv("no_proxy");
  const std::string head = testing::ReadPage("http://site.invalid/\xB8\xE8 1.html?q=a b");
  unsetenv("http_proxy");
  EXPECT_THAT(head, StartsWith("GET http://site.invalid/%B8%E8%201.html?q=a%20b HTTP/1.1"));
  EXPECT_THAT(head, HasSubstr("User-Agent: melodriftdown"));
}

// Keeps the connection for request after request: "/old" moves to "/new",
// every other path gets an error status and a page naming the path.
void ServeNamedPages(int socket, std::stop_token stop) {
  for (std::string request; !(request = testing::ReadRequest(socket, stop)).empty();) {
    const std::string path = testing::RequestPath(request);
    testing::SendAll(
        socket, path == "/old"
                    ? testing::Reply("moved", "302 Found", "Location: /new\r\n")
                    : testing::Reply("head\r\nbody " + path + "\r\nend " + path, "404 Not Found"));
  }
}

TEST(Open, FailsWithCurlsTextAndLeavesNothingOpen) {
  const std::string localFile = ::testing::TempDir() + "/melo-local.txt";
  std::ofstream(localFile) << "local secret\n";
  const RawServer server(ServeNamedPages);
  const std::string hostAndPort = server.Address("").substr(7);
  const std::pair<std::string, std::string> cases[] = {
      {hostAndPort + "/", "scheme"},
      {"file://" + localFile, "file"},
      {"ftp://" + hostAndPort + "/", "ftp"},
      {"http://127.0.0.1:1/", "connect"},  // below 1024: no test server of ours
  };
  for (const auto& [address, textPart] : cases) {
    SCOPED_TRACE(address);
    PageReader reader;
    try {
      reader.Open(address);
      ADD_FAILURE() << "opened";
    } catch (const InternetError& error) {
      EXPECT_THAT(error.what(), HasSubstr(textPart));
    }
    std::string line;
    EXPECT_FALSE(reader.ReadLine(line));
  }
  EXPECT_EQ(server.connections(), 0) << "a refused scheme must not reach the server";
}

// The status is not looked at and redirects are followed; finished reads
// hand their connection on to the next reader, and readers on several
// threads at once still each get their own page.
TEST(Open, ReadsErrorPagesFollowsRedirectsAndSharesConnections) {
  const RawServer server(ServeNamedPages);
  const auto readsItsPage = [&server](const std::string& path) {
    return testing::ReadPage(server.Address(path), false) == "body " + path + "end " + path;
  };
  for (const std::string path : {"/1", "/2"})
    EXPECT_TRUE(readsItsPage(path)) << path;
  EXPECT_EQ(testing::ReadPage(server.Address("/old"), false), "body /newend /new");
  EXPECT_EQ(server.connections(), 1);

  std::vector<std::future<int>> wrongPages;
  for (int t = 0; t < 4; ++t) {
    wrongPages.push_back(std::async(std::launch::async, [&readsItsPage, t] {
      int wrong = 0;
      for (int i = 0; i < 25; ++i)
        wrong += readsItsPage("/" + std::to_string(t * 25 + i)) ? 0 : 1;
      return wrong;
    }));
  }
  for (auto& wrong : wrongPages)
    EXPECT_EQ(wrong.get(), 0);
}

}  // namespace
}  // namespace melo::net
