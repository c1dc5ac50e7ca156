// The main window as it opens.

#include <QAbstractButton>
#include <QRadioButton>
#include <QSlider>

#include "UiTestSupport.h"

namespace melo::ui::testing {
namespace {

using StartUpTest = DialogFixture;

TEST_F(StartUpTest, WindowTextsAndPlaces) {
  EXPECT_EQ(dialog_->windowTitle(), Q("MeloDriftDown V1.5"));
  EXPECT_EQ(dialog_->size(), QSize(520, 510));
  EXPECT_EQ(dialog_->minimumSize(), dialog_->maximumSize());  // keeps its size
  EXPECT_FALSE(dialog_->windowFlags() &
               (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(Control<QLineEdit>(1000)->text().toStdString(), Base() + "song/2244436/");
  EXPECT_EQ(Status(), QString());
  EXPECT_TRUE(Control<QLineEdit>(1003)->isReadOnly());
  EXPECT_EQ(Control<QLineEdit>(1009)->text(), Q("0"));
  EXPECT_FALSE(Control<QSlider>(1011)->isEnabled());
  // The search panel starts beyond the narrow window.
  EXPECT_GE(Control(1018)->geometry().left(), dialog_->width());
  EXPECT_GE(Singers().geometry().left(), dialog_->width());
}

TEST_F(StartUpTest, ButtonsAndTheirStates) {
  const struct {
    int id;
    const char* text;
    bool enabled;
  } cases[] = {
      {1, "确定", true},         {1004, "关于", true}, {1007, "清空列表", true},
      {1010, "停止获取", false}, {1014, "■", false},   {1017, "        >>", true},
      {1019, "<<", true},        {1020, ">>", true},   {1021, "搜索", true},
      {1022, "歌曲", true},      {1023, "歌手", true},
  };
  for (const auto& expected : cases) {
    SCOPED_TRACE(expected.id);
    auto* button = Control<QAbstractButton>(expected.id);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), Q(expected.text));
    EXPECT_EQ(button->isEnabled(), expected.enabled);
  }
  EXPECT_TRUE(Control<QPushButton>(1)->isDefault());
  EXPECT_TRUE(Control<QRadioButton>(1022)->isChecked());
  EXPECT_FALSE(Control<QRadioButton>(1023)->isChecked());
}

TEST_F(StartUpTest, ListsHaveTheirColumns) {
  struct Column {
    const char* heading;
    int width;  // 0: hidden
  };
  const auto check = [](RecordListView& list, std::vector<Column> columns) {
    ASSERT_EQ(list.ColumnCount(), static_cast<int>(columns.size()));
    for (int c = 0; c < list.ColumnCount(); ++c) {
      SCOPED_TRACE(c);
      const Column& column = columns[static_cast<std::size_t>(c)];
      EXPECT_EQ(list.Heading(c), Q(column.heading));
      EXPECT_EQ(list.isColumnHidden(c), column.width == 0);
      EXPECT_TRUE(column.width == 0 || list.columnWidth(c) == column.width) << list.columnWidth(c);
    }
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_EQ(list.SelectionMark(), -1);
  };
  check(Songs(), {{"歌手", 130}, {"歌名", 348}, {"下载链接", 0}, {"歌手链接", 0}, {"歌曲链接", 0}});
  check(Singers(), {{"歌手", 202}, {"歌手链接", 0}});
  EXPECT_EQ(Songs().selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(Singers().selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(Songs().selectionBehavior(), QAbstractItemView::SelectRows);
}

}  // namespace
}  // namespace melo::ui::testing
