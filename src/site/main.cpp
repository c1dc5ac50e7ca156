// melodrift-site: the bundled site as a program of its own, for trying the
// programs against it by hand and for benchmarks.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <exception>

#include "site/BundledSite.h"

namespace {

// Waits for SIGINT or SIGTERM without a handler, so the server's destructor
// runs on this thread after the wait.
int WaitForStopSignal() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  int received = 0;
  sigwait(&signals, &received);
  return received;
}

void BlockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  melo::bundled::BundledSiteOptions options;
  CLI::App app{"Serves the bundled demo music site on 127.0.0.1."};
  app.add_option("--port", options.port, "Port to listen on (0: any free port)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--latency-ms", options.latencyMs, "Delay before each answer")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--pages", options.pagesDir, "Serve recorded pages from this folder first")
      ->check(CLI::ExistingDirectory);
  app.add_flag("--verbose", options.verbose, "Log every request on stderr");
  app.add_option("--latest-version", options.latestVersion,
                 "Version the update page announces (four bytes, like v1.6)");
  app.add_option("--chart-size", options.chartSize, "Entries of the weekly chart")
      ->check(CLI::NonNegativeNumber);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Usage errors exit 2 like melodrift's, not with the parser's own codes.
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }

  // Blocked before the server starts its threads, which inherit the mask.
  BlockStopSignals();
  try {
    melo::bundled::BundledSite site(options);
    std::printf("listening on http://%s/\n", site.Host().c_str());
    std::fflush(stdout);
    WaitForStopSignal();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "melodrift-site: %s\n", e.what());
    return 1;
  }
  return 0;
}
