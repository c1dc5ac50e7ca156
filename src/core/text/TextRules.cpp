#include "core/text/TextRules.h"

#include <cstdint>
#include <cstring>

#include "core/text/ProcessorVectors.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

std::size_t FindBytes16(std::string_view text, std::string_view marker);

// The search of `text` from `at` on, as a place in all of it: the bytes a
// step of whole vectors leaves over.
std::size_t FindBytesFrom(std::string_view text, std::string_view marker, std::size_t at) {
  const std::size_t rest = FindBytes16(text.substr(at), marker);
  return rest == std::string_view::npos ? rest : at + rest;
}

std::size_t FindBytes16(std::string_view text, std::string_view marker) {
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
  return FindBytesFrom(text, marker, at);
}

#if defined(__x86_64__)
// The first of the places from `at` whose bit is set in `lanes` (where the
// marker's first and last byte both stand) that holds the whole marker.
std::size_t MatchAmong(std::string_view text, std::string_view marker, std::size_t at,
                       std::uint64_t lanes) {
  for (; lanes != 0; lanes &= lanes - 1) {
    const std::size_t place = at + static_cast<std::size_t>(__builtin_ctzll(lanes));
    if (std::memcmp(text.data() + place + 1, marker.data() + 1, marker.size() - 2) == 0)
      return place;
  }
  return std::string_view::npos;
}

// As FindBytes16, a whole vector of places a test.
__attribute__((target("avx512f,avx512bw"))) std::size_t FindBytes64(std::string_view text,
                                                                    std::string_view marker) {
  const char* const base = text.data();
  const std::size_t lastStart = text.size() - marker.size();
  const __m512i first = _mm512_set1_epi8(marker.front());
  const __m512i last = _mm512_set1_epi8(marker.back());
  std::size_t at = 0;
  for (; at + 64 <= lastStart + 1; at += 64) {
    const std::uint64_t lanes =
        _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(base + at), first) &
        _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(base + at + marker.size() - 1), last);
    if (const std::size_t hit = MatchAmong(text, marker, at, lanes); hit != std::string_view::npos)
      return hit;
  }
  return FindBytesFrom(text, marker, at);
}

__attribute__((target("avx2"))) inline __m256i Load32(const char* at) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

__attribute__((target("avx2"))) std::size_t FindBytes32(std::string_view text,
                                                        std::string_view marker) {
  const char* const base = text.data();
  const std::size_t lastStart = text.size() - marker.size();
  const __m256i first = _mm256_set1_epi8(marker.front());
  const __m256i last = _mm256_set1_epi8(marker.back());
  std::size_t at = 0;
  for (; at + 32 <= lastStart + 1; at += 32) {
    const __m256i both =
        _mm256_and_si256(_mm256_cmpeq_epi8(Load32(base + at), first),
                         _mm256_cmpeq_epi8(Load32(base + at + marker.size() - 1), last));
    const auto lanes = static_cast<std::uint32_t>(_mm256_movemask_epi8(both));
    if (const std::size_t hit = MatchAmong(text, marker, at, lanes); hit != std::string_view::npos)
      return hit;
  }
  return FindBytesFrom(text, marker, at);
}
#endif

}  // namespace

std::size_t FindBytes(std::string_view text, std::string_view marker, ByteSearch search) {
#if defined(__x86_64__)
  // Only a text of a few vectors gains from them.
  if (marker.size() >= 2 && text.size() >= marker.size() + 64) {
    if (search == ByteSearch::kFastest && Vectors().avx512bw)
      return FindBytes64(text, marker);
    if (search != ByteSearch::kPortable && Vectors().avx2)
      return FindBytes32(text, marker);
  }
#endif
  return FindBytes16(text, marker);
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
