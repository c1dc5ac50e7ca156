#pragma once
// How `melodrift` shows a run: status texts on stderr (one line each), rows
// on stdout (TSV or one JSON object per line), and on a terminal a live
// progress line on stderr. Everything it prints is UTF-8.

#include <atomic>
#include <functional>
#include <iosfwd>
#include <stop_token>
#include <string>
#include <thread>

#include "core/scrape/RunReporter.h"

namespace melo::cli {

// TSV with \t, \n and \\ escaped inside fields, or JSON.
std::string SongLine(const scrape::SongRecord& song, bool json);
std::string SingerLine(const scrape::SingerRecord& singer, bool json);

class ConsoleReporter : public scrape::RunReporter {
 public:
  ConsoleReporter(std::ostream& out, std::ostream& err, bool json, bool showProgress);
  ~ConsoleReporter() override;

  void Status(const std::string& text) override;
  void SongRow(const scrape::SongRecord& record) override;
  void SingerRow(const scrape::SingerRecord& record) override;
  void Progress(int done, int found) override;
  void Failure(const std::string& reason) override;

  // Whether any status told of a failure (network or parse), or the run
  // reported one.
  bool SawFailure() const { return failures_ > 0; }
  int RowCount() const { return rows_; }

 private:
  void ClearProgress();
  void DrawProgress();

  std::ostream& out_;
  std::ostream& err_;
  bool json_;
  bool showProgress_;
  bool progressShown_ = false;
  int done_ = 0;
  int found_ = 0;
  int failures_ = 0;
  int rows_ = 0;
};

// Turns Ctrl-C (SIGINT) and SIGTERM into a stop request, as the window's stop
// button would. The handler only sets a flag; a watcher thread requests the
// stop, since nothing else is safe inside a signal handler.
class InterruptStop {
 public:
  InterruptStop();
  ~InterruptStop();
  InterruptStop(const InterruptStop&) = delete;
  InterruptStop& operator=(const InterruptStop&) = delete;

  std::stop_token Token() const { return source_.get_token(); }
  bool Interrupted() const { return source_.stop_requested(); }

 private:
  std::stop_source source_;
  std::jthread watcher_;
};

// Exit code of a run ended by Ctrl-C.
inline constexpr int kInterruptedExit = 130;

// Runs one crawl or search on the console, with progress on a terminal and
// Ctrl-C as its stop, after which `stoppedText` (GBK; none when empty) is the
// last status, as the window's stop buttons write it. A run that ends by
// itself without a row or a failure says `nothingFoundText` (GBK; none when
// empty) last. Exit code: 0, 1 when any failure was reported, 130 when
// interrupted.
int RunOnConsole(bool json, const std::string& stoppedText,
                 const std::function<void(scrape::RunReporter&, std::stop_token)>& run,
                 const std::string& nothingFoundText = {});

// Whether stderr is a terminal (progress is shown only there).
bool StderrIsTerminal();

}  // namespace melo::cli
