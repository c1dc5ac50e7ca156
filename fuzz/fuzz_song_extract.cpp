// Any bytes as a song page: the extraction must never crash or read out of
// bounds, and a parsed song must have the shape the rows rely on.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/scrape/SongPageParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The page text ends with its media line, as the reader builds it: cut the
  // input at its last line feed.
  const size_t cut = input.rfind('\n');
  const std::string_view media = cut == std::string_view::npos ? input : input.substr(cut + 1);
  const melo::scrape::ParseResult result =
      melo::scrape::ExtractSong(input, media, "http://www.site.test/");
  if (result.Parsed()) {
    const std::string& link = result.song.downloadLink;
    if (link.size() < 25 || link.front() != '"' || link.back() != '"')
      std::abort();
    if (result.song.singerLink.rfind("http://www.site.test/", 0) != 0)
      std::abort();
  }
  return 0;
}
