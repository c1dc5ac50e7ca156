#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <system_error>
#include <unordered_set>

#include "core/download/Download.h"
#include "core/download/FileNames.h"
#include "core/download/Id3Tags.h"
#include "core/download/PartTransfer.h"
#include "core/net/PageReader.h"
#include "core/scrape/InOrderPool.h"
#include "core/text/Gbk.h"

namespace melo::download {
namespace {

namespace fs = std::filesystem;

std::string Unquote(std::string_view link) {
  if (link.starts_with('"'))
    link.remove_prefix(1);
  if (link.ends_with('"'))
    link.remove_suffix(1);
  return std::string(link);
}

// What identifies a song in the archive: its page, else its MP3 address.
std::string ArchiveKey(const scrape::SongRecord& song) {
  return text::GbkToUtf8(song.songLink.empty() ? Unquote(song.downloadLink) : song.songLink);
}

std::uint64_t SizeOnDisk(const fs::path& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  return error ? 0 : size;
}

fs::path PartOf(const fs::path& path) {
  fs::path part = path;
  part += kPartSuffix;
  return part;
}

// The songs saved before, one key a line; new keys appended as songs land.
class Archive {
 public:
  explicit Archive(fs::path file) : file_(std::move(file)) {
    if (file_.empty())
      return;
    std::ifstream in(file_);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty())
        keys_.insert(line);
    }
  }

  bool Holds(const std::string& key) const { return keys_.contains(key); }

  // Returns an error text, empty on success.
  std::string Add(const std::string& key) {
    if (file_.empty())
      return {};
    std::lock_guard lock(mutex_);
    errno = 0;
    std::ofstream out(file_, std::ios::app);
    out << key << '\n' << std::flush;
    if (out)
      return {};
    return file_.string() + ": " + (errno != 0 ? std::strerror(errno) : "cannot write");
  }

 private:
  fs::path file_;
  std::unordered_set<std::string> keys_;  // read once, before the workers start
  std::mutex mutex_;
};

DownloadResult Failed(fs::path path, std::string error) {
  return {Outcome::kFailed, std::move(path), 0, std::move(error)};
}

DownloadResult Skipped(fs::path path) {
  const std::uint64_t bytes = SizeOnDisk(path);
  return {Outcome::kSkipped, std::move(path), bytes, {}};
}

class SongJob {
 public:
  SongJob(const scrape::SongRecord& song, std::size_t index, fs::path path,
          const DownloadOptions& options, DownloadReporter& reporter, Archive& archive)
      : song_(song),
        index_(index),
        path_(std::move(path)),
        options_(options),
        reporter_(reporter),
        archive_(archive) {}

  // nullopt when stopped.
  std::optional<DownloadResult> Run(std::stop_token stop) {
    if (archive_.Holds(ArchiveKey(song_)))
      return Skipped(path_);
    std::error_code error;
    if (!options_.overwrite && fs::exists(path_, error))
      return Skipped(path_);
    const std::string link = Unquote(song_.downloadLink);
    if (link.empty())
      return Failed(path_, "no download link");

    reporter_.Started(index_);
    const fs::path part = PartOf(path_);
    const PartOutcome outcome = FetchIntoPart(
        RequestAddressOf(song_.downloadLink), part, options_,
        [&](std::uint64_t bytes, std::uint64_t total, double speed) {
          reporter_.Progress(index_, bytes, total, speed);
        },
        stop);
    if (outcome.kind == PartOutcome::kStopped)
      return std::nullopt;
    if (outcome.kind == PartOutcome::kFailed)
      return Failed(path_, outcome.error);
    return Finish(part);
  }

 private:
  DownloadResult Finish(const fs::path& part) {
    std::error_code error;
    if (options_.tags) {
      const std::string failure =
          PlaceTagged(part, path_,
                      {text::GbkToUtf8(song_.title), text::GbkToUtf8(song_.singer),
                       text::GbkToUtf8(song_.songLink)},
                      options_.id3v2Version);
      if (failure == "not audio")
        fs::remove(part, error);
      if (!failure.empty())
        return Failed(path_, failure);
    } else {
      fs::rename(part, path_, error);
      if (error)
        return Failed(path_, error.message());
    }
    if (std::string failure = archive_.Add(ArchiveKey(song_)); !failure.empty())
      return Failed(path_, failure);
    return {Outcome::kDownloaded, path_, SizeOnDisk(path_), {}};
  }

