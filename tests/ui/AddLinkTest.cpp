// OK and Enter: one typed song page address to one row.

#include "UiTestSupport.h"

namespace melo::ui::testing {
namespace {

class AddLinkTest : public DialogFixture {
 protected:
  void AddLink(const QString& address) {
    Control<QLineEdit>(1000)->setText(address);
    Click(1);
    EXPECT_FALSE(Control<QPushButton>(1)->isEnabled());  // while the parse runs
    ASSERT_TRUE(WaitForRuns());
    EXPECT_TRUE(Control<QPushButton>(1)->isEnabled());
  }
};

TEST_F(AddLinkTest, SuccessWritesTitleThenAppendsTheRow) {
  const QString address = QString::fromStdString(Base() + "song/2244436/");
  AddLink(address);
  ASSERT_EQ(Songs().RowCount(), 1);
  const QString title = Songs().topLevelItem(0)->text(1);
  EXPECT_FALSE(title.isEmpty());
  EXPECT_EQ(Status(), Q("解析成功:") + title);
  EXPECT_EQ(Songs().Text(0, 4), address.toStdString());
  EXPECT_TRUE(Songs().selectedItems().isEmpty());  // appended, not selected

  AddLink(address);  // the same page again: a second, identical row
  ASSERT_EQ(Songs().RowCount(), 2);
  for (int c = 0; c < 5; ++c) {
    EXPECT_EQ(Songs().Text(1, c), Songs().Text(0, c));
  }
}

TEST_F(AddLinkTest, FailuresShowTheTypedTextFollowedByTheFailure) {
  const QString notASong = QString::fromStdString(Base() + "song/0000000/");
  const QString cases[] = {notASong, QString(), Q("   "), Q("歌曲 not an address")};
  for (const QString& typed : cases) {
    SCOPED_TRACE(typed.toStdString());
    AddLink(typed);
    EXPECT_EQ(Status(), typed + Q("解析失败"));
  }
  EXPECT_EQ(Songs().RowCount(), 0);
}

TEST_F(AddLinkTest, EnterInTheUrlBoxAddsAndKeepsTheWindowOpen) {
  auto* urlBox = Control<QLineEdit>(1000);
  urlBox->setFocus();
  QTest::keyClick(urlBox, Qt::Key_Return);
  ASSERT_TRUE(WaitForRuns());
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(Songs().RowCount(), 1);
  EXPECT_EQ(Control<QLineEdit>(1000)->text().toStdString(), Base() + "song/2244436/");
}

TEST_F(AddLinkTest, RowHoldsAllFiveTextsAsTheirOwnBytes) {
  AddLink(QString::fromStdString(Base() + "song/2244436/"));
  ASSERT_EQ(Songs().RowCount(), 1);
  QTreeWidgetItem* row = Songs().topLevelItem(0);
  for (int c = 0; c < 5; ++c) {
    SCOPED_TRACE(c);
    const std::string bytes = Songs().Text(0, c);
    EXPECT_FALSE(bytes.empty());
    EXPECT_EQ(row->text(c).toStdString(), text::GbkToUtf8(bytes));  // shown decoded
  }
  const std::string link = Songs().Text(0, 2);
  EXPECT_EQ(link.front(), '"');
  EXPECT_EQ(link.back(), '"');
  EXPECT_EQ(Songs().Text(0, 3).rfind(site::SiteBaseWww(), 0), 0u);
}

// Bytes that UTF-8 cannot carry survive: the row keeps what the page sent.
TEST_F(AddLinkTest, StoredBytesSurviveARoundTripThatDisplayCannot) {
  scrape::SongRecord record{Gbk("歌手甲"), std::string("\xB2\xE2\x81", 3), "\"http://h/a.mp3\"",
                            "http://www.h/singer/1/", "http://h/song/1/"};
  dialog_->AppendSongRow(record);
  ASSERT_EQ(Songs().RowCount(), 1);
  EXPECT_EQ(Songs().Text(0, 0), record.singer);
  EXPECT_EQ(Songs().Text(0, 1), record.title);
  EXPECT_EQ(Songs().Text(0, 4), record.songLink);
  EXPECT_EQ(Songs().topLevelItem(0)->text(0), Q("歌手甲"));
}

}  // namespace
}  // namespace melo::ui::testing
