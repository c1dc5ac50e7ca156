// melodriftdown: the desktop window.

#include <QCommandLineParser>
#include <cstdio>
#include <cstring>
#include <exception>
#include <thread>

#include "app/SiteSetup.h"
#include "app/gui/FontConfiguration.h"
#include "core/net/PageReader.h"
#include "core/update/UpdateCheck.h"
#include "ui/DownloaderApp.h"

namespace {

// Whether the command line asks only to print the help or the version, for
// which no display is needed. A word right after --site is its value.
bool AsksForHelpOrVersion(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    if (std::strcmp(word, "--") == 0)
      return false;
    if (std::strcmp(word, "--site") == 0) {
      ++i;
      continue;
    }
    for (const char* asked : {"-h", "--help", "--help-all", "-v", "--version"}) {
      if (std::strcmp(word, asked) == 0)
        return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace melo;
  std::jthread fontConfiguration;
  if (AsksForHelpOrVersion(argc, argv)) {
    // The window toolkit needs a display to start; printing needs none.
    qputenv("QT_QPA_PLATFORM", "offscreen");
  } else {
    // The window's first text waits for the desktop's font configuration,
    // which takes milliseconds to read: it is read while the toolkit starts
    // (the toolkit's own call then finds it read).
    fontConfiguration = std::jthread(app::LoadFontConfiguration);
  }
  ui::CDownloaderApp app(argc, argv);
  app.setApplicationVersion(QString::fromUtf8(
      update::kRunningVersion.data(), static_cast<qsizetype>(update::kRunningVersion.size())));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("melodriftdown: lists the songs of the site's song pages"));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption siteOption(QStringLiteral("site"),
                                      QStringLiteral("Read this site (HOST[:PORT])."),
                                      QStringLiteral("HOST[:PORT]"));
  const QCommandLineOption demoOption(QStringLiteral("demo"),
                                      QStringLiteral("Read the bundled site (the default)."));
  parser.addOption(siteOption);
  parser.addOption(demoOption);
  if (fontConfiguration.joinable()) {
    fontConfiguration.join();  // process() may exit()
  }
  parser.process(app);
  if (parser.isSet(siteOption) && parser.isSet(demoOption)) {
    std::fputs("melodriftdown: --site and --demo exclude each other\n", stderr);
    return 2;
  }

  net::SetUserAgent("melodriftdown");
  try {
    // Without --site the bundled site serves on loopback for as long as the
    // window is open.
    const auto bundledSite = app::SetUpSite(parser.value(siteOption).toStdString());
    return app.RunMainDialog(bundledSite != nullptr);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "melodriftdown: %s\n", error.what());
    return 1;
  }
}
