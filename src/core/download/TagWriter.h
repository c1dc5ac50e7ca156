#pragma once
// PlaceTagged's TagLib side, in the module "tagger": loaded on the first
// song tagged, so that a program which tags nothing never loads TagLib.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/download/Id3Tags.h"

namespace melo::download {

inline constexpr char kTaggerModule[] = "tagger";
inline constexpr char kTaggerEntry[] = "melo_place_tagged";
// What PlaceTagged does, with its result in `failure`.
using PlaceTaggedEntry = void(const std::filesystem::path& part,
                              const std::filesystem::path& target, const SongTags& tags,
                              int version, std::string& failure);

// The ID3v2.3 header of a tag of `bytes` bytes in all.
std::string TagHeader(std::uint64_t bytes);
// Whether `file` holds `bytes` at `offset`.
bool HoldsAt(const std::filesystem::path& file, std::uint64_t offset, std::string_view bytes);

}  // namespace melo::download
