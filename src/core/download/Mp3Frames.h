#pragma once
// How long MPEG audio lasts, counted frame by frame: for a song whose file
// names no length (no Xing or VBRI frame) and that came without its size.

#include <cstdint>
#include <optional>
#include <string_view>

namespace melo::download {

// The playing time of the frames in `bytes`; an ID3v2 tag ahead and what is
// not a frame are skipped. Empty when there is no frame at all.
std::optional<std::int64_t> Mp3PlayingMs(std::string_view bytes);

}  // namespace melo::download
