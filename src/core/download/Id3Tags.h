#pragma once
// The tags a saved song carries, written with TagLib.

#include <filesystem>
#include <string>
#include <string_view>

namespace melo::download {

struct SongTags {
  std::string title;     // UTF-8
  std::string artist;    // UTF-8
  std::string pageLink;  // the song page address (WOAS)
};

// Whether `latin1` (a Latin-1 frame's bytes) is really GBK: every byte above
// 0x7F pairs up with the next as a GB2312 character (both 0xA1 to 0xFE), and
// there is at least one. "Café" and "Müller" are not.
bool LooksLikeGbk(std::string_view latin1);

// Writes TIT2, TPE1 and WOAS as ID3v2.`version` (3: UTF-16 text, 4: UTF-8),
// repairs GBK text stored in Latin-1 frames and removes an ID3v1 tag.
// Returns an error text, empty on success.
std::string WriteSongTags(const std::filesystem::path& file, const SongTags& tags, int version);

}  // namespace melo::download
