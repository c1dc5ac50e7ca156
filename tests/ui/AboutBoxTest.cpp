// The About box: the window menu that opens it, its texts, the home-page link
// and every end of the update check, against the bundled site's update page.

#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <fstream>
#include <optional>

#include "UiTestSupport.h"
#include "ui/AboutDialog.h"
#include "ui/LinkLabel.h"

namespace melo::ui::testing {
namespace {

using AboutBoxTest = DialogFixture;

TEST_F(AboutBoxTest, WindowMenuOpensTheBoxWithItsTextsAndLink) {
  QMenu* menu = WindowMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(ActionTexts(*menu).mid(0, 5),
            QStringList({QString(), Q("关于 melodriftDown(&A)..."), Q("下载列表"),
                         Q("导出列表为 M3U8..."), Q("设置...")}));
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

  // As drawn: the whole address in blue, its underline and its descenders
  // inside the label, clear of the button beside it. It opens on a left
  // release over it, wherever the press was.
  auto* link = box->Control<LinkLabel>(1006);
  const Ink ink = InkOf(*link, IsBlue);
  EXPECT_GE(ink.box.width(), link->fontMetrics().tightBoundingRect(link->text()).width() - 1);
  EXPECT_GE(ink.widestRow, ink.box.width() * 9 / 10);  // the underline
  EXPECT_GT(ink.box.top(), 0);
  EXPECT_LT(ink.box.bottom(), link->height() - 1);
  EXPECT_LT(ink.box.right(), link->width() - 1);
  EXPECT_FALSE(link->geometry().intersects(box->Control(1007)->geometry()));

  const QPoint onLink = link->geometry().center();
  const QPoint background(3, box->height() - 3);
  const QPoint onButton = box->Control(1007)->geometry().center();
  const QByteArray home = QByteArray::fromStdString(Base() + "melodriftdown/");
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
    SCOPED_TRACE(::testing::Message() << c.press.x() << "," << c.press.y() << " -> "
                                      << c.release.x() << "," << c.release.y());
    UrlRecorder urls;
    QTest::mousePress(box->windowHandle(), c.button, {}, c.press);
    QTest::mouseRelease(box->windowHandle(), c.button, {}, c.release);
    Settle();
    EXPECT_EQ(urls.opened, c.opens ? std::vector{home} : std::vector<QByteArray>{});
    ASSERT_TRUE(WaitUntil([&] { return box->Control(1007)->isEnabled(); }));
  }
}

enum class UpdatePage { kGenerated, kWithoutMarker, kNobodyListens };

struct UpdateCase {
  const char* name;
  const char* latestVersion;
  UpdatePage page;
  QMessageBox::StandardButton answer;
  const char* text;  // nullptr: the check ends silently; "": any network error
  bool opensDownload = false;
  friend void PrintTo(const UpdateCase& c, std::ostream* os) { *os << c.name; }
};

class UpdateCheckTest : public ::testing::TestWithParam<UpdateCase> {};

// "检查更新" answered by the update page: the box it shows, the answer given
// to it and what the desktop is asked to open.
TEST_P(UpdateCheckTest, AnswersTheUpdatePage) {
  const UpdateCase& c = GetParam();
  bundled::BundledSiteOptions options;
  options.latestVersion = c.latestVersion;
  QTemporaryDir pages;
  if (c.page == UpdatePage::kWithoutMarker) {
    QDir(pages.path()).mkpath(QStringLiteral("melodriftdown"));
    std::ofstream(pages.path().toStdString() + "/melodriftdown/update.html")
        << "<html><body>MeloDriftDown Version: v9.9</body></html>\r\n";
    options.pagesDir = pages.path().toStdString();
  }
  std::optional<bundled::BundledSite> site(options);
  site::SetSiteHost(site->Host());
  if (c.page == UpdatePage::kNobodyListens) {
    site.reset();
  }
  const QString download = Q(site::SiteBase().c_str()) +
                           Q("melodriftdown/download/melodriftdown-v1.6.zip?from=update&v=1.6");
  UrlRecorder urls;
  CAboutDialog box;
  box.show();
  auto* button = box.Control<QPushButton>(1007);
  button->click();
  EXPECT_FALSE(button->isEnabled());  // until the check ends
  ASSERT_TRUE(WaitUntil([&] { return button->isEnabled(); }));
  // A box comes up as the check ends; the user answers it.
  const QList<QMessageBox*> shown = box.findChildren<QMessageBox*>();
  ASSERT_EQ(shown.size(), c.text != nullptr ? 1 : 0);
  if (!shown.isEmpty()) {
    const QMessageBox& seen = *shown[0];
    EXPECT_TRUE(seen.isVisible());
    EXPECT_EQ(seen.windowTitle(), Q("melodriftdown"));
    // The question names, on a line of its own, the address "是" opens.
    const QString text = Q(c.text) + (c.answer == QMessageBox::Ok ? Q("") : "\n" + download);
    EXPECT_TRUE(*c.text ? seen.text() == text : !seen.text().isEmpty())
        << seen.text().toStdString();
    EXPECT_EQ(seen.icon(), *c.text == '\0' ? QMessageBox::Critical : QMessageBox::Warning);
    QStringList buttons;  // as shown, without their shortcut marks
    for (const QAbstractButton* shownButton : seen.buttons()) {
      buttons << shownButton->text().remove(QRegularExpression(QStringLiteral("\\(&.\\)|&")));
    }
    EXPECT_EQ(buttons, c.answer == QMessageBox::Ok ? QStringList{Q("确定")}
                                                   : QStringList({Q("是"), Q("否")}));
    seen.button(c.answer)->click();
  }
  Settle();
  EXPECT_TRUE(box.isVisible());
  EXPECT_EQ(urls.opened,
            c.opensDownload ? std::vector{download.toUtf8()} : std::vector<QByteArray>{});
}

constexpr const char* kNewer = "发现有新版本,是否要下载?";
constexpr const char* kLatest = "当前版本已是最新版";
constexpr auto kGenerated = UpdatePage::kGenerated;

INSTANTIATE_TEST_SUITE_P(
    Answers, UpdateCheckTest,
    ::testing::Values(
        UpdateCase{"NewerYesOpensTheDownload", "v1.6", kGenerated, QMessageBox::Yes, kNewer, true},
        UpdateCase{"NewerNo", "v1.6", kGenerated, QMessageBox::No, kNewer},
        // Which versions count as newer the page's own tests answer.
        UpdateCase{"Same", "v1.5", kGenerated, QMessageBox::Ok, kLatest},
        UpdateCase{"NoMarkerIsSilent", "v1.6", UpdatePage::kWithoutMarker, QMessageBox::Ok,
                   nullptr},
        UpdateCase{"SiteDown", "v1.6", UpdatePage::kNobodyListens, QMessageBox::Ok, ""}),
    printing::CaseName());

}  // namespace
}  // namespace melo::ui::testing
