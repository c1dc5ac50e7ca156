// The song list under load, in the real window (offscreen):
// - 100,000 rows appended as a crawl's events arrive: posted to the window in
//   bursts of 100, the event loop running (layout and painting included)
//   between bursts; the window thread's CPU time and the resident memory the
//   rows add;
// - then the window left open with those rows and nothing running, for
//   MELO_IDLE_SECONDS (60 by default): the process's CPU time, scaled to 60 s
//   (only the one-second row counter may wake), and its resident memory;
// - a 10,000-song chart crawl of the bundled site filling the list, with the
//   longest pause of the window's event loop meanwhile (the lateness of a
//   5 ms timer).
// Prints one line per measurement: name, value, limit, unit, and the goal
// for value / limit when it is not 1 ("-": a figure shown as it is).

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>

#include "ListBenchSupport.h"
#include "core/site/Site.h"
#include "core/text/Gbk.h"
#include "site/BundledSite.h"
#include "ui/DownloaderApp.h"
#include "ui/MainDialog.h"
#include "ui/Menus.h"
#include "ui/RecordListView.h"

namespace {

using melo::bench::ProcessCpuSeconds;
using melo::bench::ResidentMegabytes;
using melo::bench::Row;
using melo::bench::ThreadCpuSeconds;

constexpr int kAppendedRows = 100'000;
constexpr int kBurst = 100;
constexpr int kCrawledSongs = 10'000;
constexpr int kTickMs = 5;

void Report(const char* name, double value, double limit, const char* unit,
            const char* goal = "1.0") {
  std::printf("%s\t%.3f\t%.3f\t%s\t%s\n", name, value, limit, unit, goal);
}

void Settle() {
  for (int i = 0; i < 5; ++i)
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void MeasureAppends(melo::ui::CMainDialog& dialog) {
  const double rssBefore = ResidentMegabytes();
  const double cpuBefore = ThreadCpuSeconds();
  for (int first = 0; first < kAppendedRows; first += kBurst) {
    for (int n = first; n < first + kBurst; ++n) {
      QMetaObject::invokeMethod(
          &dialog, [&dialog, n] { dialog.AppendSongRow(Row(n)); }, Qt::QueuedConnection);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  // Until the view has laid out every row, and drawn them.
  const QAbstractItemModel& shown = *dialog.SongList().model();
  while (shown.rowCount() < kAppendedRows)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  dialog.SongList().scrollToBottom();
  dialog.repaint();
  const double cpu = ThreadCpuSeconds() - cpuBefore;
  const double rss = ResidentMegabytes() - rssBefore;
  if (dialog.SongList().RowCount() != kAppendedRows)
    std::fprintf(stderr, "list_bench: %d rows\n", dialog.SongList().RowCount());
  Report("100,000 rows appended: window thread busy", cpu, 1.0, "s");
  Report("100,000 rows appended: more resident memory", rss, 100.0, "MB");
}

void MeasureIdle() {
  const double seconds = std::max(1.0, qEnvironmentVariable("MELO_IDLE_SECONDS", "60").toDouble());
  const double cpuBefore = ProcessCpuSeconds();
  QEventLoop idle;
  QTimer::singleShot(static_cast<int>(seconds * 1000), &idle, &QEventLoop::quit);
  idle.exec();
  const double cpu = (ProcessCpuSeconds() - cpuBefore) * 60 / seconds;
  Report("100,000 rows, idle: CPU time per 60 s", cpu, 0.1, "s");
  Report("100,000 rows, idle: resident memory", ResidentMegabytes(), 0.0, "MB", "-");
}

void MeasureCrawl() {
  melo::ui::CMainDialog dialog;
  dialog.show();
  Settle();

  QElapsedTimer sinceTick;
  qint64 longestGapMs = 0;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(kTickMs);
  QObject::connect(&ticker, &QTimer::timeout,
                   [&] { longestGapMs = std::max(longestGapMs, sinceTick.restart()); });
  QEventLoop loop;
  QTimer watcher;
  watcher.setInterval(20);
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    if (dialog.RunThreadCount() == 0)
      loop.quit();
  });
  QElapsedTimer crawl;
  crawl.start();
  dialog.OnCommand(melo::ui::kChartCommand);
  sinceTick.start();
  ticker.start();
  watcher.start();
  loop.exec();
  Settle();
  if (dialog.SongList().RowCount() != kCrawledSongs)
    std::fprintf(stderr, "list_bench: crawl listed %d songs\n", dialog.SongList().RowCount());
  std::fprintf(stderr, "list_bench: 10,000-song crawl took %.2f s\n",
               static_cast<double>(crawl.elapsed()) / 1000);
  Report("10,000-song crawl: longest event-loop pause", static_cast<double>(longestGapMs - kTickMs),
         50.0, "ms");
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("MELODRIFT_AUDIO_SINK"))
    qputenv("MELODRIFT_AUDIO_SINK", "fakesink sync=true");
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("melodriftdown"));
  melo::ui::ApplyProgramLook(app);
  melo::bundled::BundledSiteOptions options;
  options.chartSize = kCrawledSongs;
  const melo::bundled::BundledSite site(options);
  melo::site::SetSiteHost(site.Host());
  {
    melo::ui::CMainDialog dialog;
    dialog.show();
    Settle();
    MeasureAppends(dialog);
    MeasureIdle();
  }
  MeasureCrawl();
  return 0;
}
