// The About box: its texts, the home-page link and every end of the update
// check, against the bundled site's update page.

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

#include "UiTestSupport.h"
#include "core/update/UpdateCheck.h"
#include "ui/AboutDialog.h"
#include "ui/LinkLabel.h"

namespace melo::ui::testing {
namespace {

class AboutBoxTest : public SiteFixture {
 protected:
  explicit AboutBoxTest(bundled::BundledSiteOptions options = {})
      : SiteFixture(std::move(options)) {}

  std::unique_ptr<CAboutDialog> OpenBox() {
    auto box = std::make_unique<CAboutDialog>();
    box->show();
    return box;
  }

  // Presses "检查更新", answers boxes with `answer` and waits for the check to
  // end (its button comes back).
  std::vector<SeenBox> CheckForUpdate(CAboutDialog& box, QMessageBox::StandardButton answer,
                                      std::size_t expectedBoxes) {
    MessageBoxWatcher watcher(answer);
    auto* button = box.Control<QPushButton>(1007);
    button->click();
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(WaitUntil([&] { return button->isEnabled(); }));
    EXPECT_TRUE(WaitUntil([&] { return watcher.seen.size() >= expectedBoxes; }));
    Settle();
    return watcher.seen;
  }

  UrlRecorder urls_;
};

QStringList LabelTexts(const QDialog& box) {
  QStringList texts;
  for (QLabel* label : box.findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
    if (!label->text().isEmpty()) {
      texts << label->text();
    }
  }
  return texts;
}

TEST_F(AboutBoxTest, ShowsItsTexts) {
  auto box = OpenBox();
  EXPECT_EQ(box->windowTitle(), Q("关于 MeloDriftDown"));
  EXPECT_EQ(box->size(), QSize(441, 168));
  std::string site = Base();
  site.pop_back();
  const QStringList expected{
      Q("MeloDriftDown 1.5版"),
      QString::fromStdString(update::HomePageUrl()),
      Q("Author:  MeloDriftDown 开发组"),
      Q("Date:    2010.11.08"),
      Q("功能:    解析 ") + QString::fromStdString(site) + Q(" 里的歌曲下载地址"),
      Q("Blog:"),
      Q("E-mail:  melodriftdown@users.noreply.localhost"),
      Q("注:如有不能下载或者其它不正常情况请联系我"),
  };
  EXPECT_EQ(LabelTexts(*box), expected);
  EXPECT_EQ(box->Control<QPushButton>(1)->text(), Q("确定"));
  EXPECT_EQ(box->Control<QPushButton>(1007)->text(), Q("检查更新"));
  EXPECT_EQ(update::HomePageUrl(), Base() + "melodriftdown/");
  EXPECT_EQ(update::UpdatePageUrl(), Base() + "melodriftdown/update.html");
}

TEST_F(AboutBoxTest, LinkIsBlueUnderlinedAndOpensOnRelease) {
  auto box = OpenBox();
  auto* link = box->Control<LinkLabel>(1006);
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(link->font().underline());
  EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));

  QTest::mousePress(link, Qt::LeftButton);
  EXPECT_TRUE(urls_.opened.empty());  // not on the press
  QTest::mouseRelease(link, Qt::LeftButton);
  ASSERT_EQ(urls_.opened.size(), 1u);
  EXPECT_EQ(urls_.opened[0].toStdString(), update::HomePageUrl());

  QTest::mousePress(link, Qt::LeftButton);
  QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(-20, -20));  // let go elsewhere
  QTest::mouseClick(link, Qt::RightButton);
  EXPECT_EQ(urls_.opened.size(), 1u);
}

TEST_F(AboutBoxTest, NewerVersionOffersTheDownloadWithPlainAmpersands) {
  auto box = OpenBox();
  const std::vector<SeenBox> seen = CheckForUpdate(*box, QMessageBox::Yes, 1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].title, Q("melodriftdown"));
  EXPECT_EQ(seen[0].text, Q("发现有新版本,是否要下载?"));
  EXPECT_EQ(seen[0].icon, QMessageBox::Warning);
  ASSERT_EQ(urls_.opened.size(), 1u);
  EXPECT_EQ(urls_.opened[0].toStdString(),
            Base() + "melodriftdown/download/melodriftdown-v1.6.zip?from=update&v=1.6");
}

TEST_F(AboutBoxTest, AnsweringNoOpensNothing) {
  auto box = OpenBox();
  const std::vector<SeenBox> seen = CheckForUpdate(*box, QMessageBox::No, 1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(urls_.opened.empty());
}

class UpToDateTest : public AboutBoxTest, public ::testing::WithParamInterface<const char*> {
 protected:
  UpToDateTest() : AboutBoxTest(Options()) {}
  static bundled::BundledSiteOptions Options() {
    bundled::BundledSiteOptions options;
    options.latestVersion = GetParam();
    return options;
  }
};

TEST_P(UpToDateTest, SaysTheVersionIsTheLatest) {
  auto box = OpenBox();
  const std::vector<SeenBox> seen = CheckForUpdate(*box, QMessageBox::Ok, 1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, Q("当前版本已是最新版"));
  EXPECT_EQ(seen[0].icon, QMessageBox::Warning);
  EXPECT_TRUE(urls_.opened.empty());
}

// v1.10 is read as v1.1.
INSTANTIATE_TEST_SUITE_P(Versions, UpToDateTest, ::testing::Values("v1.5", "v1.10", "v1.0"));

class SilentPageTest : public AboutBoxTest {
 protected:
  SilentPageTest() : AboutBoxTest(Options()) {}
  static bundled::BundledSiteOptions Options() {
    static QTemporaryDir pages;
    QDir(pages.path()).mkpath(QStringLiteral("melodriftdown"));
    QFile page(pages.path() + QStringLiteral("/melodriftdown/update.html"));
    page.open(QIODevice::WriteOnly);
    page.write("<html><body>MeloDriftDown Version: v9.9</body></html>\r\n");
    bundled::BundledSiteOptions options;
    options.pagesDir = pages.path().toStdString();
    return options;
  }
};

TEST_F(SilentPageTest, PageWithoutTheMarkerEndsSilently) {
  auto box = OpenBox();
  const std::vector<SeenBox> seen = CheckForUpdate(*box, QMessageBox::Ok, 0);
  EXPECT_TRUE(seen.empty());
  EXPECT_TRUE(urls_.opened.empty());
}

TEST_F(AboutBoxTest, UnreachablePageShowsTheNetworkError) {
  site_.reset();  // nobody listens on the site's port any more
  auto box = OpenBox();
  const std::vector<SeenBox> seen = CheckForUpdate(*box, QMessageBox::Ok, 1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].icon, QMessageBox::Critical);
  EXPECT_EQ(seen[0].title, Q("melodriftdown"));
  EXPECT_FALSE(seen[0].text.isEmpty());
  EXPECT_NE(seen[0].text, Q("当前版本已是最新版"));
  EXPECT_TRUE(box->isVisible());
}

}  // namespace
}  // namespace melo::ui::testing
