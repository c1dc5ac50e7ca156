// The line rule over reads far larger than the fuzz target's: both joins,
// reads that cross the wide join's 64-byte blocks and the buffer's growth,
// and lines taken one by one or all at once, against the rule applied byte
// by byte. Long lines, lone carriage returns and runs of line feeds are where
// a join loses or keeps a byte it should not.

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "core/net/PageBuffer.h"

namespace melo::net {
namespace {

struct Joined {
  std::string text;
  std::vector<std::size_t> lineEnds;
  bool operator==(const Joined&) const = default;
};

Joined ByTheRule(const std::string& body) {
  Joined joined;
  for (const char c : body) {
    if (c == '\n')
      joined.lineEnds.push_back(joined.text.size());
    else if (c != '\r')
      joined.text += c;
  }
  return joined;
}

Joined ByTheBuffer(const std::string& body, std::size_t readSize, PageBuffer::Join join,
                   bool oneByOne) {
  PageBuffer buffer(join);
  Joined joined;
  for (std::size_t at = 0; at < body.size(); at += readSize) {
    buffer.Append(std::string_view(body).substr(at, readSize));
    if (oneByOne) {
      while (buffer.UnreadBytes() > 0) {
        if (buffer.TakeLine())
          joined.lineEnds.push_back(buffer.Text().size());
      }
    } else {
      const PageBuffer::Taken taken = buffer.TakeAll();
      joined.lineEnds.insert(joined.lineEnds.end(), taken.lineEnds.begin(), taken.lineEnds.end());
    }
    EXPECT_EQ(buffer.UnreadBytes(), 0u);
  }
  joined.text = buffer.Text();
  return joined;
}

// Bytes of every kind, the line bytes one in `spacing`.
std::string Body(std::size_t bytes, std::size_t spacing) {
  std::string body;
  for (std::size_t i = 0; body.size() < bytes; ++i) {
    const std::size_t turn = i % spacing;
    body += turn == 0 ? '\r' : turn == 1 ? '\n' : static_cast<char>(i * 7);
  }
  return body;
}

TEST(PageBuffer, JoinsBigReadsByTheLineRule) {
  const std::string bodies[] = {
      Body(200'000, 97),                     // lines of a page
      Body(200'000, 70'001),                 // lines longer than a read
      Body(70'000, 2),                       // nothing but line bytes
      std::string(100'000, '\r') + "x\n\r",  // a lone return after the last feed
      std::string(65'536, '\n'),             // empty lines only
  };
  for (const std::string& body : bodies) {
    const Joined expected = ByTheRule(body);
    for (const std::size_t readSize : {63, 64, 65, 16 * 1024 + 1, 100 * 1024}) {
      for (const auto join : {PageBuffer::Join::kPlain, PageBuffer::Join::kFastest}) {
        for (const bool oneByOne : {false, true}) {
          SCOPED_TRACE(::testing::Message() << body.size() << " bytes, reads of " << readSize
                                            << (join == PageBuffer::Join::kPlain ? ", plain" : "")
                                            << (oneByOne ? ", one by one" : ""));
          EXPECT_EQ(ByTheBuffer(body, readSize, join, oneByOne), expected);
        }
      }
    }
  }
}

}  // namespace
}  // namespace melo::net
