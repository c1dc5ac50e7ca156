#include "playback/PlayOrder.h"

#include <algorithm>
#include <array>
#include <numeric>

namespace melo::playback {
namespace {

constexpr std::array<std::string_view, 5> kKeys{"single", "sequential", "loopList", "loopOne",
                                                "shuffle"};

}  // namespace

std::string_view PlayModeKey(PlayMode mode) {
  return kKeys.at(static_cast<std::size_t>(mode));
}

std::optional<PlayMode> PlayModeFromKey(std::string_view key) {
  const auto found = std::ranges::find(kKeys, key);
  if (found == kKeys.end()) {
    return std::nullopt;
  }
  return static_cast<PlayMode>(found - kKeys.begin());
}

ShuffleOrder::ShuffleOrder(std::uint32_t seed) : random_(seed) {}

void ShuffleOrder::Played(int row, int rowCount) {
  Follow(rowCount);
  std::erase(ahead_, row);
}

int ShuffleOrder::Next(int current, int rowCount) {
  Follow(rowCount);
  if (ahead_.empty()) {
    ahead_.resize(static_cast<std::size_t>(rowCount));
    std::iota(ahead_.begin(), ahead_.end(), 0);
    std::ranges::shuffle(ahead_, random_);
    if (ahead_.size() > 1 && ahead_.front() == current) {
      std::uniform_int_distribution<std::size_t> other(1, ahead_.size() - 1);
      std::swap(ahead_.front(), ahead_[other(random_)]);
    }
  }
  const int next = ahead_.front();
  ahead_.erase(ahead_.begin());
  return next;
}

void ShuffleOrder::Forget() {
  ahead_.clear();
  known_ = 0;
}

// Rows deleted from the end leave the order; rows added go in at random
// places among those still ahead.
void ShuffleOrder::Follow(int rowCount) {
  if (rowCount < known_) {
    std::erase_if(ahead_, [rowCount](int row) { return row >= rowCount; });
    known_ = rowCount;
  }
  for (; known_ < rowCount; ++known_) {
    std::uniform_int_distribution<std::size_t> place(0, ahead_.size());
    ahead_.insert(ahead_.begin() + static_cast<std::ptrdiff_t>(place(random_)), known_);
  }
}

std::optional<int> RowAfterEnd(PlayMode mode, int current, int rowCount, ShuffleOrder& shuffle) {
  if (rowCount <= 0) {
    return std::nullopt;
  }
  switch (mode) {
    case PlayMode::kSingle:
      return std::nullopt;
    case PlayMode::kSequential:
      return current + 1 < rowCount ? std::optional(current + 1) : std::nullopt;
    case PlayMode::kLoopList:
      return current + 1 < rowCount ? current + 1 : 0;
    case PlayMode::kLoopOne:
      return current;
    case PlayMode::kShuffle:
      return shuffle.Next(current, rowCount);
  }
  return std::nullopt;
}

}  // namespace melo::playback
