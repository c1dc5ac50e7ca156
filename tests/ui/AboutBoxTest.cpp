// The About box: its texts, the home-page link and every end of the update
// check, against the bundled site's update page.

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

#include "UiTestSupport.h"
#include "ui/AboutDialog.h"
#include "ui/LinkLabel.h"

namespace melo::ui::testing {
namespace {

// Presses "检查更新", answers boxes with `answer` and waits for the check to
// end (its button comes back).
std::vector<SeenBox> CheckForUpdate(QMessageBox::StandardButton answer, std::size_t boxes) {
  CAboutDialog box;
  box.show();
  MessageBoxWatcher watcher(answer);
  auto* button = box.Control<QPushButton>(1007);
  button->click();
  EXPECT_FALSE(button->isEnabled());
  EXPECT_TRUE(WaitUntil([&] { return button->isEnabled(); }));
  EXPECT_TRUE(WaitUntil([&] { return watcher.seen.size() >= boxes; }));
  Settle();
  EXPECT_TRUE(box.isVisible());
  return watcher.seen;
}

using AboutBoxTest = DialogFixture;

TEST_F(AboutBoxTest, TextsAndTheHomePageLink) {
  CAboutDialog box;
  box.show();
  EXPECT_EQ(box.windowTitle(), Q("关于 MeloDriftDown"));
  EXPECT_EQ(box.size(), QSize(441, 168));
  QStringList texts;
  for (QLabel* label : box.findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
    if (!label->text().isEmpty()) {
      texts << label->text();
    }
  }
  const QString site = QString::fromStdString(Base()).chopped(1);
  EXPECT_EQ(texts, QStringList({Q("MeloDriftDown 1.5版"), site + Q("/melodriftdown/"),
                                Q("Author:  MeloDriftDown 开发组"), Q("Date:    2010.11.08"),
                                Q("功能:    解析 ") + site + Q(" 里的歌曲下载地址"), Q("Blog:"),
                                Q("E-mail:  melodriftdown@users.noreply.localhost"),
                                Q("注:如有不能下载或者其它不正常情况请联系我")}));
  EXPECT_EQ(box.Control<QPushButton>(1)->text(), Q("确定"));
  EXPECT_EQ(box.Control<QPushButton>(1007)->text(), Q("检查更新"));

  auto* link = box.Control<LinkLabel>(1006);
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(link->font().underline());
  EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
  UrlRecorder urls;
  QTest::mousePress(link, Qt::LeftButton);
  EXPECT_TRUE(urls.opened.empty());  // not on the press
  QTest::mouseRelease(link, Qt::LeftButton);
  QTest::mousePress(link, Qt::LeftButton);
  QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(-20, -20));  // let go elsewhere
  QTest::mouseClick(link, Qt::RightButton);
  EXPECT_EQ(urls.opened,
            std::vector<QByteArray>{QByteArray::fromStdString(Base() + "melodriftdown/")});
}

TEST(UpdateCheckTest, EveryAnswerOfTheUpdatePage) {
  QTemporaryDir pages;
  QDir(pages.path()).mkpath(QStringLiteral("melodriftdown"));
  QFile page(pages.path() + QStringLiteral("/melodriftdown/update.html"));
  ASSERT_TRUE(page.open(QIODevice::WriteOnly));
  page.write("<html><body>MeloDriftDown Version: v9.9</body></html>\r\n");  // no marker
  page.close();
  const char* newer = "发现有新版本,是否要下载?";
  const char* latest = "当前版本已是最新版";
  const struct {
    std::string latestVersion, pagesDir;
    QMessageBox::StandardButton answer;
    const char* text;  // nullptr: the check ends silently
    bool opensDownload;
  } cases[] = {
      {"v1.6", "", QMessageBox::Yes, newer, true},
      {"v1.6", "", QMessageBox::No, newer, false},
      {"v1.5", "", QMessageBox::Ok, latest, false},
      {"v1.10", "", QMessageBox::Ok, latest, false},  // read as v1.1
      {"v1.0", "", QMessageBox::Ok, latest, false},
      {"v1.6", pages.path().toStdString(), QMessageBox::Ok, nullptr, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.latestVersion + " " + c.pagesDir);
    bundled::BundledSiteOptions options;
    options.pagesDir = c.pagesDir;
    options.latestVersion = c.latestVersion;
    const bundled::BundledSite site(options);
    site::SetSiteHost(site.Host());
    UrlRecorder urls;
    const std::vector<SeenBox> seen = CheckForUpdate(c.answer, c.text != nullptr ? 1 : 0);
    ASSERT_EQ(seen.size(), c.text != nullptr ? 1u : 0u);
    if (c.text != nullptr) {
      EXPECT_EQ(seen[0].title, Q("melodriftdown"));
      EXPECT_EQ(seen[0].text, Q(c.text));
      EXPECT_EQ(seen[0].icon, QMessageBox::Warning);
    }
    const std::string download =
        site::SiteBase() + "melodriftdown/download/melodriftdown-v1.6.zip?from=update&v=1.6";
    EXPECT_EQ(urls.opened, c.opensDownload
                               ? std::vector<QByteArray>{QByteArray::fromStdString(download)}
                               : std::vector<QByteArray>{});
  }
}

TEST(UpdateCheckTest, UnreachablePageShowsTheNetworkError) {
  site::SetSiteHost(bundled::BundledSite().Host());  // nobody listens there any more
  const std::vector<SeenBox> seen = CheckForUpdate(QMessageBox::Ok, 1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].icon, QMessageBox::Critical);
  EXPECT_EQ(seen[0].title, Q("melodriftdown"));
  EXPECT_FALSE(seen[0].text.isEmpty());
  EXPECT_NE(seen[0].text, Q("当前版本已是最新版"));
}

}  // namespace
}  // namespace melo::ui::testing
