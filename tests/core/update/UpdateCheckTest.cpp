// The update page logic: which version a page names and where its download
// lives.

#include <gtest/gtest.h>

#include "core/update/UpdateCheck.h"

namespace melo::update {
namespace {

// Which bytes are the version and the verdict they give are the update check
// fuzz target's, on any page; the window's update tests read the site's own
// page (newer, the same, no marker, the download address with its "&amp;");
// that every "amp;" goes is RemoveAll's (TextRulesTest).
TEST(UpdateCheckTest, DownloadAddressOfANewerVersion) {
  struct Case {
    const char* name;
    std::string tail;
    std::optional<std::string> address;
  };
  const Case cases[] = {
      {"link before the marker", "", std::nullopt},
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
    const UpdateFinding finding =
        EvaluateUpdatePage(before + std::string(kVersionMarker) + " v1.6</p>" + c.tail);
    ASSERT_EQ(finding.verdict, UpdateVerdict::kNewer);
    EXPECT_EQ(finding.downloadAddress, c.address);
  }
}

// The order is antisymmetric on any two texts (the update check fuzz target).
TEST(UpdateCheckTest, VersionOrder) {
  EXPECT_EQ(CompareVersionTexts("v1.5", "v1.5"), 0);
  for (const char* newer : {"v1.6", "V1.6", "V1.5", "w1.0", "v2.0"})
    EXPECT_GT(CompareVersionTexts(newer, "v1.5"), 0) << newer;
  for (const char* older : {"v1.1", "", "v1"})
    EXPECT_LT(CompareVersionTexts(older, "v1.5"), 0) << older;
}

}  // namespace
}  // namespace melo::update
