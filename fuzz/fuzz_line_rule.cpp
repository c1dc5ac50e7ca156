// The reader's line rule on a body cut into reads at arbitrary places: the
// first eight bytes give the read sizes (used in turn), the rest is the
// body. The lines must be those of the whole body split the plain way,
// whatever the cuts.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "core/net/LineRule.h"

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

// What PageReader::ReadLine does with reads of the given sizes.
std::vector<std::string> ReaderLines(std::string_view body, const uint8_t* sizes) {
  std::vector<std::string> lines;
  std::string line;
  bool tookAny = false;
  for (std::size_t read = 0; !body.empty(); ++read) {
    const std::size_t readSize = 1 + sizes[read % 8] % 64;
    std::string_view pending = body.substr(0, readSize);
    body.remove_prefix(pending.size());
    while (!pending.empty()) {
      bool ended = false;
      const std::size_t used = melo::net::TakeLineBytes(pending, line, ended);
      melo::fuzzing::Check(used > 0 && used <= pending.size());
      pending.remove_prefix(used);
      tookAny = true;
      if (ended) {
        lines.push_back(line);
        line.clear();
        tookAny = false;
      }
    }
  }
  if (tookAny)
    lines.push_back(line);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8)
    return 0;
  const std::string_view body(reinterpret_cast<const char*>(data) + 8, size - 8);
  melo::fuzzing::Check(ReaderLines(body, data) == PlainLines(body));
  return 0;
}
