#pragma once
// The scraping runs of one window: each on its own std::jthread, each
// reporting through a reporter that hands every event to the window's thread.
// There the board drops what a stopped run still sends, so a stop shows at
// once even while the worker is still unwinding its transfer.

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <variant>

#include "core/scrape/RunReporter.h"

namespace melo::ui {

using RunId = std::uint64_t;

enum class RunKind { kAddLink, kCrawl, kSearch };

struct StatusEvent {
  std::string text;  // GBK
};
struct FinishedEvent {};
using RunEvent = std::variant<StatusEvent, scrape::SongRecord, scrape::SingerRecord, FinishedEvent>;

// The window side of the runs' events; called on the window's thread only.
class RunEventSink {
 public:
  virtual ~RunEventSink() = default;
  // Only events of runs that have not been stopped arrive here.
  virtual void ApplyRunEvent(RunId runId, const RunEvent& event) = 0;
  // The run's thread has ended and been joined (stopped runs too).
  virtual void OnRunThreadEnded(RunId runId) = 0;
};

class RunBoard {
 public:
  using Body = std::function<void(scrape::RunReporter&, std::stop_token)>;

  // `window` is the object whose thread applies the events.
  RunBoard(QObject& window, RunEventSink& sink);
  ~RunBoard();  // stops and joins every run
  RunBoard(const RunBoard&) = delete;
  RunBoard& operator=(const RunBoard&) = delete;

  RunId Start(RunKind kind, Body body);

  // Aborts the run's transfer and drops whatever it still reports. The
  // thread is joined when it has ended (within the reader's abort time).
  void Stop(RunId id);
  // Running, neither stopped nor finished by itself.
  bool IsLive(RunId id) const;
  int LiveCount(RunKind kind) const;
  std::optional<RunId> NewestLive(RunKind kind) const;
  // Threads not yet joined, stopped ones included.
  std::size_t ThreadCount() const { return runs_.size(); }

  // Stops every run and joins every thread; nothing reaches the sink after.
  void StopAndJoinAll();

  // Window thread, by the runs' reporters.
  void Deliver(RunId id, RunEvent event);
  void ThreadEnded(RunId id);

 private:
  struct Run {
    RunKind kind;
    bool stopped = false;
    bool finished = false;
    std::jthread thread;
  };

  QObject& window_;
  RunEventSink& sink_;
  std::map<RunId, Run> runs_;  // ordered by id: the newest is last
  RunId nextId_ = 1;
  bool closed_ = false;
};

}  // namespace melo::ui
