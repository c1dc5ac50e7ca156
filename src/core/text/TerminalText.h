#pragma once
// Text from pages and servers on its way to a terminal. A title, a reason
// phrase or an address may hold escape sequences that retitle, clear or
// recolour the terminal, or forge and hide lines; shown escaped, they are
// only text.

#include <string>
#include <string_view>

namespace melo::text {

// `utf8` with every C0 control (tab and line feed included: the writer adds
// its own), DEL and every byte that is not part of well-formed UTF-8 written
// as \xHH, and every C1 control (U+0080 to U+009F) as \u00HH. Everything
// else, Chinese text included, passes unchanged.
std::string TerminalSafe(std::string_view utf8);

// A JSON text (UTF-8, as a JSON writer makes it, which escapes C0 controls
// only) with DEL and every C1 control in it escaped as \u00HH: outside its
// strings, JSON holds neither.
std::string TerminalSafeJson(std::string_view json);

// The length of the well-formed UTF-8 character `text` starts with (RFC
// 3629: no overlong forms, no surrogates, nothing past U+10FFFF), or 0.
std::size_t Utf8CharacterLength(std::string_view text);

// The code point of a character Utf8CharacterLength measured.
char32_t Utf8CodePoint(std::string_view character);

}  // namespace melo::text
