#include "core/text/TextRules.h"

#include <cstring>

namespace melo::text {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

Pos Find(std::string_view text, std::string_view marker, Pos start) {
  const Pos size = Size(text);
  if (start < 0 || start > size)
    return kNotFound;
  if (marker.empty())
    return start;

  const char* const base = text.data();
  // `anchor` is a position known to start a character. Every candidate moves
  // it forwards, so each byte is looked at a bounded number of times even on
  // pathological text made only of lead bytes.
  Pos anchor = start;
  Pos from = start;
  while (size - from >= static_cast<Pos>(marker.size())) {
    const void* hit =
        memmem(base + from, static_cast<size_t>(size - from), marker.data(), marker.size());
    if (hit == nullptr)
      return kNotFound;
    const Pos candidate = static_cast<const char*>(hit) - base;

    // The bytes between the anchor and the candidate that could be lead
    // bytes: a run of them ends at a byte that cannot start a two-byte
    // character, so the character boundary right after that byte is known.
    Pos run = 0;
    Pos p = candidate - 1;
    while (p >= anchor && IsLeadByte(static_cast<unsigned char>(base[p]))) {
      ++run;
      --p;
    }
    if (run % 2 == 0)
      return candidate;
    // The candidate is the second byte of a character that starts one
    // before it; the next character starts right after it.
    anchor = candidate + 1;
    from = candidate + 1;
  }
  return kNotFound;
}

std::string Substring(std::string_view text, Pos start, Pos count) {
  if (start < 0)
    start = 0;
  if (count < 0)
    count = 0;
  const Pos size = Size(text);
  if (start >= size)
    return {};
  if (count > size - start)
    count = size - start;
  return std::string(text.substr(static_cast<size_t>(start), static_cast<size_t>(count)));
}

std::string Insert(std::string_view text, Pos pos, std::string_view what) {
  if (pos < 0)
    pos = 0;
  if (pos > Size(text))
    pos = Size(text);
  std::string out;
  out.reserve(text.size() + what.size());
  out.append(text.substr(0, static_cast<size_t>(pos)));
  out.append(what);
  out.append(text.substr(static_cast<size_t>(pos)));
  return out;
}

std::string Trim(std::string_view text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlank(text[first]))
    ++first;
  while (last > first && IsBlank(text[last - 1]))
    --last;
  return std::string(text.substr(first, last - first));
}

std::string RemoveAll(std::string_view text, std::string_view what) {
  if (what.empty())
    return std::string(text);
  std::string out;
  out.reserve(text.size());
  Pos from = 0;
  for (Pos hit = Find(text, what, from); hit != kNotFound; hit = Find(text, what, from)) {
    out.append(text.substr(static_cast<size_t>(from), static_cast<size_t>(hit - from)));
    from = hit + Size(what);
  }
  out.append(text.substr(static_cast<size_t>(from)));
  return out;
}

}  // namespace melo::text
