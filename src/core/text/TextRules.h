#pragma once
// The text rules every page reader relies on. Texts are byte strings in the
// page's code page (GBK); positions and lengths are signed byte offsets, and
// the marker arithmetic of the readers depends on a missing marker giving -1.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace melo::text {

using Pos = std::int64_t;
inline constexpr Pos kNotFound = -1;

// A byte that starts a two-byte GBK character (it takes the byte after it).
constexpr bool IsLeadByte(unsigned char b) {
  return b >= 0x81 && b <= 0xFE;
}

// How FindBytes looks: with the widest vectors the processor has, with
// 32-byte ones where it has them, or with the portable code every processor
// runs (what the tests compare the others against).
enum class ByteSearch { kFastest, kVectors32, kPortable };

// Where the bytes of `marker` first stand in `text`, byte by byte with no
// regard to characters; npos when nowhere. memmem's result, faster on long
// texts.
std::size_t FindBytes(std::string_view text, std::string_view marker,
                      ByteSearch search = ByteSearch::kFastest);

// Position of the first match of `marker` at or after `start`, stepping
// through `text` character by character from `start`, so a marker never
// matches from the second byte of a two-byte character. -1 when there is no
// match or when `start` is negative or lies beyond the end.
Pos Find(std::string_view text, std::string_view marker, Pos start = 0);

// `count` bytes from `start`; a negative start or count counts as 0, a count
// that runs past the end stops there, a start beyond the end gives "".
std::string Substring(std::string_view text, Pos start, Pos count);

// `text` with `what` inserted at `pos`, clamped to 0 .. size.
std::string Insert(std::string_view text, Pos pos, std::string_view what);

// Removes single-byte white space (space, \t, \n, \v, \f, \r) at both ends;
// a two-byte space stays.
std::string Trim(std::string_view text);

// Every occurrence of `what` removed, scanning from the left.
std::string RemoveAll(std::string_view text, std::string_view what);

// Whether `text` holds `marker` at all (Find from the start).
inline bool Contains(std::string_view text, std::string_view marker) {
  return Find(text, marker) != kNotFound;
}

inline Pos Size(std::string_view text) {
  return static_cast<Pos>(text.size());
}

}  // namespace melo::text
