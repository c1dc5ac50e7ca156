// The window tests need one QApplication for the whole program, with the
// program's own font and skin.

#include <gtest/gtest.h>

#include <QApplication>

#include "ui/DownloaderApp.h"

int main(int argc, char** argv) {
  // Test discovery runs the program without the tests' environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  // Never the desktop's own session bus: the windows start as they do without one.
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/melodrift-test-bus");
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("melodriftdown"));
  melo::ui::ApplyProgramLook(app);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
