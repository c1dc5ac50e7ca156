// A 16 MiB page from a loopback server, read through PageReader and, for
// comparison, fetched by the curl tool into /dev/null.

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/net/PageReader.h"

namespace {

constexpr std::size_t kPageBytes = std::size_t{16} << 20;
constexpr std::size_t kServeSliceBytes = 256 * 1024;

// Lines shaped like the site's pages: GBK text, CRLF endings.
std::string MakePage() {
  const std::string line =
      "<td><a href=\"/song/12345.html\">\xB8\xE8\xC7\xFA</a></td>" + std::string(40, ' ') + "\r\n";
  std::string page;
  page.reserve(kPageBytes + line.size());
  while (page.size() < kPageBytes)
    page += line;
  page.resize(kPageBytes);
  return page;
}

class PageServer {
 public:
  PageServer() : page_(MakePage()) {
    // Served from the one copy, so the server's own allocations do not
    // weigh on either side of the comparison.
    server_.Get("/page", [this](const httplib::Request&, httplib::Response& response) {
      response.set_content_provider(
          page_.size(), "text/html", [this](std::size_t offset, std::size_t length, auto& sink) {
            return sink.write(page_.data() + offset, std::min(length, kServeSliceBytes));
          });
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::jthread([this] { server_.listen_after_bind(); });
  }
  ~PageServer() {
    while (!server_.is_running())
      std::this_thread::yield();
    server_.stop();
  }
  std::string Address() const { return "http://127.0.0.1:" + std::to_string(port_) + "/page"; }
  // What ReadToEnd(true) gives: the page without its line ends.
  std::size_t TextBytes() const {
    return page_.size() - static_cast<std::size_t>(std::count(page_.begin(), page_.end(), '\r') +
                                                   std::count(page_.begin(), page_.end(), '\n'));
  }

 private:
  std::string page_;
  httplib::Server server_;
  int port_ = 0;
  std::jthread thread_;
};

PageServer& Server() {
  static PageServer server;
  return server;
}

void BM_PageReaderReadToEnd(benchmark::State& state) {
  const std::string address = Server().Address();
  for (auto _ : state) {
    melo::net::PageReader reader;
    reader.Open(address);
    const std::string text = reader.ReadToEnd(true);
    if (text.size() != Server().TextBytes())
      state.SkipWithError("wrong page text");
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPageBytes));
}
BENCHMARK(BM_PageReaderReadToEnd)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CurlToolToDevNull(benchmark::State& state) {
  const std::string command = "curl -s -o /dev/null '" + Server().Address() + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0)
      state.SkipWithError("curl failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPageBytes));
}
BENCHMARK(BM_CurlToolToDevNull)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
