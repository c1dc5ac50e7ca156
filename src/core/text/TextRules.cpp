#include "core/text/TextRules.h"

#include <cstring>

namespace melo::text {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Sixteen bytes at a time, with the compiler's portable vectors.
using Bytes16 = unsigned char __attribute__((vector_size(16)));

Bytes16 Load16(const char* at) {
  Bytes16 bytes;
  std::memcpy(&bytes, at, sizeof bytes);
  return bytes;
}

bool AnySet(Bytes16 lanes) {
  std::uint64_t halves[2];
  std::memcpy(halves, &lanes, sizeof halves);
  return (halves[0] | halves[1]) != 0;
}

}  // namespace

std::size_t FindBytes(std::string_view text, std::string_view marker) {
  const std::size_t length = marker.size();
  if (length < 2 || text.size() < length + 16) {
    const void* hit = memmem(text.data(), text.size(), marker.data(), length);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data())
               : std::string_view::npos;
  }
  // Only where the first and the last byte of the marker both match is the
  // rest compared: rare in any text, whatever its letters.
  const auto first = static_cast<unsigned char>(marker.front());
  const auto last = static_cast<unsigned char>(marker.back());
  const char* const base = text.data();
  const std::size_t lastStart = text.size() - length;  // the last place a match may start
  const auto candidates = [&](std::size_t at) -> Bytes16 {
    return (Load16(base + at) == first) & (Load16(base + at + length - 1) == last);
  };
  const auto match = [&](std::size_t at, Bytes16 lanes) -> std::size_t {
    for (std::size_t lane = 0; lane < 16; ++lane) {
      if (lanes[lane] != 0 && std::memcmp(base + at + lane + 1, marker.data() + 1, length - 2) == 0)
        return at + lane;
    }
    return std::string_view::npos;
  };
  std::size_t at = 0;
  // Candidates are rare: one test for 64 places, where it costs as much as
  // the compares.
  for (; at + 64 <= lastStart + 1; at += 64) {
    const Bytes16 lanes[4] = {candidates(at), candidates(at + 16), candidates(at + 32),
                              candidates(at + 48)};
    if (!AnySet(lanes[0] | lanes[1] | lanes[2] | lanes[3]))
      continue;
    for (std::size_t part = 0; part < 4; ++part) {
      if (const std::size_t hit = match(at + 16 * part, lanes[part]); hit != std::string_view::npos)
        return hit;
    }
  }
  for (; at + 16 <= lastStart + 1; at += 16) {
    if (const std::size_t hit = match(at, candidates(at)); hit != std::string_view::npos)
      return hit;
  }
  const std::size_t rest = FindBytes(text.substr(at), marker);
  return rest == std::string_view::npos ? rest : at + rest;
}

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
    const std::size_t hit = FindBytes(text.substr(static_cast<size_t>(from)), marker);
    if (hit == std::string_view::npos)
      return kNotFound;
    const Pos candidate = from + static_cast<Pos>(hit);

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
