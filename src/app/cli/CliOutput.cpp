#include "app/cli/CliOutput.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>

#include "core/scrape/StatusTexts.h"
#include "core/text/Gbk.h"
#include "core/text/TerminalText.h"
#include "core/text/TextRules.h"

namespace melo::cli {
namespace {

using text::GbkToUtf8;

std::string TsvField(const std::string& gbk) {
  std::string out;
  for (char c : GbkToUtf8(gbk)) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  return text::TerminalSafe(out);
}

// One line in one write: stderr is unbuffered, and a line written in pieces
// costs a system call a piece (and may be torn by another writer).
void WriteLine(std::ostream& stream, std::string line) {
  line += '\n';
  stream << line << std::flush;
}

bool IsFailureStatus(const std::string& text) {
  using namespace scrape::texts;
  const auto endsWith = [&](const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
  };
  return text == kNetworkFailed || endsWith(kParseFailed);
}

// Written by the signal handler, read by the watcher thread: a lock-free
// atomic is safe in both places, a volatile sig_atomic_t only in the first.
std::atomic<bool> g_interrupted = false;
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  g_interrupted.store(true);
}

}  // namespace

std::string SongLine(const scrape::SongRecord& song, bool json) {
  if (json) {
    nlohmann::ordered_json j = {{"singer", GbkToUtf8(song.singer)},
                                {"title", GbkToUtf8(song.title)},
                                {"downloadLink", GbkToUtf8(song.downloadLink)},
                                {"singerLink", GbkToUtf8(song.singerLink)},
                                {"songLink", GbkToUtf8(song.songLink)}};
    return text::TerminalSafeJson(j.dump());
  }
  return TsvField(song.singer) + '\t' + TsvField(song.title) + '\t' + TsvField(song.downloadLink) +
         '\t' + TsvField(song.singerLink) + '\t' + TsvField(song.songLink);
}

std::string SingerLine(const scrape::SingerRecord& singer, bool json) {
  if (json) {
    nlohmann::ordered_json j = {{"singer", GbkToUtf8(singer.singer)},
                                {"singerLink", GbkToUtf8(singer.singerLink)}};
    return text::TerminalSafeJson(j.dump());
  }
  return TsvField(singer.singer) + '\t' + TsvField(singer.singerLink);
}

ConsoleReporter::ConsoleReporter(std::ostream& out, std::ostream& err, bool json, bool showProgress)
    : out_(out), err_(err), json_(json), showProgress_(showProgress) {}

ConsoleReporter::~ConsoleReporter() {
  ClearProgress();
}

void ConsoleReporter::Status(const std::string& text) {
  if (IsFailureStatus(text))
    ++failures_;
  ClearProgress();
  WriteLine(err_, text::TerminalSafe(GbkToUtf8(text)));
  DrawProgress();
}

void ConsoleReporter::SongRow(const scrape::SongRecord& record) {
  ++rows_;
  WriteLine(out_, SongLine(record, json_));
}

void ConsoleReporter::SingerRow(const scrape::SingerRecord& record) {
  ++rows_;
  WriteLine(out_, SingerLine(record, json_));
}

void ConsoleReporter::Failure(const std::string& reason) {
  ++failures_;
  ClearProgress();
  WriteLine(err_, GbkToUtf8(reason));
  DrawProgress();
}

void ConsoleReporter::Progress(int done, int found) {
  done_ = done;
  found_ = found;
  DrawProgress();
}

void ConsoleReporter::ClearProgress() {
  if (!progressShown_)
    return;
  err_ << "\r\033[K" << std::flush;
  progressShown_ = false;
}

void ConsoleReporter::DrawProgress() {
  if (!showProgress_ || found_ == 0)
    return;
  err_ << "\r\033[K" << done_ << '/' << found_ << std::flush;
  progressShown_ = true;
}

InterruptStop::InterruptStop() {
  g_interrupted.store(false);
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  watcher_ = std::jthread([this](std::stop_token done) {
    // Woken at once when the run ends, so that the program exits without
    // waiting out a poll interval.
    std::mutex mutex;
    std::condition_variable_any never;
    std::unique_lock lock(mutex);
    while (!done.stop_requested()) {
      if (g_interrupted.load()) {
        source_.request_stop();
        return;
      }
      never.wait_for(lock, done, std::chrono::milliseconds(20), [] { return false; });
    }
  });
}

InterruptStop::~InterruptStop() {
  watcher_.request_stop();
  watcher_.join();
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

int RunOnConsole(bool json, const std::string& stoppedText,
                 const std::function<void(scrape::RunReporter&, std::stop_token)>& run,
                 const std::string& nothingFoundText) {
  InterruptStop interrupt;
  ConsoleReporter reporter(std::cout, std::cerr, json, StderrIsTerminal());
  run(reporter, interrupt.Token());
  if (interrupt.Interrupted()) {
    if (!stoppedText.empty())
      reporter.Status(stoppedText);
    return kInterruptedExit;
  }
  if (reporter.SawFailure())
    return 1;
  // An empty result is no failure, but it is said.
  if (reporter.RowCount() == 0 && !nothingFoundText.empty())
    reporter.Status(nothingFoundText);
  return 0;
}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

}  // namespace melo::cli
