#pragma once
// Which stretches of a song a cache file holds: a song is fetched from where
// it is wanted first, so the file can hold parts with gaps between them.

#include <cstdint>
#include <iterator>
#include <map>
#include <optional>

namespace melo::download {

class ByteRanges {
 public:
  // Marks [begin, end) as held, joining it with the stretches it touches.
  void Add(std::uint64_t begin, std::uint64_t end) {
    if (begin >= end)
      return;
    auto next = held_.upper_bound(begin);
    if (next != held_.begin() && std::prev(next)->second >= begin) {
      --next;
      begin = next->first;
    }
    while (next != held_.end() && next->first <= end) {
      end = std::max(end, next->second);
      next = held_.erase(next);
    }
    held_.emplace(begin, end);
  }

  // Where the held stretch that covers `at` ends; `at` itself when none does.
  std::uint64_t HeldUntil(std::uint64_t at) const {
    const auto after = held_.upper_bound(at);
    if (after == held_.begin())
      return at;
    const auto covering = std::prev(after);
    return covering->second > at ? covering->second : at;
  }

  // The first byte at or after `from` that is not held, below `size` when
  // the size is known.
  std::optional<std::uint64_t> FirstGap(std::uint64_t from,
                                        std::optional<std::uint64_t> size) const {
    const std::uint64_t gap = HeldUntil(from);
    if (size && gap >= *size)
      return std::nullopt;
    return gap;
  }

  // Where the next held stretch after `at` starts, if any.
  std::optional<std::uint64_t> NextHeld(std::uint64_t at) const {
    const auto after = held_.upper_bound(at);
    if (after == held_.end())
      return std::nullopt;
    return after->first;
  }

  std::uint64_t HeldBytes() const {
    std::uint64_t bytes = 0;
    for (const auto& [begin, end] : held_)
      bytes += end - begin;
    return bytes;
  }

 private:
  std::map<std::uint64_t, std::uint64_t> held_;  // begin -> end, disjoint, not touching
};

}  // namespace melo::download
