// The crawl scan of a list page, with either pattern set (the first byte
// picks it), against the same scan written with the stepping reference find.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "core/scrape/ListCrawl.h"

namespace {

using melo::fuzzing::Pos;
using melo::fuzzing::SteppingFind;
using melo::scrape::CrawlPattern;

std::vector<std::string> ReferenceScan(std::string_view page, const CrawlPattern& pattern) {
  std::vector<std::string> ids;
  const auto separator = static_cast<Pos>(pattern.separator.size());
  for (Pos resume = 0, e; (e = SteppingFind(page, pattern.opening, resume)) != -1;) {
    const Pos s1 = SteppingFind(page, pattern.separator, e);
    if (s1 == -1)
      break;
    const Pos n = s1 + separator;
    const Pos s2 = n - e >= pattern.headLimit ? -2 : SteppingFind(page, pattern.separator, n);
    if (s2 == -1)
      break;
    if (s2 == -2 || s2 - n >= pattern.idLimit) {
      resume = e + 1;  // rejected: go on after its opening marker
      continue;
    }
    ids.emplace_back(page.substr(static_cast<size_t>(n), static_cast<size_t>(s2 - n)));
    resume = s2;
  }
  return ids;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  const CrawlPattern& pattern =
      data[0] % 2 ? melo::scrape::kRecommendPattern : melo::scrape::kListPattern;
  const std::string_view page(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::vector<std::string> ids = melo::scrape::ScanSongIds(page, pattern);
  melo::fuzzing::Check(ids == ReferenceScan(page, pattern));
  for (const std::string& id : ids)
    melo::fuzzing::Check(static_cast<Pos>(id.size()) < pattern.idLimit);
  return 0;
}