  const scrape::SongRecord& song_;
  std::size_t index_;
  fs::path path_;
  const DownloadOptions& options_;
  DownloadReporter& reporter_;
  Archive& archive_;
};

}  // namespace

std::string FileNameFor(const scrape::SongRecord& song, const DownloadOptions& options) {
  return RenderFileName(options.nameTemplate, text::GbkToUtf8(song.singer),
                        text::GbkToUtf8(song.title), "mp3", options.windowsNames);
}

std::string RequestAddressOf(const std::string& downloadLink) {
  return net::EncodeMediaAddress(Unquote(downloadLink));
}

std::string M3u8Playlist(const std::vector<scrape::SongRecord>& songs) {
  std::string playlist = "#EXTM3U\n";
  for (const scrape::SongRecord& song : songs) {
    // A line break in page text would start a line of its own, and a
    // bidirectional control would show the line in another order.
    const std::string name =
        WithoutHiddenCharacters(text::GbkToUtf8(song.singer + " - " + song.title), ' ');
    playlist += "#EXTINF:-1," + name + "\n" + RequestAddressOf(song.downloadLink) + "\n";
  }
  return playlist;
}

fs::path DefaultMusicFolder() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0')
    return ".";
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const fs::path dirs =
      fs::path(config != nullptr && *config != '\0' ? config : fs::path(home) / ".config") /
      "user-dirs.dirs";
  std::ifstream in(dirs);
  for (std::string line; std::getline(in, line);) {
    constexpr std::string_view kKey = "XDG_MUSIC_DIR=\"";
    if (!line.starts_with(kKey) || !line.ends_with('"'))
      continue;
    std::string value = line.substr(kKey.size(), line.size() - kKey.size() - 1);
    if (value.starts_with("$HOME"))
      value = home + value.substr(5);
    if (value.starts_with('/') && value != home && value != std::string(home) + "/")
      return value;
  }
  return fs::path(home) / "Music";
}

bool DownloadSongs(const std::vector<scrape::SongRecord>& songs, const DownloadOptions& options,
                   DownloadReporter& reporter, std::stop_token stop) {
  std::error_code folderError;
  fs::create_directories(options.folder, folderError);
  Archive archive(options.archive);

  // Two songs that end in the same name (a chart that lists a song twice)
  // must not write one .part at once: the first one downloads, the others
  // say what became of it.
  std::vector<fs::path> paths;
  std::vector<std::optional<std::size_t>> firstWithName(songs.size());
  std::map<fs::path, std::size_t> owners;
  for (std::size_t i = 0; i < songs.size(); ++i) {
    paths.push_back(options.folder / FileNameFor(songs[i], options));
    const auto [owner, added] = owners.emplace(paths.back(), i);
    if (!added)
      firstWithName[i] = owner->second;
  }
  std::vector<DownloadResult> handedOut(songs.size());

  return scrape::RunInOrder<std::optional<DownloadResult>>(
      songs.size(), options.jobs, std::move(stop),
      [&](std::size_t i, std::stop_token token) -> std::optional<DownloadResult> {
        std::optional<DownloadResult> result;
        if (folderError) {
          result = Failed(paths[i], folderError.message());
        } else if (firstWithName[i]) {
          result = DownloadResult{};  // settled when handed out, after its first
        } else {
          result = SongJob(songs[i], i, paths[i], options, reporter, archive).Run(token);
        }
        if (result && !firstWithName[i])
          reporter.SongDone(i, *result);
        return result;
      },
      [&](std::size_t i, std::optional<DownloadResult>& result) {
        if (!result)
          return;  // stopped: the run ends without this one
        if (firstWithName[i]) {
          const DownloadResult& first = handedOut[*firstWithName[i]];
          result = first.outcome == Outcome::kFailed ? first : Skipped(paths[i]);
          reporter.SongDone(i, *result);
        }
        handedOut[i] = *result;
        reporter.Result(i, songs[i], *result);
      });
}

}  // namespace melo::download
