#pragma once
// What plays when a song ends by itself: the play modes, the words they are
// stored under, and the shuffled order that plays every row once before any
// row plays again.

#include <cstdint>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

namespace melo::playback {

enum class PlayMode { kSingle, kSequential, kLoopList, kLoopOne, kShuffle };

inline constexpr PlayMode kPlayModes[] = {PlayMode::kSingle, PlayMode::kSequential,
                                          PlayMode::kLoopList, PlayMode::kLoopOne,
                                          PlayMode::kShuffle};

// "single", "sequential", "loopList", "loopOne", "shuffle": the settings file's words.
std::string_view PlayModeKey(PlayMode mode);
std::optional<PlayMode> PlayModeFromKey(std::string_view key);

// Rows in an order of their own, each once per round. Rows added meanwhile
// join the rows still ahead at random places; the order already drawn stays.
class ShuffleOrder {
 public:
  explicit ShuffleOrder(std::uint32_t seed = std::random_device{}());

  // The row started by the user or by the order: it is not drawn again
  // in this round.
  void Played(int row, int rowCount);
  // The row after `current`; a new round starts when every row has played,
  // never with the row that has just played when there are others.
  int Next(int current, int rowCount);
  // The list was cleared: nothing has played.
  void Forget();

 private:
  void Follow(int rowCount);

  std::vector<int> ahead_;  // the rows still to play in this round, in order
  int known_ = 0;           // the rows the order has placed
  std::mt19937 random_;
};

// The row to play after `current` ended by itself in `mode`, for a list of
// `rowCount` rows; empty when playback ends there. In kSingle nothing
// follows; kLoopOne plays `current` again.
std::optional<int> RowAfterEnd(PlayMode mode, int current, int rowCount, ShuffleOrder& shuffle);

}  // namespace melo::playback
