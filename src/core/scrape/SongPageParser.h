#pragma once
// Turns one song page into one song: singer, title, singer link and the
// MP3 address hidden in the page's media line.

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "core/net/PageReader.h"
#include "core/scrape/RunReporter.h"

namespace melo::scrape {

// The four texts a parse yields (CurrentSong's shape).
struct Song {
  std::string singer;
  std::string title;
  std::string downloadLink;
  std::string singerLink;

  bool operator==(const Song&) const = default;
};

// Where a parse ended. Every exit but kParsed is a failure.
enum class ParseExit {
  kParsed,
  kOpenFailed,        // the address could not be opened
  kReadFailed,        // the transfer broke off after the open
  kStopped,           // the caller's stop token fired
  kNoMediaLine,       // end of data before a line containing "cache"
  kSingerPathLength,  // singer path outside 8..25 bytes
  kNoPathEnd,         // no "preview" (or "SkyT") after "cache"
  kMediaPathTooLong,  // media path above 100 bytes
  kNoListenLog,
  kNoServerStart,      // no "http://" after the media path
  kServerPartTooLong,  // server part above 30 bytes
  kLinkTooShort,       // download link below 25 bytes
};

struct ParseResult {
  ParseExit exit = ParseExit::kNoMediaLine;
  // The fields the parse got to; which of them count depends on `exit`
  // (see PublishCurrentSong).
  Song song;

  bool Parsed() const { return exit == ParseExit::kParsed; }
};

// The pure extraction: the page text (every line after the first up to and
// including the media line, joined) and the media line in, song or failure
// out. `siteBaseWww` prefixes the singer path.
ParseResult ExtractSong(std::string_view pageText, std::string_view mediaLine,
                        std::string_view siteBaseWww);

// Reads the page up to its media line and extracts the song. No side
// effects: nothing is published and no status is written.
ParseResult ReadSongPage(const std::string& address, std::stop_token stop = {});

// ReadSongPage in two steps, for pages read side by side on one thread: the
// request goes out as the read is made, in `group`, and Finish waits for
// the page (moving the group's other reads on meanwhile) and gives what
// ReadSongPage would.
class SongPageRead {
 public:
  SongPageRead(const std::string& address, net::ReaderGroup& group, std::stop_token stop);
  ParseResult Finish();

 private:
  net::PageReader reader_;
  std::optional<ParseExit> failed_;  // as the request went out
};

// Publishes what a parse replaced into CurrentSong: nothing for an open,
// read or media-line failure; singer and title for a singer path failure;
// singer, title and singer link for the media failures; all four on success.
void PublishCurrentSong(const ParseResult& result);

// The process-wide last parsed song, as a consistent copy.
Song CurrentSong();

// An open or read failure: the parse reports "网络连接失败!".
bool IsNetworkFailure(ParseExit exit);

// The whole parse as the single-link add, the crawls and the search use it:
// read, publish, and "网络连接失败!" to `reporter` when the address could not
// be opened (or the transfer broke off). Each caller gets its own result
// back, whatever other parses run at the same time.
ParseResult ParseSongPage(const std::string& address, RunReporter& reporter,
                          std::stop_token stop = {});

}  // namespace melo::scrape
