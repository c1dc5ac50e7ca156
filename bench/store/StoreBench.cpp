// The remembered song list, in the real window (offscreen):
// - start-up with 100,000 saved rows: from process start to the window's
//   first frame, against the same start with nothing saved; and the resident
//   memory then, against a window that holds the same rows appended without
//   a store (what the list itself needs);
// - 100,000 rows appended as a crawl's events arrive, each also handed to
//   the store: the window thread's CPU time against the same appends into a
//   window that keeps nothing (best of five each).
// Each start runs in a child process of its own, in a profile of its own.
// Prints one line per measurement: name, value, reference, goal (ratio), unit.

#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/store/ListStore.h"
#include "core/text/Gbk.h"
#include "list/ListBenchSupport.h"
#include "ui/DownloaderApp.h"
#include "ui/MainDialog.h"
#include "ui/RecordListView.h"

namespace {

using melo::bench::ResidentMegabytes;
using melo::bench::Row;
using melo::bench::ThreadCpuSeconds;

namespace fs = std::filesystem;
using melo::ui::CMainDialog;

constexpr int kRows = 100'000;
constexpr int kBurst = 100;

void Report(const char* name, double value, double reference, double goal, const char* unit) {
  std::printf("%s\t%.3f\t%.3f\t%.1f\t%s\n", name, value, reference, goal, unit);
}

fs::path FreshProfile(const char* name) {
  const fs::path root =
      fs::temp_directory_path() / ("melodrift-store-bench-" + std::to_string(getpid())) / name;
  fs::remove_all(root);
  fs::create_directories(root / "data");
  fs::create_directories(root / "config");
  setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
  return root;
}

void SaveRows(int rows) {
  melo::store::OpenedStore opened =
      melo::store::OpenListStore(melo::store::DefaultStorePath(), [](auto&&) {});
  for (int n = 0; n < rows; ++n)
    opened.store->AppendSong(Row(n));
}

// Child: one start of the window, until its first frame; writes the
// resident megabytes then.
int StartOnce(int argc, char** argv, bool appendInstead) {
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("melodriftdown"));
  melo::ui::ApplyProgramLook(app);
  CMainDialog dialog(nullptr, CMainDialog::Memory::kRemember);
  if (appendInstead) {
    for (int n = 0; n < kRows; ++n) {
      const melo::scrape::SongRecord r = Row(n);
      dialog.SongList().AppendRow({r.singer, r.title, r.downloadLink, r.singerLink, r.songLink});
    }
    dialog.SongList().ShowPendingRows();
  }
  struct FirstFrame : QObject {
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint)
        painted = true;
      return false;
    }
    bool painted = false;
  } frame;
  dialog.SongList().viewport()->installEventFilter(&frame);
  dialog.show();
  while (!frame.painted)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  std::printf("%.3f %d\n", ResidentMegabytes(), dialog.SongList().RowCount());
  return 0;
}

struct Start {
  double seconds;
  double residentMb;
};

// Wall time from fork to the child's first frame; best of three.
Start TimeStart(const char* self, const char* mode) {
  Start best{1e9, 0};
  for (int run = 0; run < 3; ++run) {
    int out[2];
    if (pipe(out) != 0)
      std::exit(1);
    const auto began = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      execl(self, self, mode, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    char line[128] = {};
    const ssize_t got = read(out[0], line, sizeof line - 1);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    close(out[0]);
    waitpid(child, nullptr, 0);
    double rss = 0;
    int rows = 0;
    if (got <= 0 || std::sscanf(line, "%lf %d", &rss, &rows) != 2)
      std::exit(1);
    if (std::string(mode) != "--start-empty" && rows != kRows)
      std::fprintf(stderr, "store_bench: %s started with %d rows\n", mode, rows);
    if (seconds < best.seconds)
      best = {seconds, rss};
  }
  return best;
}

double AppendBusySeconds(CMainDialog::Memory memory) {
  CMainDialog dialog(nullptr, memory);
  dialog.show();
  for (int i = 0; i < 5; ++i)
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  const double cpuBefore = ThreadCpuSeconds();
  for (int first = 0; first < kRows; first += kBurst) {
    for (int n = first; n < first + kBurst; ++n) {
      QMetaObject::invokeMethod(
          &dialog, [&dialog, n] { dialog.AppendSongRow(Row(n)); }, Qt::QueuedConnection);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  const QAbstractItemModel& shown = *dialog.SongList().model();
  while (shown.rowCount() < kRows)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  dialog.SongList().scrollToBottom();
  dialog.repaint();
  return ThreadCpuSeconds() - cpuBefore;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("MELODRIFT_AUDIO_SINK"))
    qputenv("MELODRIFT_AUDIO_SINK", "fakesink sync=true");
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode.starts_with("--start-")) {
    return StartOnce(argc, argv, mode == "--start-appended");
  }
  const fs::path self = fs::canonical("/proc/self/exe");

  FreshProfile("empty");
  const Start empty = TimeStart(self.c_str(), "--start-empty");
  FreshProfile("appended");
  const Start appended = TimeStart(self.c_str(), "--start-appended");
  FreshProfile("restored");
  SaveRows(kRows);
  const Start restored = TimeStart(self.c_str(), "--start-restored");
  Report("100,000 rows restored: start to first frame, more", restored.seconds - empty.seconds, 1.0,
         1.0, "s");
  Report("100,000 rows restored: more resident than appended",
         restored.residentMb - appended.residentMb, 20.0, 1.0, "MB");

  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("melodriftdown"));
  melo::ui::ApplyProgramLook(app);
  // A tenth of a second of busy time swings by a third on a shared machine:
  // the best of five, taken in turns, as for the starts.
  double without = 1e9;
  double with = 1e9;
  for (int run = 0; run < 5; ++run) {
    FreshProfile("forget");
    without = std::min(without, AppendBusySeconds(CMainDialog::Memory::kForget));
    FreshProfile("remember");
    with = std::min(with, AppendBusySeconds(CMainDialog::Memory::kRemember));
  }
  Report("100,000 rows appended with the store: window thread busy", with, without, 1.1, "s");
  std::error_code ignored;
  fs::remove_all(fs::temp_directory_path() / ("melodrift-store-bench-" + std::to_string(getpid())),
                 ignored);
  return 0;
}
