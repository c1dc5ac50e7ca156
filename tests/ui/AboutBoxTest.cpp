// The About box: the window menu that opens it, its texts, the home-page link
// and every end of the update check, against the bundled site's update page.

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <optional>

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

// The window menu opens the box, with its texts.
TEST_F(AboutBoxTest, WindowMenuOpensTheBoxWithItsTexts) {
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(300, 60),
                          dialog_->mapToGlobal(QPoint(300, 60)));
  QCoreApplication::sendEvent(dialog_.get(), &event);
  auto* menu = dialog_->findChild<QMenu*>(QStringLiteral("101"));
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(ActionTexts(*menu), QStringList({QString(), Q("关于 melodriftDown(&A)..."),
                                             Q("下载列表"), Q("导出列表为 M3U8...")}));
  menu->actions()[1]->trigger();
  auto* box = dialog_->findChild<CAboutDialog*>();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->windowTitle(), Q("关于 MeloDriftDown"));
  EXPECT_EQ(box->size(), QSize(441, 168));
  QStringList texts;
  for (QLabel* label : box->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
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
  EXPECT_EQ(box->Control<QPushButton>(1)->text(), Q("确定"));
  EXPECT_EQ(box->Control<QPushButton>(1007)->text(), Q("检查更新"));
}

// The link as drawn: the whole address in blue, its underline and its
// descenders inside the label, clear of the button beside it.
TEST_F(AboutBoxTest, LinkShowsItsWholeAddressUnderlined) {
  CAboutDialog box(dialog_.get());
  box.show();
  auto* link = box.Control<LinkLabel>(1006);
  const Ink ink = InkOf(*link, IsBlue);
  EXPECT_GE(ink.box.width(), link->fontMetrics().tightBoundingRect(link->text()).width() - 1);
  EXPECT_GE(ink.widestRow, ink.box.width() * 9 / 10);  // the underline
  EXPECT_GT(ink.box.top(), 0);
  EXPECT_LT(ink.box.bottom(), link->height() - 1);
  EXPECT_LT(ink.box.right(), link->width() - 1);
  EXPECT_FALSE(link->geometry().intersects(box.Control(1007)->geometry()));
}

// The link opens on a left release over it, wherever the press was.
TEST_F(AboutBoxTest, LinkOpensOnAReleaseOverIt) {
  CAboutDialog box(dialog_.get());
  box.show();
  auto* link = box.Control<LinkLabel>(1006);
  const QPoint onLink = link->geometry().center();
  const QPoint background(3, box.height() - 3);
  const QPoint onButton = box.Control(1007)->geometry().center();
  QPoint onText;  // a label that leaves the release to the box
  for (const QLabel* label : box.findChildren<QLabel*>()) {
    if (label->text() == Q("Blog:")) {
      onText = label->geometry().center();
    }
  }
  const struct {
    QPoint press, release;
    Qt::MouseButton button;
    bool opens;
  } cases[] = {
      {onLink, onLink, Qt::LeftButton, true},   {background, onLink, Qt::LeftButton, true},
      {onButton, onLink, Qt::LeftButton, true}, {onLink, background, Qt::LeftButton, false},
      {onLink, onLink, Qt::RightButton, false},
  };
  for (const auto& c : cases) {
    UrlRecorder urls;
    QTest::mousePress(box.windowHandle(), c.button, {}, c.press);
    QTest::mouseRelease(box.windowHandle(), c.button, {}, c.release);
    Settle();
    EXPECT_EQ(urls.opened,
              c.opens
                  ? std::vector<QByteArray>{QByteArray::fromStdString(Base() + "melodriftdown/")}
                  : std::vector<QByteArray>{})
        << c.press.x() << "," << c.press.y() << " -> " << c.release.x() << "," << c.release.y();
    ASSERT_TRUE(WaitUntil([&] { return box.Control(1007)->isEnabled(); }));
  }
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
    const char* text;  // nullptr: the check ends silently; "": a network error
    bool opensDownload;
    bool siteDown = false;
  } cases[] = {
      {"v1.6", "", QMessageBox::Yes, newer, true},
      {"v1.6", "", QMessageBox::No, newer, false},
      {"v1.5", "", QMessageBox::Ok, latest, false},
      {"v1.10", "", QMessageBox::Ok, latest, false},  // read as v1.1
      {"v1.0", "", QMessageBox::Ok, latest, false},
      {"v1.6", pages.path().toStdString(), QMessageBox::Ok, nullptr, false},
      {"v1.6", "", QMessageBox::Ok, "", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.latestVersion + " " + c.pagesDir + (c.siteDown ? " down" : ""));
    bundled::BundledSiteOptions options;
    options.pagesDir = c.pagesDir;
    options.latestVersion = c.latestVersion;
    std::optional<bundled::BundledSite> site(options);
    site::SetSiteHost(site->Host());
    if (c.siteDown) {
      site.reset();  // nobody listens there any more
    }
    UrlRecorder urls;
    const std::vector<SeenBox> seen = CheckForUpdate(c.answer, c.text != nullptr ? 1 : 0);
    ASSERT_EQ(seen.size(), c.text != nullptr ? 1u : 0u);
    if (c.text != nullptr) {
      EXPECT_EQ(seen[0].title, Q("melodriftdown"));
      EXPECT_FALSE(seen[0].text.isEmpty());
      EXPECT_TRUE(c.siteDown || seen[0].text == Q(c.text)) << seen[0].text.toStdString();
      EXPECT_EQ(seen[0].icon, c.siteDown ? QMessageBox::Critical : QMessageBox::Warning);
      EXPECT_EQ(seen[0].buttons, c.answer == QMessageBox::Ok ? QStringList{Q("确定")}
                                                             : QStringList({Q("是"), Q("否")}));
    }
    const std::string download =
        site::SiteBase() + "melodriftdown/download/melodriftdown-v1.6.zip?from=update&v=1.6";
    EXPECT_EQ(urls.opened, c.opensDownload
                               ? std::vector<QByteArray>{QByteArray::fromStdString(download)}
                               : std::vector<QByteArray>{});
  }
}

}  // namespace
}  // namespace melo::ui::testing
