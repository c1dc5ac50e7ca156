#pragma once
// The folder where songs fetched for playback are kept: one file per song,
// "<key>.mp3" once it is whole and "<key>.<random>.part" while it is being
// fetched. Whoever reads or writes a cache file holds a shared lock on it;
// trimming takes only files nobody holds, oldest first.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace melo::download {

// Big enough for an evening's chart, small enough to go unnoticed.
inline constexpr std::uint64_t kSongCacheBytes = std::uint64_t{512} << 20;

// $XDG_CACHE_HOME/melodriftdown, else ~/.cache/melodriftdown.
std::filesystem::path SongCacheFolder();

// The whole song's file for a request address, whether it exists or not.
std::filesystem::path CachedSongPath(const std::string& requestAddress);

// The whole song's file when the cache holds it.
std::optional<std::filesystem::path> WholeCachedSong(const std::string& requestAddress);

// Writes the cache's whole copy of the song into `fd` from byte `at` on (the
// file ends there): the song's size, or nothing when the cache has no
// whole copy or it cannot be read.
std::optional<std::uint64_t> CopyWholeCachedSong(const std::string& requestAddress, int fd,
                                                 std::uint64_t at);

// Removes the oldest files nobody holds until the folder's files, `incoming`
// bytes more, fit in `capBytes`.
void TrimSongCache(std::uint64_t capBytes, std::uint64_t incoming = 0);

}  // namespace melo::download
