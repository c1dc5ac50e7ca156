#pragma once
// The tags a saved song carries, written with TagLib.

#include <cstdint>
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

// Room for the tag at the start of a .part, so that tagging a finished song
// writes these bytes in place instead of moving the whole song: an ID3v2.3
// tag of nothing but padding.
inline constexpr std::uint64_t kTagRoomBytes = 4096;
std::string TagRoom();
// Whether the .part starts with that room.
bool HoldsTagRoom(const std::filesystem::path& part);

// Puts the song downloaded into `part` at `target` (replacing what is
// there) with TIT2, TPE1 and WOAS as ID3v2.`version` (3: UTF-16 text,
// 4: UTF-8), GBK text in Latin-1 frames repaired and an ID3v1 tag removed.
// `target` never holds a partial file; `part` is gone on success. Returns
// an error text ("not audio" when `part` holds no MP3), empty on success.
std::string PlaceTagged(const std::filesystem::path& part, const std::filesystem::path& target,
                        const SongTags& tags, int version);

}  // namespace melo::download
