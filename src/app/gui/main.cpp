// melodriftdown: the desktop window.

#include <QCommandLineParser>
#include <cstdio>
#include <exception>

#include "app/SiteSetup.h"
#include "core/net/PageReader.h"
#include "ui/DownloaderApp.h"

int main(int argc, char** argv) {
  using namespace melo;
  ui::CDownloaderApp app(argc, argv);

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("melodriftdown: lists the songs of the site's song pages"));
  parser.addHelpOption();
  const QCommandLineOption siteOption(QStringLiteral("site"),
                                      QStringLiteral("Read this site (HOST[:PORT])."),
                                      QStringLiteral("HOST[:PORT]"));
  const QCommandLineOption demoOption(QStringLiteral("demo"),
                                      QStringLiteral("Read the bundled site (the default)."));
  parser.addOption(siteOption);
  parser.addOption(demoOption);
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
    return app.RunMainDialog();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "melodriftdown: %s\n", error.what());
    return 1;
  }
}
