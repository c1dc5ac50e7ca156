#pragma once
// File names made from page text. Singer and title are hostile input: they
// must never name a file outside the chosen folder, hide a path separator,
// or grow past what the file system takes.

#include <string>
#include <string_view>

namespace melo::download {

// `utf8` with each control byte and each character that does not show as
// itself (C1, bidirectional and other format controls, line and paragraph
// separators) replaced by `replacement`.
std::string WithoutHiddenCharacters(std::string_view utf8, char replacement);

// One field (UTF-8) made safe to stand in a file name.
std::string SanitizeField(std::string_view field, bool windowsNames);

// `nameTemplate` with {singer}, {title} and {ext} filled in (fields UTF-8,
// already sanitised by this function), cut at a character boundary so that
// the name with ".part" appended fits in 255 bytes, the extension kept.
std::string RenderFileName(std::string_view nameTemplate, std::string_view singer,
                           std::string_view title, std::string_view ext, bool windowsNames);

// File systems count a name's bytes, not its characters.
inline constexpr std::size_t kMaxNameBytes = 255;
inline constexpr std::string_view kPartSuffix = ".part";

}  // namespace melo::download
