#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "playback/GstMediaDevice.h"
#include "playback/PlaybackAddress.h"
#include "playback/SiteSongs.h"

namespace melo::playback {
namespace {

using namespace std::chrono_literals;
using testing::Mp3Address;

// Polls `done` until it holds; false if it never does.
template <typename Predicate>
bool Eventually(Predicate done) {
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

class GstMediaDeviceTest : public ::testing::Test {
 protected:
  // No sound device needed; a real-time sink keeps playback's pace.
  static void SetUpTestSuite() { setenv("MELODRIFT_AUDIO_SINK", "fakesink sync=true", 0); }

  std::string DeviceAddressOf(const bundled::CatalogueSong& song) const {
    return DeviceAddress(Mp3Address(site, song));
  }

  bundled::BundledSite site;
};

TEST_F(GstMediaDeviceTest, OpensASongAndTellsItsLength) {
  const auto& song = testing::SongWithSpace();
  const auto device = MakeGstMediaDevice();
  ASSERT_EQ(device->Open(DeviceAddressOf(song)), OpenResult::kOpened);
  const auto length = device->LengthMs();
  ASSERT_TRUE(length.has_value());
  EXPECT_NEAR(static_cast<double>(*length), song.lengthMs, 100.0);
  EXPECT_EQ(device->Mode(), MediaMode::kPlaying);
}

TEST_F(GstMediaDeviceTest, ReportsStoppedAtTheEnd) {
  const auto device = MakeGstMediaDevice();
  ASSERT_EQ(device->Open(DeviceAddressOf(testing::ShortestSong())), OpenResult::kOpened);
  device->Seek(0);
  device->Play();
  EXPECT_TRUE(Eventually([&] { return device->Mode() == MediaMode::kStopped; }));
}

TEST_F(GstMediaDeviceTest, FailsOnAddressesThatCannotBeOpened) {
  const std::string addresses[] = {
      "",
      "not an address",
      DeviceAddress("http://" + site.Host() + "/cache/mp3/0000000/none.mp3"),  // 404
      DeviceAddress("http://" + site.Host() + "/song/2244436/"),               // a page, not audio
      "http://127.0.0.1:1/closed.mp3",
  };
  for (const auto& address : addresses) {
    const auto device = MakeGstMediaDevice();
    EXPECT_NE(device->Open(address), OpenResult::kOpened) << address;
    EXPECT_EQ(device->Mode(), MediaMode::kStopped) << address;
  }
}

// A listener that takes connections but never answers.
class SilentServer {
 public:
  SilentServer() : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(socket_, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(socket_, 4);
    ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~SilentServer() { ::close(socket_); }
  int Port() const { return port_; }

 private:
  int socket_;
  int port_ = 0;
};

TEST(GstMediaDeviceStopTest, StopTokenCutsAWaitingOpenShort) {
  SilentServer server;
  std::stop_source stop;
  const auto device = MakeGstMediaDevice(stop.get_token());
  auto open = std::async(std::launch::async, [&] {
    return device->Open("http://127.0.0.1:" + std::to_string(server.Port()) + "/x.mp3");
  });
  std::this_thread::sleep_for(300ms);
  stop.request_stop();
  EXPECT_EQ(open.get(), OpenResult::kStopped);
}

}  // namespace
}  // namespace melo::playback
