// Saves pictures of the main window and the About box for the docs, when
// MELO_SCREENSHOT_DIR names a folder (scripts/screenshots.sh sets it).

#include <QDir>
#include <QPixmap>
#include <QRadioButton>

#include "UiTestSupport.h"
#include "ui/AboutDialog.h"
#include "ui/Menus.h"

namespace melo::ui::testing {
namespace {

class ScreenshotTest : public DialogFixture {
 protected:
  void SetUp() override {
    folder_ = qEnvironmentVariable("MELO_SCREENSHOT_DIR");
    if (folder_.isEmpty()) {
      GTEST_SKIP() << "MELO_SCREENSHOT_DIR is not set";
    }
    QDir().mkpath(folder_);
  }

  void Save(QWidget& widget, const char* name) {
    Settle();
    EXPECT_TRUE(widget.grab().save(folder_ + QLatin1Char('/') + QLatin1String(name)));
  }

  QString folder_;
};

TEST_F(ScreenshotTest, MainWindowAndAboutBox) {
  dialog_->OnCommand(kChartCommand);
  ASSERT_TRUE(WaitForRuns());
  Songs().SetSelectionMark(2);
  ASSERT_TRUE(WaitUntil(
      [this] { return Control<QLineEdit>(1009)->text() == QString::number(Songs().RowCount()); }));
  Save(*dialog_, "main-window.png");

  dialog_->OnCommand(kSearchPanelCommand);
  Control<QLineEdit>(1018)->setText(Q("林晚风"));
  Control<QRadioButton>(1023)->click();
  Click(1021);
  ASSERT_TRUE(WaitForRuns());
  Save(*dialog_, "main-window-search.png");

  CAboutDialog about(dialog_.get());
  about.show();
  Save(about, "about-box.png");
}

}  // namespace
}  // namespace melo::ui::testing
