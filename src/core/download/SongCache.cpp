#include "core/download/SongCache.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/download/FileDescriptor.h"

namespace melo::download {
namespace {

namespace fs = std::filesystem;

// FNV-1a: a file name of fixed length for an address of any length.
std::string AddressKey(std::string_view address) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const unsigned char byte : address) {
    hash ^= byte;
    hash *= 1099511628211ull;
  }
  char key[17];
  std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(hash));
  return key;
}

struct CacheFile {
  fs::path path;
  fs::file_time_type used;
  std::uint64_t bytes;
};

std::vector<CacheFile> FilesOldestFirst(const fs::path& folder) {
  std::vector<CacheFile> files;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    std::error_code entryError;
    if (!entry.is_regular_file(entryError))
      continue;
    const auto used = entry.last_write_time(entryError);
    const auto bytes = entry.file_size(entryError);
    if (!entryError)
      files.push_back({entry.path(), used, bytes});
  }
  std::sort(files.begin(), files.end(),
            [](const CacheFile& a, const CacheFile& b) { return a.used < b.used; });
  return files;
}

// A file a player or a fetch holds (shared lock) is not removed.
bool RemoveUnlessHeld(const fs::path& path) {
  const FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (file.get() < 0 || flock(file.get(), LOCK_EX | LOCK_NB) != 0)
    return false;
  std::error_code error;
  return fs::remove(path, error);
}

}  // namespace

fs::path SongCacheFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && *cache == '/')
    return fs::path(cache) / "melodriftdown";
  const char* home = std::getenv("HOME");
  return fs::path(home != nullptr && *home != '\0' ? home : ".") / ".cache" / "melodriftdown";
}

fs::path CachedSongPath(const std::string& requestAddress) {
  return SongCacheFolder() / (AddressKey(requestAddress) + ".mp3");
}

std::optional<fs::path> WholeCachedSong(const std::string& requestAddress) {
  fs::path path = CachedSongPath(requestAddress);
  std::error_code error;
  if (!fs::is_regular_file(fs::symlink_status(path, error)))
    return std::nullopt;
  return path;
}

std::optional<std::uint64_t> CopyWholeCachedSong(const std::string& requestAddress, int fd,
                                                 std::uint64_t at) {
  const std::optional<fs::path> whole = WholeCachedSong(requestAddress);
  if (!whole)
    return std::nullopt;
  const FileDescriptor cached(open(whole->c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  // Held while it is copied, so that trimming cannot take it half-way.
  if (cached.get() < 0 || flock(cached.get(), LOCK_SH) != 0 ||
      ftruncate(fd, static_cast<off_t>(at)) != 0)
    return std::nullopt;
  std::uint64_t copied = 0;
  std::string buffer(256 * 1024, '\0');
  for (;;) {
    const ssize_t got =
        pread(cached.get(), buffer.data(), buffer.size(), static_cast<off_t>(copied));
    if (got < 0)
      return std::nullopt;
    if (got == 0)
      break;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = pwrite(fd, buffer.data() + done, static_cast<std::size_t>(got - done),
                                 static_cast<off_t>(at + copied));
      if (put <= 0)
        return std::nullopt;
      done += put;
      copied += static_cast<std::uint64_t>(put);
    }
  }
  futimens(cached.get(), nullptr);
  return copied > 0 ? std::optional(copied) : std::nullopt;
}

void TrimSongCache(std::uint64_t capBytes, std::uint64_t incoming) {
  std::vector<CacheFile> files = FilesOldestFirst(SongCacheFolder());
  std::uint64_t total = incoming;
  for (const CacheFile& file : files)
    total += file.bytes;
  for (const CacheFile& file : files) {
    if (total <= capBytes)
      return;
    if (RemoveUnlessHeld(file.path))
      total -= file.bytes;
  }
}

}  // namespace melo::download
