#pragma once
// Saving songs to disk: each song's MP3 streamed to "<name>.part" in the
// target folder, tagged, then renamed to its final name, so the final name
// never holds a partial or untagged file. The window and the command line
// share this; neither touches a file itself.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

#include "core/scrape/SongRecord.h"

namespace melo::download {

struct DownloadOptions {
  std::filesystem::path folder = ".";
  // Fields {singer}, {title}, {ext}; the result is a UTF-8 file name.
  std::string nameTemplate = "{singer} - {title}.mp3";
  int jobs = 4;
  // One line per song downloaded before (its page address, else its MP3
  // address); empty: no archive.
  std::filesystem::path archive = {};
  bool continueParts = true;   // resume an existing .part
  bool overwrite = false;      // replace an existing final file
  int retries = 3;             // further attempts after a failing one
  std::int64_t rateLimit = 0;  // bytes per second per song, 0: unlimited
  // A song that grows past this many bytes (a server sending without end)
  // fails and leaves nothing; no MP3 of a song comes near the default.
  std::uint64_t maxFileSize = std::uint64_t{1} << 30;
  bool tags = true;           // false: the file is saved as served
  int id3v2Version = 3;       // 3: UTF-16 text, 4: UTF-8 text
  bool windowsNames = false;  // also replace \ : * ? " < > |
  // The pause before the first retry; each further retry waits one more.
  std::chrono::milliseconds retryPause{1000};
  // No byte for this long counts as a broken connection (then retried).
  std::chrono::milliseconds stall{30'000};
};

enum class Outcome { kDownloaded, kSkipped, kFailed };

struct DownloadResult {
  Outcome outcome = Outcome::kFailed;
  std::filesystem::path path;  // the final file (also when skipped or failed)
  std::uint64_t bytes = 0;     // the final file's size on disk
  std::string error;           // UTF-8, empty unless failed
};

// How a download run tells what happens. Started, Progress and SongDone are
// called on the worker threads (several at once when jobs > 1) as things
// happen; Result is called on the caller's thread in input order, as one
// download after another would give. A stopped run reports nothing more.
class DownloadReporter {
 public:
  virtual ~DownloadReporter() = default;

  virtual void Started(std::size_t /*index*/) {}
  // `total` is 0 while unknown; at most every 100 ms per song, and once at
  // the end of a transfer.
  virtual void Progress(std::size_t /*index*/, std::uint64_t /*bytes*/, std::uint64_t /*total*/,
                        double /*bytesPerSecond*/) {}
  virtual void SongDone(std::size_t /*index*/, const DownloadResult& /*result*/) {}
  virtual void Result(std::size_t index, const scrape::SongRecord& song,
                      const DownloadResult& result) = 0;
};

// Downloads `songs` (texts GBK, as the song list holds them) into
// options.folder, up to options.jobs at once. Returns false when `stop`
// fired before every result was handed out; .part files then stay for the
// next run.
bool DownloadSongs(const std::vector<scrape::SongRecord>& songs, const DownloadOptions& options,
                   DownloadReporter& reporter, std::stop_token stop = {});

// The UTF-8 file name `song` gets (no folder), sanitised as page text must be.
std::string FileNameFor(const scrape::SongRecord& song, const DownloadOptions& options);

// The address a download link (quoted, GBK) is requested with: the title's
// bytes percent-encoded exactly as playback sends them.
std::string RequestAddressOf(const std::string& downloadLink);

// The songs as an extended M3U8 playlist (UTF-8): "#EXTINF:-1,singer -
// title" and the MP3 address as it goes on the wire.
std::string M3u8Playlist(const std::vector<scrape::SongRecord>& songs);

// The user's music folder (XDG user directories), else ~/Music, else ".".
std::filesystem::path DefaultMusicFolder();

}  // namespace melo::download
