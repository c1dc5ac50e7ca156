#include "core/download/FileNames.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "core/text/TerminalText.h"

namespace melo::download {
namespace {

constexpr char kReplacement = '_';

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsForbidden(unsigned char c, bool windowsNames) {
  if (c == '/' || c < 0x20 || c == 0x7F)
    return true;
  return windowsNames &&
         std::string_view("\\:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos;
}

// Characters that do not show as themselves: C1 controls, bidirectional
// controls ("invoice\u202Egpj.exe" shows as "invoiceexe.jpg"), line and
// paragraph separators, and the other invisible format characters.
bool IsHiddenCharacter(char32_t c) {
  static constexpr std::pair<char32_t, char32_t> kRanges[] = {
      {0x80, 0x9F},     {0xAD, 0xAD},       {0x600, 0x605},     {0x61C, 0x61C},
      {0x6DD, 0x6DD},   {0x70F, 0x70F},     {0x180E, 0x180E},   {0x200B, 0x200F},
      {0x2028, 0x202E}, {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},
      {0xFFF9, 0xFFFB}, {0x110BD, 0x110BD}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F}};
  return std::any_of(std::begin(kRanges), std::end(kRanges),
                     [c](const auto& range) { return c >= range.first && c <= range.second; });
}

void TrimBlanks(std::string& text) {
  const auto first = std::find_if_not(text.begin(), text.end(), IsBlank);
  text.erase(text.begin(), first);
  while (!text.empty() && IsBlank(text.back()))
    text.pop_back();
}

// Blanks and dots at the end: some file systems drop them, and a name
// ending in a dot hides its extension from many tools.
void TrimTail(std::string& text) {
  while (!text.empty() && (IsBlank(text.back()) || text.back() == '.'))
    text.pop_back();
}

// The length of the longest prefix of `text` of at most `limit` bytes that
// ends on a UTF-8 character boundary.
std::size_t CharacterBoundary(std::string_view text, std::size_t limit) {
  if (limit >= text.size())
    return text.size();
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
    --cut;
  return cut;
}

// The ".ext" at the end of `name`: a dot and up to eight ASCII letters or
// digits; empty when the name has none.
std::size_t ExtensionLength(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || name.size() - dot < 2 || name.size() - dot > 9)
    return 0;
  const bool plain = std::all_of(name.begin() + dot + 1, name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
  return plain ? name.size() - dot : 0;
}

}  // namespace

std::string WithoutHiddenCharacters(std::string_view utf8, char replacement) {
  std::string shown;
  shown.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = std::max<std::size_t>(1, text::Utf8CharacterLength(utf8.substr(i)));
    const std::string_view character = utf8.substr(i, length);
    const bool hidden = byte < 0x20 || byte == 0x7F ||
                        (length > 1 && IsHiddenCharacter(text::Utf8CodePoint(character)));
    if (hidden)
      shown += replacement;
    else
      shown += character;
    i += length;
  }
  return shown;
}

std::string SanitizeField(std::string_view field, bool windowsNames) {
  std::string safe;
  safe.reserve(field.size());
  for (char c : WithoutHiddenCharacters(field, kReplacement))
    safe += IsForbidden(static_cast<unsigned char>(c), windowsNames) ? kReplacement : c;
  TrimBlanks(safe);
  // "." and ".." would name the folder itself or its parent.
  const bool dotsOnly = std::all_of(safe.begin(), safe.end(), [](char c) { return c == '.'; });
  TrimTail(safe);
  // ". ." trims down to nothing, and an empty field is replaced as well.
  return dotsOnly || safe.empty() ? std::string(1, kReplacement) : safe;
}

std::string RenderFileName(std::string_view nameTemplate, std::string_view singer,
                           std::string_view title, std::string_view ext, bool windowsNames) {
  std::string name;
  for (std::size_t i = 0; i < nameTemplate.size();) {
    const auto field = [&](std::string_view key, std::string_view value) {
      if (nameTemplate.substr(i, key.size()) != key)
        return false;
      name += SanitizeField(value, windowsNames);
      i += key.size();
      return true;
    };
    if (field("{singer}", singer) || field("{title}", title) || field("{ext}", ext))
      continue;
    // The template's own text cannot lead out of the folder either.
    const auto c = static_cast<unsigned char>(nameTemplate[i++]);
    name += IsForbidden(c, windowsNames) ? kReplacement : static_cast<char>(c);
  }
  TrimBlanks(name);
  const std::size_t extLength = ExtensionLength(name);
  std::string stem = name.substr(0, name.size() - extLength);
  const std::string extension = name.substr(name.size() - extLength);
  const std::size_t room = kMaxNameBytes - kPartSuffix.size() - extension.size();
  stem.resize(CharacterBoundary(stem, room));
  TrimTail(stem);
  if (std::all_of(stem.begin(), stem.end(), [](char c) { return c == '.'; }))
    stem += kReplacement;
  return stem + extension;
}

}  // namespace melo::download
