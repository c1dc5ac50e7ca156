// The window tests need one QApplication for the whole program, with the
// program's own font and skin.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "core/text/Gbk.h"
#include "ui/DownloaderApp.h"

int main(int argc, char** argv) {
  // Test discovery runs the program without the tests' environment. No
  // display and no sound device needed; a real-time sink keeps playback's pace.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("MELODRIFT_AUDIO_SINK", "fakesink sync=true", 0);
#ifndef MELO_ON_PRIVATE_BUS
  // Never the desktop's own session bus: the windows start as they do without one.
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/melodrift-test-bus");
#endif
  // The converters' modules are loaded before any thread runs.
  melo::text::PrepareConversions();
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("melodriftdown"));
  melo::ui::ApplyProgramLook(app);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
