// How a transfer ends: stopped, stalled, closed early, and what it leaves
// for the next reader.

#include <gtest/gtest.h>
#include <httplib.h>

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

// Sends the reply head and, for "/first-line", one line, then stays silent.
void ServeThenStall(int socket, std::stop_token stop) {
  const std::string path = testing::RequestPath(testing::ReadRequest(socket));
  if (path == "/first-line")
    testing::SendAll(socket, "HTTP/1.1 200 OK\r\n\r\nfirst\n");
  testing::WaitForPeerClose(socket, stop);
}

// Runs open-and-read until it throws; returns what was thrown.
std::exception_ptr ReadUntilFailure(PageReader& reader, const std::string& address) {
  try {
    reader.Open(address);
    std::string line;
    while (reader.ReadLine(line)) {
    }
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

bool IsStopped(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const TransferStopped&) {
    return true;
  } catch (const InternetError&) {
    return false;
  }
}

TEST(Transfer, StopTokenAbortsAStalledOpenOrRead) {
  const RawServer server(ServeThenStall);
  for (const char* path : {"/silent", "/first-line"}) {
    SCOPED_TRACE(path);
    std::stop_source stop;
    PageReader reader(stop.get_token());
    std::jthread stopper([&stop] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      stop.request_stop();
    });
    const std::exception_ptr error = ReadUntilFailure(reader, server.Address(path));
    ASSERT_TRUE(error);
    EXPECT_TRUE(IsStopped(error));
  }
}

TEST(Transfer, StopRequestedBeforeOpenSendsNothing) {
  const RawServer server(ServeThenStall);
  std::stop_source stop;
  stop.request_stop();
  PageReader reader(stop.get_token());
  EXPECT_THROW(reader.Open(server.Address()), TransferStopped);
  EXPECT_EQ(server.connections(), 0);
}

TEST(Transfer, SilentServerTimesOut) {
  const RawServer server(ServeThenStall);
  ReaderTimeouts timeouts;
  timeouts.stall = std::chrono::milliseconds(200);
  for (const char* path : {"/silent", "/first-line"}) {
    SCOPED_TRACE(path);
    PageReader reader({}, timeouts);
    const std::exception_ptr error = ReadUntilFailure(reader, server.Address(path));
    ASSERT_TRUE(error);
    EXPECT_FALSE(IsStopped(error));
  }
}

TEST(Transfer, TruncatedBodyIsAFailureNotAPage) {
  const RawServer server([](int socket, std::stop_token) {
    testing::ReadRequest(socket);
    testing::SendAll(socket, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten\n");
  });
  PageReader reader;
  reader.Open(server.Address());
  EXPECT_THROW(reader.ReadToEnd(true), InternetError);
}

// The song page parser stops at the media line; the rest of a page must stay
// with the server rather than be downloaded into a reader nobody reads.
TEST(Transfer, EarlyCloseLeavesTheRestUnsent) {
  constexpr std::size_t kBodyBytes = std::size_t{64} << 20;
  std::promise<std::size_t> sentBytes;
  const RawServer server([&](int socket, std::stop_token) {
    testing::ReadRequest(socket);
    const std::string chunk(64 * 1024, 'x');
    std::string start =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kBodyBytes) + "\r\n\r\nfirst\n";
    std::size_t sent = 6;
    bool open = testing::SendAll(socket, start);
    while (open && sent < kBodyBytes) {
      open = testing::SendAll(socket, chunk);
      sent += chunk.size();
    }
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

TEST(Transfer, FinishedReadsShareOneConnection) {
  const RawServer server([](int socket, std::stop_token) {
    for (std::string request; !(request = testing::ReadRequest(socket)).empty();) {
      testing::SendAll(socket, testing::Reply("page " + testing::RequestPath(request) + "\n"));
    }
  });
  for (const char* path : {"/1", "/2", "/3"}) {
    PageReader reader;
    reader.Open(server.Address(path));
    EXPECT_EQ(reader.ReadToEnd(true), std::string("page ") + path);
  }
  EXPECT_EQ(server.connections(), 1);
}

TEST(Transfer, ReadersOnManyThreadsAtOnce) {
  httplib::Server server;
  server.Get(R"(/page/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
    const std::string id = request.matches[1];
    response.set_content("head " + id + "\r\nbody " + id + "\r\nend " + id, "text/html");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  std::jthread serving([&server] { server.listen_after_bind(); });

  constexpr int kThreads = 4;
  constexpr int kPagesEach = 25;
  std::vector<std::future<int>> wrongPages;
  for (int t = 0; t < kThreads; ++t) {
    wrongPages.push_back(std::async(std::launch::async, [port, t] {
      int wrong = 0;
      for (int i = 0; i < kPagesEach; ++i) {
        const std::string id = std::to_string(t * kPagesEach + i);
        PageReader reader;
        reader.Open("http://127.0.0.1:" + std::to_string(port) + "/page/" + id);
        if (reader.ReadToEnd(false) != "body " + id + "end " + id)
          ++wrong;
      }
      return wrong;
    }));
  }
  for (auto& wrong : wrongPages)
    EXPECT_EQ(wrong.get(), 0);
  server.stop();
}

}  // namespace
}  // namespace melo::net
