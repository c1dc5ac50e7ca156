#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  // No display and no sound device needed; a real-time sink keeps playback's pace.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("MELODRIFT_AUDIO_SINK", "fakesink sync=true", 0);
  // Never the desktop's own session bus: the windows start as they do without one.
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/melodrift-test-bus");
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("melodriftdown"));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
