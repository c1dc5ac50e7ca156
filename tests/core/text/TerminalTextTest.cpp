#include <gtest/gtest.h>

#include <string>

#include "core/text/TerminalText.h"

namespace melo::text {
namespace {

// What a page or server may send, and how it reaches a terminal: every
// control shown as text, everything else as it was.
TEST(TerminalTextTest, ControlsAreShownAsText) {
  const struct {
    std::string in, out;
  } rows[] = {
      {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},      // retitles the terminal
      {"\x1b[2J\x1b[31mred", "\\x1b[2J\\x1b[31mred"},  // clears, recolours
      {"a\rforged\nline\tcell", "a\\x0dforged\\x0aline\\x09cell"},
      {std::string("nul\0!", 5), "nul\\x00!"},
      {"del\x7f", "del\\x7f"},
      {"\xc2\x9b"
       "2J \xc2\x85 \xc2\x80",
       "\\u009b2J \\u0085 \\u0080"},                                     // C1 controls
      {"\x9b\xff\xc2", "\\x9b\\xff\\xc2"},                               // bytes that are no UTF-8
      {"\xe0\x80\x80 \xed\xa0\x80", "\\xe0\\x80\\x80 \\xed\\xa0\\x80"},  // overlong, surrogate
      {"周杰伦 - 稻香 \xc2\xa0é 🎵", "周杰伦 - 稻香 \xc2\xa0é 🎵"},        // ordinary text unchanged
      {"", ""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(TerminalSafe(row.in), row.out) << row.out;
}

// A JSON writer escapes C0 controls only; what it leaves is escaped here, as
// JSON escapes, so that the line still reads back as the same text.
TEST(TerminalTextTest, JsonKeepsItsMeaning) {
  EXPECT_EQ(TerminalSafeJson("{\"t\":\"a\x7f\xc2\x9b[2J\xc2\xa0周\"}"),
            "{\"t\":\"a\\u007f\\u009b[2J\xc2\xa0周\"}");
}

}  // namespace
}  // namespace melo::text
