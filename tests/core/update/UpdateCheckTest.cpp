// The update page logic: which version a page names and where its download
// lives.

#include <gtest/gtest.h>

#include "core/update/UpdateCheck.h"

namespace melo::update {
namespace {

constexpr std::string_view kMarker = "MeloDriftDown Version:&nbsp;&nbsp;&nbsp;";

std::string Page(std::string_view version, std::string_view tail = "") {
  return "<html><p>" + std::string(kMarker) + " " + std::string(version) + "</p>" +
         std::string(tail);
}

// The verdict follows from the version's order against the running one on any
// page (the update check fuzz target); these rows pin which bytes are the version.
TEST(UpdateCheckTest, VerdictOfThePage) {
  struct Case {
    const char* name;
    std::string page;
    UpdateVerdict verdict;
    std::string latest;
  };
  const Case cases[] = {
      {"same version", Page("v1.5"), UpdateVerdict::kUpToDate, "v1.5"},
      {"newer", Page("v1.6"), UpdateVerdict::kNewer, "v1.6"},
      {"only four bytes count", Page("v1.10"), UpdateVerdict::kUpToDate, "v1.1"},
      {"marker at the very end", "x" + std::string(kMarker), UpdateVerdict::kUpToDate, ""},
      {"one byte after the marker", std::string(kMarker) + " v1", UpdateVerdict::kUpToDate, "v1"},
      {"no marker", "<p>MeloDriftDown Version: v9.9</p>", UpdateVerdict::kNoVersion, ""},
      {"empty page", "", UpdateVerdict::kNoVersion, ""},
      // 0xB2 takes the 'M' after it as its second byte.
      {"marker inside a two-byte character", "\xB2" + std::string(kMarker) + " v1.6",
       UpdateVerdict::kNoVersion, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const UpdateFinding finding = EvaluateUpdatePage(c.page);
    EXPECT_EQ(finding.verdict, c.verdict);
    EXPECT_EQ(finding.latestVersion, c.latest);
  }
}

TEST(UpdateCheckTest, DownloadAddressOfANewerVersion) {
  struct Case {
    const char* name;
    std::string tail;
    std::optional<std::string> address;
  };
  const Case cases[] = {
      {"link before the marker", "", std::nullopt},
      {"entities become ampersands",
       "<a href=\"http://h/m.zip?from=update&amp;v=1.6\">MeloDriftDown</a>",
       "http://h/m.zip?from=update&v=1.6"},
      {"every amp; goes", "<a href=\"http://h/amp;x.zip\">MeloDriftDown</a>", "http://h/x.zip"},
      {"no link", "<p>MeloDriftDown</p>", std::nullopt},
      {"no program name after the link", "<a href=\"http://h/m.zip\">download</a>", std::nullopt},
      {"name right after the opening: empty", "<a href=\"MeloDriftDown", ""},
      {"first link after the marker wins",
       "<a href='http://h/a.zip'>MeloDriftDown</a><a href='http://h/b.zip'>MeloDriftDown</a>",
       "http://h/a.zip"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before =
        c.tail.empty() ? "<a href=\"http://h/old.zip\">MeloDriftDown</a>" : "";
    const UpdateFinding finding = EvaluateUpdatePage(before + Page("v1.6", c.tail));
    ASSERT_EQ(finding.verdict, UpdateVerdict::kNewer);
    EXPECT_EQ(finding.downloadAddress, c.address);
  }
}

// The order is antisymmetric on any two texts (the update check fuzz target).
TEST(UpdateCheckTest, VersionOrder) {
  EXPECT_EQ(CompareVersionTexts("v1.5", "v1.5"), 0);
  for (const char* newer : {"v1.6", "V1.6", "V1.5", "w1.0"})
    EXPECT_GT(CompareVersionTexts(newer, "v1.5"), 0) << newer;
  for (const char* older : {"v1.1", "", "v1"})
    EXPECT_LT(CompareVersionTexts(older, "v1.5"), 0) << older;
  EXPECT_GT(CompareVersionTexts("v2.0", "v1.9"), 0);
}

}  // namespace
}  // namespace melo::update
