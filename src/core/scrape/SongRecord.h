#pragma once
// The rows of the two lists. Every text is the page's own bytes (GBK).

#include <string>

namespace melo::scrape {

// One row of the song list, in column order.
struct SongRecord {
  std::string singer;
  std::string title;
  std::string downloadLink;  // the MP3 address wrapped in double quotes
  std::string singerLink;
  std::string songLink;  // the song page the row was parsed from

  bool operator==(const SongRecord&) const = default;
};

// One row of the singer list.
struct SingerRecord {
  std::string singer;
  std::string singerLink;

  bool operator==(const SingerRecord&) const = default;
};

}  // namespace melo::scrape
