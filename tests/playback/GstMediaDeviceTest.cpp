// The real device's open, cut short; what it reports for each kind of
// server is checked through the worker.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "PlaybackTestSupport.h"
#include "playback/GstMediaDevice.h"

namespace melo::playback {
namespace {

TEST(GstMediaDeviceTest, StopTokenCutsShortAnOpenWhoseServerNeverAnswers) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
  ::listen(listener, 4);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);

  std::stop_source stop;
  const auto device = MakeGstMediaDevice(stop.get_token());
  auto open = std::async(std::launch::async, [&] {
    return device->Open("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x.mp3");
  });
  pollfd pending{listener, POLLIN, 0};
  EXPECT_EQ(::poll(&pending, 1, 20'000), 1) << "the open never reached the server";
  stop.request_stop();  // the open now waits for an answer that never comes
  EXPECT_EQ(open.get(), OpenResult::kStopped);
  ::close(listener);
}

}  // namespace
}  // namespace melo::playback
