#include "core/scrape/AddLink.h"

#include "core/scrape/SongPageParser.h"
#include "core/scrape/StatusTexts.h"

namespace melo::scrape {

void RunAddLink(const std::string& address, RunReporter& reporter, std::stop_token stop) {
  const ParseResult result = ParseSongPage(address, reporter, stop);
  if (result.exit == ParseExit::kStopped)
    return;
  if (!result.Parsed()) {
    reporter.Status(address + texts::kParseFailed);
  } else {
    // The status line is written before the row is added.
    const Song& song = result.song;
    reporter.Status(texts::kParseSucceeded + song.title);
    reporter.SongRow({song.singer, song.title, song.downloadLink, song.singerLink, address});
  }
  reporter.Finished();
}

}  // namespace melo::scrape
