#pragma once
// How long MPEG audio lasts, for a song whose file has no Xing or VBRI frame
// and that came without its size: as its ID3v2 tag says, else counted frame
// by frame once it is whole.

#include <cstdint>
#include <optional>
#include <string_view>

namespace melo::download {

// The playing time of the frames in `bytes`; an ID3v2 tag ahead and what is
// not a frame are skipped. Empty when there is no frame at all.
std::optional<std::int64_t> Mp3PlayingMs(std::string_view bytes);

// The length an ID3v2 tag at the start of `head` names (its TLEN frame,
// milliseconds), if it names one.
std::optional<std::int64_t> Id3LengthMs(std::string_view head);

}  // namespace melo::download
