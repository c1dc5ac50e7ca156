// The search result scans, song mode (the first byte even) and singer mode,
// against the same scans written with the stepping reference find.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "core/scrape/SiteSearch.h"
#include "core/scrape/StatusTexts.h"
#include "core/site/Site.h"

namespace {

using melo::fuzzing::Check;
using melo::fuzzing::Pos;
using melo::fuzzing::SteppingFind;
using melo::scrape::kMinLinkOffset;

constexpr std::string_view kLinkEnd = "\">";
constexpr Pos kHrefOffset = 9;  // `<a href="`

std::string Cut(std::string_view page, Pos start, Pos end) {
  return std::string(page.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
}

std::vector<std::string> ReferenceSongLinks(std::string_view page) {
  std::vector<std::string> links;
  Pos from = SteppingFind(page, melo::scrape::texts::kSongSection);
  while (from != -1) {
    const Pos e = SteppingFind(page, "<a href=\"/song", from);
    const Pos end = e == -1 ? -1 : SteppingFind(page, kLinkEnd, e + kHrefOffset);
    if (end == -1 || e + kHrefOffset < kMinLinkOffset)
      break;
    links.push_back(melo::site::SiteBase() + Cut(page, e + kHrefOffset, end));
    from = end;
  }
  return links;
}

std::vector<melo::scrape::SingerRecord> ReferenceSingers(std::string_view page) {
  std::vector<melo::scrape::SingerRecord> singers;
  Pos from = SteppingFind(page, melo::scrape::texts::kSingerSection);
  while (from != -1) {
    const Pos e = SteppingFind(page, "<a href=\"/singer", from);
    const Pos end = e == -1 ? -1 : SteppingFind(page, kLinkEnd, e + kHrefOffset);
    const Pos nameEnd = end == -1 ? -1 : SteppingFind(page, "</a> </td>", end);
    if (nameEnd == -1 || e + kHrefOffset < kMinLinkOffset)
      break;
    // The name starts one byte after the link end.
    const Pos nameStart = end + 3;
    singers.push_back({nameEnd > nameStart ? Cut(page, nameStart, nameEnd) : "",
                       melo::site::SiteBase() + Cut(page, e + kHrefOffset, end)});
    from = end;
  }
  return singers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  // Sections and links only count past kMinLinkOffset: put the section
  // heading in front so that short inputs reach the links.
  const bool songs = data[0] % 2 == 0;
  const std::string page =
      (data[0] % 4 < 2 ? "" : std::string(120, ' ')) +
      (songs ? melo::scrape::texts::kSongSection : melo::scrape::texts::kSingerSection) +
      std::string(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (songs)
    Check(melo::scrape::ScanSongLinks(page) == ReferenceSongLinks(page));
  else
    Check(melo::scrape::ScanSingers(page) == ReferenceSingers(page));
  return 0;
}
