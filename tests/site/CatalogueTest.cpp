#include <gtest/gtest.h>

#include <set>

#include "core/text/Gbk.h"
#include "site/Catalogue.h"

namespace melo::bundled {
namespace {

bool SevenDigits(const std::string& id) {
  return id.size() == 7 && id.find_first_not_of("0123456789") == std::string::npos;
}

TEST(Catalogue, HoldsEnoughDistinctSongsAndTheStartSong) {
  const auto& catalogue = DemoCatalogue();
  EXPECT_GE(catalogue.Songs().size(), 40u);
  EXPECT_GE(catalogue.Singers().size(), 6u);
  ASSERT_NE(catalogue.FindSong("2244436"), nullptr);
  std::set<std::string> ids;
  for (const auto& song : catalogue.Songs()) {
    EXPECT_TRUE(SevenDigits(song.id)) << song.id;
    EXPECT_TRUE(ids.insert(song.id).second) << "twice: " << song.id;
    EXPECT_NE(catalogue.FindSinger(song.singerId), nullptr) << song.id;
  }
}

TEST(Catalogue, TextsSurviveTheSitesCodePage) {
  for (const auto& song : DemoCatalogue().Songs()) {
    for (const auto& text : {song.title, song.singer}) {
      EXPECT_EQ(text::GbkToUtf8(text::Utf8ToGbk(text)), text);
      EXPECT_EQ(text.find_first_of("\"'<>&?#%/\\"), std::string::npos) << text;
      EXPECT_EQ(text.find("cache"), std::string::npos) << text;
    }
  }
}

// The jingles are CBR 32 kbit/s, so the file size gives the length to within
// a frame or two; a recorded length that drifts from its audio shows here.
TEST(Catalogue, RecordedLengthsMatchTheAudio) {
  size_t longest = 0;
  std::set<const char*> files;
  size_t totalBytes = 0;
  for (const auto& song : DemoCatalogue().Songs()) {
    ASSERT_GT(song.audio.size(), 1000u) << song.id;
    EXPECT_EQ(static_cast<unsigned char>(song.audio[0]), 0xFF) << "no MPEG frame: " << song.id;
    const auto byteLengthMs = static_cast<int>(song.audio.size() * 8 / 32);
    EXPECT_NEAR(song.lengthMs, byteLengthMs, 150) << song.id;
    longest = std::max(longest, static_cast<size_t>(song.lengthMs));
    if (files.insert(song.audio.data()).second)
      totalBytes += song.audio.size();
  }
  EXPECT_GE(longest, 8000u);
  EXPECT_LT(totalBytes, 1'500'000u);
}

TEST(Catalogue, LooksUpSongsOfASinger) {
  const auto& catalogue = DemoCatalogue();
  const auto songs = catalogue.SongsOf("42");
  ASSERT_FALSE(songs.empty());
  for (const auto* song : songs)
    EXPECT_EQ(song->singerId, "42");
  EXPECT_TRUE(catalogue.SongsOf("999999").empty());
  EXPECT_EQ(catalogue.FindSong("0000000"), nullptr);
}

}  // namespace
}  // namespace melo::bundled
