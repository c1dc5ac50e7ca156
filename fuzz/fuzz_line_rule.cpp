// The reader's line rule on a body cut into reads at arbitrary places: the
// first eight bytes give the read sizes (used in turn), the rest is the
// body. The lines must be those of the whole body split the plain way,
// whatever the cuts, and the text joined in place must be those lines
// joined, whether lines are dropped as they come, kept, or taken all at
// once; with the widest join the processor has and with the plain one.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "core/net/PageBuffer.h"

namespace {

// Every line feed ends a line, carriage returns vanish, and bytes after the
// last line feed make one more line, even if they were only carriage returns.
std::vector<std::string> PlainLines(std::string_view body) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (body[i] != '\r') {
      line += body[i];
    }
  }
  if (!body.empty() && body.back() != '\n')
    lines.push_back(line);
  return lines;
}

// Appends the body to `buffer` in reads of the given sizes (used in turn),
// calling `taken` after each.
template <typename Taken>
void AppendInReads(melo::net::PageBuffer& buffer, std::string_view body, const uint8_t* sizes,
                   Taken taken) {
  for (std::size_t read = 0; !body.empty(); ++read) {
    const std::size_t readSize = 1 + sizes[read % 8] % 64;
    buffer.Append(body.substr(0, readSize));
    body.remove_prefix(std::min(readSize, body.size()));
    taken();
  }
}

// What PageReader does with reads of the given sizes: every line taken into
// one buffer, each line the text since the previous line's end; with
// `dropLines` the text is cut back after each line, as ReadLine does.
std::vector<std::string> ReaderLines(std::string_view body, const uint8_t* sizes, bool dropLines,
                                     melo::net::PageBuffer::Join join, std::string& joined) {
  std::vector<std::string> lines;
  melo::net::PageBuffer buffer(join);
  std::size_t lineStart = 0;
  bool tookAny = false;
  AppendInReads(buffer, body, sizes, [&] {
    while (buffer.UnreadBytes() > 0) {
      const std::size_t unread = buffer.UnreadBytes();
      const bool ended = buffer.TakeLine();
      melo::fuzzing::Check(buffer.UnreadBytes() < unread);
      tookAny = true;
      if (ended) {
        lines.emplace_back(buffer.Text().substr(lineStart));
        lineStart = dropLines ? 0 : buffer.Text().size();
        if (dropLines)
          buffer.TruncateText(0);
        tookAny = false;
      }
    }
  });
  if (tookAny)
    lines.emplace_back(buffer.Text().substr(lineStart));
  joined = buffer.ReleaseText();
  return lines;
}

// The same reads, each taken all at once, as the reader takes a page.
std::vector<std::string> TakenAtOnce(std::string_view body, const uint8_t* sizes,
                                     melo::net::PageBuffer::Join join) {
  std::vector<std::string> lines;
  melo::net::PageBuffer buffer(join);
  std::size_t lineStart = 0;
  bool inside = false;
  AppendInReads(buffer, body, sizes, [&] {
    const melo::net::PageBuffer::Taken taken = buffer.TakeAll();
    melo::fuzzing::Check(buffer.UnreadBytes() == 0);
    for (const std::size_t lineEnd : taken.lineEnds) {
      lines.emplace_back(buffer.Text().substr(lineStart, lineEnd - lineStart));
      lineStart = lineEnd;
    }
    inside = taken.insideLine || (taken.lineEnds.empty() && inside);
  });
  if (inside)
    lines.emplace_back(buffer.Text().substr(lineStart));
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8)
    return 0;
  const std::string_view body(reinterpret_cast<const char*>(data) + 8, size - 8);
  const std::vector<std::string> plain = PlainLines(body);
  std::string all;
  for (const std::string& line : plain)
    all += line;
  using Join = melo::net::PageBuffer::Join;
  for (const Join join : {Join::kPlain, Join::kFastest}) {
    for (const bool dropLines : {false, true}) {
      std::string joined;
      melo::fuzzing::Check(ReaderLines(body, data, dropLines, join, joined) == plain);
      if (!dropLines)
        melo::fuzzing::Check(joined == all);
    }
    melo::fuzzing::Check(TakenAtOnce(body, data, join) == plain);
  }
  return 0;
}
