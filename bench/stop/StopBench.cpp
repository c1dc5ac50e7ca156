// How long a stop takes to end a read whose server trickles one byte every
// two seconds for ever, against the 100 ms a stop button may take: the
// counter `of_limit` is the measured time as a share of that limit (below 1
// is within it).

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "core/net/PageReader.h"

namespace {

constexpr std::chrono::milliseconds kLimit{100};

class TrickleServer {
 public:
  TrickleServer() {
    server_.Get("/trickle", [this](const httplib::Request&, httplib::Response& response) {
      response.set_chunked_content_provider("text/html", [this](std::size_t, auto& sink) {
        ++sentBytes_;
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, std::chrono::seconds(2), [this] { return closing_; });
        return !closing_ && sink.write("t", 1);
      });
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::jthread([this] { server_.listen_after_bind(); });
  }
  ~TrickleServer() {
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
    }
    wake_.notify_all();
    while (!server_.is_running())
      std::this_thread::yield();
    server_.stop();
  }
  std::string Address() const { return "http://127.0.0.1:" + std::to_string(port_) + "/trickle"; }
  int SentBytes() const { return sentBytes_.load(); }

 private:
  httplib::Server server_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool closing_ = false;
  std::atomic<int> sentBytes_{0};
  int port_ = 0;
  std::jthread thread_;
};

void BM_StopEndsATricklingRead(benchmark::State& state) {
  TrickleServer server;
  double totalMs = 0;
  for (auto _ : state) {
    std::stop_source stop;
    const int sentBefore = server.SentBytes();
    auto read = std::async(std::launch::async, [&] {
      melo::net::PageReader reader(stop.get_token());
      reader.Open(server.Address());
      try {
        reader.ReadToEnd(true);
      } catch (const melo::net::TransferStopped&) {
      }
    });
    // The read is under way once its first byte has gone out.
    while (server.SentBytes() <= sentBefore)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = std::chrono::steady_clock::now();
    stop.request_stop();
    read.get();
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count() / 1000);
    totalMs += took.count();
  }
  state.counters["of_limit"] =
      totalMs / static_cast<double>(state.iterations()) / static_cast<double>(kLimit.count());
}
BENCHMARK(BM_StopEndsATricklingRead)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
