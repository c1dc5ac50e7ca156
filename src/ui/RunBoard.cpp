#include "ui/RunBoard.h"

#include <QMetaObject>
#include <utility>

namespace melo::ui {
namespace {

// Hands every event to the window's thread; the worker never waits for it,
// so a window that is joining this very worker cannot deadlock with it.
class WindowReporter : public scrape::RunReporter {
 public:
  WindowReporter(QObject& window, RunBoard& board, RunId id)
      : window_(window), board_(board), id_(id) {}

  void Status(const std::string& text) override {
    lastStatus_ = text;
    Post(StatusEvent{text});
  }
  void SongRow(const scrape::SongRecord& record) override { Post(record); }
  void SingerRow(const scrape::SingerRecord& record) override { Post(record); }
  // The status line keeps the run's last text; the reason follows it.
  void Failure(const std::string& reason) override {
    Post(StatusEvent{lastStatus_ + " (" + reason + ")"});
  }
  void Finished() override { Post(FinishedEvent{}); }

 private:
  void Post(RunEvent event) {
    QMetaObject::invokeMethod(
        &window_,
        [board = &board_, id = id_, event = std::move(event)]() mutable {
          board->Deliver(id, std::move(event));
        },
        Qt::QueuedConnection);
  }

  QObject& window_;
  RunBoard& board_;
  RunId id_;
  std::string lastStatus_;
};

}  // namespace

RunBoard::RunBoard(QObject& window, RunEventSink& sink) : window_(window), sink_(sink) {}

RunBoard::~RunBoard() {
  StopAndJoinAll();
}

RunId RunBoard::Start(RunKind kind, Body body) {
  if (closed_) {
    return 0;
  }
  const RunId id = nextId_++;
  Run& run = runs_[id];
  run.kind = kind;
  run.thread = std::jthread([this, id, body = std::move(body)](std::stop_token stop) {
    WindowReporter reporter(window_, *this, id);
    try {
      body(reporter, stop);
    } catch (...) {
      // The runners report their own failures; nothing may leave a worker.
    }
    QMetaObject::invokeMethod(
        &window_, [this, id] { ThreadEnded(id); }, Qt::QueuedConnection);
  });
  return id;
}

void RunBoard::Stop(RunId id) {
  const auto it = runs_.find(id);
  if (it == runs_.end()) {
    return;
  }
  it->second.stopped = true;
  it->second.thread.request_stop();
}

bool RunBoard::IsLive(RunId id) const {
  const auto it = runs_.find(id);
  return it != runs_.end() && !it->second.stopped && !it->second.finished;
}

int RunBoard::LiveCount(RunKind kind) const {
  int count = 0;
  for (const auto& [id, run] : runs_) {
    count += run.kind == kind && IsLive(id) ? 1 : 0;
  }
  return count;
}

std::optional<RunId> RunBoard::NewestLive(RunKind kind) const {
  for (auto it = runs_.rbegin(); it != runs_.rend(); ++it) {
    if (it->second.kind == kind && IsLive(it->first)) {
      return it->first;
    }
  }
  return std::nullopt;
}

void RunBoard::StopAndJoinAll() {
  closed_ = true;
  for (auto& [id, run] : runs_) {
    run.stopped = true;
    run.thread.request_stop();
  }
  // Every transfer aborts on its stop token, so these joins are short.
  runs_.clear();
}

void RunBoard::Deliver(RunId id, RunEvent event) {
  const auto it = runs_.find(id);
  if (it == runs_.end() || it->second.stopped) {
    return;
  }
  if (std::holds_alternative<FinishedEvent>(event)) {
    it->second.finished = true;
  }
  sink_.ApplyRunEvent(id, event);
}

void RunBoard::ThreadEnded(RunId id) {
  const auto it = runs_.find(id);
  if (it == runs_.end()) {
    return;
  }
  it->second.thread.join();
  runs_.erase(it);
  sink_.OnRunThreadEnded(id);
}

}  // namespace melo::ui
