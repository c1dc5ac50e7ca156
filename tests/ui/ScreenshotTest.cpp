// Saves pictures of the main window and the About box for the docs, when
// MELO_SCREENSHOT_DIR names a folder (scripts/screenshots.sh sets it).

#include <QDir>
#include <QRadioButton>

#include "UiTestSupport.h"
#include "ui/AboutDialog.h"

namespace melo::ui::testing {
namespace {

using ScreenshotTest = DialogFixture;

TEST_F(ScreenshotTest, MainWindowAndAboutBox) {
  const QString folder = qEnvironmentVariable("MELO_SCREENSHOT_DIR");
  if (folder.isEmpty()) {
    GTEST_SKIP() << "MELO_SCREENSHOT_DIR is not set";
  }
  QDir().mkpath(folder);
  const auto save = [&](QWidget& widget, const char* name) {
    Settle();
    EXPECT_TRUE(widget.grab().save(folder + QLatin1Char('/') + QLatin1String(name)));
  };
  dialog_->OnCommand(kChartCommand);
  ASSERT_TRUE(WaitForRuns());
  Songs().SetSelectionMark(2);
  ASSERT_TRUE(WaitUntil(
      [this] { return Control<QLineEdit>(1009)->text() == QString::number(Songs().RowCount()); }));
  save(*dialog_, "main-window.png");

  dialog_->OnCommand(kSearchPanelCommand);
  Control<QLineEdit>(1018)->setText(Q("林晚风"));
  Control<QRadioButton>(1023)->click();
  Click(1021);
  ASSERT_TRUE(WaitForRuns());
  save(*dialog_, "main-window-search.png");

  CAboutDialog about(dialog_.get());
  about.show();
  save(about, "about-box.png");
}

}  // namespace
}  // namespace melo::ui::testing
