// The main window as it opens; and pictures of it and the About box for the
// docs, when MELO_SCREENSHOT_DIR names a folder (scripts/screenshots.sh).

#include <QAbstractButton>
#include <QAccessible>
#include <QDir>
#include <QHeaderView>
#include <QRadioButton>
#include <set>

#include "UiTestSupport.h"
#include "ui/AboutDialog.h"
#include "ui/DownloadWindow.h"
#include "ui/Menus.h"

namespace melo::ui::testing {
namespace {

using StartUpTest = DialogFixture;

TEST_F(StartUpTest, WindowTextsPlacesAndLists) {
  EXPECT_EQ(dialog_->windowTitle(), Q("MeloDriftDown V1.5"));
  EXPECT_EQ(dialog_->minimumSize(), dialog_->maximumSize());  // keeps its size
  // The icon's pixels are built into the program (the 64-pixel picture).
  EXPECT_EQ(dialog_->windowIcon().availableSizes(), QList<QSize>{QSize(64, 64)});
  EXPECT_FALSE(dialog_->windowFlags() &
               (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(Control<QLineEdit>(1000)->text().toStdString(), Base() + "song/2244436/");
  EXPECT_EQ(Status(), QString());
  EXPECT_TRUE(Control<QLineEdit>(1003)->isReadOnly());
  EXPECT_EQ(Control<QLineEdit>(1009)->text(), Q("0"));
  // Qt's own texts speak the program's language too.
  const std::unique_ptr<QMenu> menu(Control<QLineEdit>(1000)->createStandardContextMenu());
  ASSERT_FALSE(menu->actions().isEmpty());
  EXPECT_TRUE(menu->actions()[0]->text().startsWith(Q("撤消(&U)")));

  // Each column as "heading width", a hidden one as "heading -".
  const auto columns = [](const RecordListView& list) {
    QStringList shown;
    for (int c = 0; c < list.ColumnCount(); ++c) {
      shown << list.Heading(c) + ' ' +
                   (list.isColumnHidden(c) ? Q("-") : QString::number(list.columnWidth(c)));
    }
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_EQ(list.SelectionMark(), -1);
    return shown.join(Q(", "));
  };
  EXPECT_EQ(columns(Songs()), Q("歌手 130, 歌名 348, 下载链接 -, 歌手链接 -, 歌曲链接 -"));
  EXPECT_EQ(columns(Singers()), Q("歌手 202, 歌手链接 -"));
  EXPECT_EQ(Songs().selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(Singers().selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(Songs().selectionBehavior(), QAbstractItemView::SelectRows);

  // The headings, measured in the font they show in, keep the size Qt's own
  // header (which measures in bold) gives them.
  for (const RecordListView* list : {&Songs(), &Singers()}) {
    QHeaderView stock(Qt::Horizontal);
    stock.setModel(list->model());
    EXPECT_EQ(list->header()->sizeHint().height(), stock.sizeHint().height());
    for (int c = 0; c < list->ColumnCount(); ++c) {
      if (!list->isColumnHidden(c)) {
        EXPECT_EQ(list->header()->sectionSizeHint(c), stock.sectionSizeHint(c)) << c;
      }
    }
  }
}

// A button shows its caption and has a name a person understands; a control
// that shows a changing value is known by that value, its description says
// what it is and its caption labels it.
TEST_F(StartUpTest, ControlsHaveTheirTextsNamesAndStates) {
  dialog_->SetStatus("http://h/song/1/");
  const struct {
    int id;
    const char* text;  // nullptr: not looked at
    const char* name;  // nullptr: the text, which may be a changing value
    const char* description = "";
    const char* caption = nullptr;
  } cases[] = {
      {1, "确定", nullptr},
      {1004, "关于", nullptr},
      {1007, "清空列表", nullptr},
      {1010, "停止获取", nullptr},
      {1014, "■", "停止"},
      {1017, "        >>", "更多"},
      {1019, "<<", "上一首"},
      {1020, ">>", "下一首"},
      {1021, "搜索", nullptr},
      {1022, "歌曲", nullptr},
      {1023, "歌手", nullptr},
      {1000, nullptr, "URL", "", "URL:"},
      {1003, "http://h/song/1/", nullptr, "状态"},
      {1008, nullptr, "歌曲列表"},
      {1009, "0", nullptr, "歌曲数", "Sum:"},
      {1011, nullptr, "播放进度"},
      {1012, "", nullptr, "总时长"},
      {1013, "", nullptr, "已播放"},
      {1015, "", nullptr, "播放状态"},
      {1018, nullptr, "搜索关键字"},
      {1025, nullptr, "歌手列表"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    QWidget* control = Control(c.id);
    ASSERT_NE(control, nullptr);
    if (c.text != nullptr) {
      EXPECT_EQ(control->property("text").toString(), Q(c.text));
    }
    EXPECT_EQ(ReaderText(control), Q(c.name ? c.name : c.text));
    EXPECT_EQ(ReaderText(control, QAccessible::Description), Q(c.description));
    EXPECT_EQ(CaptionsOf(control), c.caption ? QStringList{Q(c.caption)} : QStringList{});
  }
  for (const int id : {1010, 1014, 1011}) {
    EXPECT_FALSE(Control(id)->isEnabled()) << id;
  }
  EXPECT_TRUE(Control<QPushButton>(1)->isDefault());
  EXPECT_TRUE(Control<QRadioButton>(1022)->isChecked());

  CAboutDialog about(dialog_.get());
  for (QWidget* window :
       {static_cast<QWidget*>(dialog_.get()), static_cast<QWidget*>(&dialog_->Downloads()),
        static_cast<QWidget*>(&about)}) {
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
      const QString name = ReaderText(button);
      EXPECT_TRUE(name == name.trimmed() &&
                  std::ranges::any_of(name, [](QChar c) { return c.isLetter(); }))
          << window->objectName().toStdString() << ": " << name.toStdString();
    }
  }
}

// What is drawn: the whole count, however many rows (the cursor of a
// freshly set text sits at its end, the worst case for a narrow field).
TEST_F(StartUpTest, RowCounterShowsTheWholeNumber) {
  auto* counter = Control<QLineEdit>(1009);
  for (const char* count : {"100", "1000", "999999"}) {
    SCOPED_TRACE(count);
    counter->setText(Q(count));
    const Ink ink = InkOf(*counter, IsDark);
    // "00" of a cut "100" is a third narrower; anti-aliased edges are not.
    EXPECT_GE(ink.box.width(), counter->fontMetrics().tightBoundingRect(Q(count)).width() - 3);
    EXPECT_GT(ink.box.left(), 0);
    EXPECT_LT(ink.box.right(), counter->width() - 1);
  }
  // Nothing beside it is covered.
  for (const int id : {1015, 1011}) {
    EXPECT_FALSE(counter->geometry().intersects(Control(id)->geometry())) << id;
  }
}

// A text wider than the line shows from its start: its left end looks as
// the same start alone does.
TEST_F(StartUpTest, StatusLineShowsALongTextFromItsStart) {
  auto* status = Control<QLineEdit>(1003);
  const std::string start = "http://localhost/";
  dialog_->SetStatus(start + std::string(200, 'x') + Gbk("   解析失败"));
  const QImage whole = status->grab().toImage();
  dialog_->SetStatus(start);
  const QImage alone = status->grab().toImage();
  const int shown = status->fontMetrics().horizontalAdvance(QString::fromStdString(start));
  EXPECT_EQ(whole.copy(0, 0, shown, whole.height()), alone.copy(0, 0, shown, alone.height()));
}

// The search panel's command widens the window to show the panel and narrows
// it again. Tab visits only controls the user can see: the search panel's
// while it is open, none of them while it lies beyond the window's edge.
TEST_F(StartUpTest, SearchPanelAndTabStayInsideTheWindow) {
  ASSERT_TRUE(Activate(*dialog_));
  for (const bool panelOpen : {false, true, false}) {
    SCOPED_TRACE(panelOpen);
    if (panelOpen != (dialog_->width() == kWideClientWidth)) {
      dialog_->OnCommand(kSearchPanelCommand);
    }
    EXPECT_EQ(dialog_->size(), QSize(panelOpen ? kWideClientWidth : 520, 510));
    const QRect singers = Singers().geometry();
    EXPECT_TRUE(panelOpen ? dialog_->rect().contains(singers)
                          : !dialog_->rect().intersects(singers));
    Control(1)->setFocus();
    std::set<QWidget*> visited;
    for (int step = 0; step < 30; ++step) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QWidget* focus = QApplication::focusWidget();
      ASSERT_NE(focus, nullptr);
      const QRect place(focus->mapTo(dialog_.get(), QPoint(0, 0)), focus->size());
      EXPECT_TRUE(dialog_->rect().contains(place)) << focus->objectName().toStdString();
      visited.insert(focus);
    }
    EXPECT_EQ(visited.contains(Control(1018)), panelOpen);
    EXPECT_TRUE(visited.contains(Control(1000)));
  }
}

// A right click on a heading brings up nothing; on the window's background
// the window menu, so the clicks do reach the window.
TEST_F(StartUpTest, RightClickOnAHeadingShowsNoMenu) {
  Songs().SetSelectionMark(Songs().AppendRow({"a", "b"}));
  const auto rightClick = [this](QWidget* where, QPoint at) {
    QTest::mouseClick(dialog_->windowHandle(), Qt::RightButton, {},
                      where->mapTo(dialog_.get(), at));
    Settle();
    QMenu* menu = dialog_->findChild<QMenu*>();
    const QString shown = menu && menu->isVisible() ? menu->objectName() : QString();
    if (menu != nullptr) {
      menu->close();
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return shown;
  };
  EXPECT_EQ(rightClick(Songs().header()->viewport(), QPoint(20, 5)), QString());
  dialog_->OnCommand(kSearchPanelCommand);
  EXPECT_EQ(rightClick(Singers().header()->viewport(), QPoint(20, 5)), QString());
  EXPECT_EQ(rightClick(dialog_.get(), QPoint(4, 100)), QStringLiteral("101"));
}

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
