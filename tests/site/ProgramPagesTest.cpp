#include <gtest/gtest.h>

#include "SiteClient.h"
#include "core/text/Gbk.h"
#include "core/text/TextRules.h"

namespace melo::bundled {
namespace {

using text::Find;
using text::kNotFound;
using text::Pos;

constexpr std::string_view kMarker = "MeloDriftDown Version:&nbsp;&nbsp;&nbsp;";

struct UpdateCut {
  std::string version, address;
};

// The update check's reading: whole page joined, four bytes one after the
// marker, the address between "<a href=" + quote and the two bytes before
// the program name, entities for '&' undone.
UpdateCut CutUpdatePage(std::string_view body) {
  std::string t;
  for (const auto& line : testing::Lines(body))
    t += line;
  const Pos p = Find(t, kMarker);
  if (p == kNotFound)
    return {};
  const Pos h = Find(t, "<a href=", p);
  const Pos n = Find(t, "MeloDriftDown", h + 9);
  return {text::Substring(t, p + text::Size(kMarker) + 1, 4),
          text::RemoveAll(text::Substring(t, h + 9, n - 2 - h - 9), "amp;")};
}

TEST(ProgramPages, UpdatePageAnnouncesTheLatestVersionAndItsDownload) {
  for (const std::string version : {"v1.6", "v1.5", "v2.0"}) {
    SCOPED_TRACE(version);
    BundledSite site(testing::OptionsWith([&](auto& o) { o.latestVersion = version; }));
    testing::SiteClient client(site);
    const auto cut = CutUpdatePage(client.Get("/melodriftdown/update.html").body);
    EXPECT_EQ(cut.version, version);
    const auto base = "http://" + site.Host();
    EXPECT_EQ(cut.address, base + "/melodriftdown/download/melodriftdown-" + version +
                               ".zip?from=update&v=" + version.substr(1));
    const auto download = client.Get(cut.address.substr(base.size()));
    EXPECT_EQ(download.status, 200);
    EXPECT_EQ(download.body.rfind("PK", 0), 0u);
  }
}

TEST(ProgramPages, HomePageNamesTheAuthor) {
  BundledSite site;
  testing::SiteClient client(site);
  const auto reply = client.Get("/melodriftdown/");
  EXPECT_EQ(reply.status, 200);
  EXPECT_NE(reply.body.find(text::Gbk("MeloDriftDown 开发组")), std::string::npos);
}

}  // namespace
}  // namespace melo::bundled
