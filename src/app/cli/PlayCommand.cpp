// `melodrift play ADDRESS...`: the playback worker without a window, one
// song after another, with Space to pause on a terminal.

#include <CLI/CLI.hpp>

#include "app/cli/Commands.h"

#ifdef MELO_HAVE_PLAYBACK

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <stop_token>
#include <vector>

#include "app/cli/CliOutput.h"
#include "app/cli/TerminalKeys.h"
#include "core/text/Gbk.h"
#include "core/text/TerminalText.h"
#include "playback/GstMediaDevice.h"
#include "playback/PlayOrder.h"
#include "playback/PlaybackAddress.h"
#include "playback/PlaybackTimes.h"
#include "playback/PlaybackWorker.h"
#include "playback/VolumeScale.h"

namespace melo::cli {
namespace {

// Prints the state and "elapsed/total" whenever either changes: one line
// each, one JSON object each, or a single line redrawn on a terminal.
class ConsolePlaybackView final : public playback::PlaybackView {
 public:
  ConsolePlaybackView(std::ostream& out, bool json, bool live)
      : out_(out), json_(json), live_(live && !json) {}

  void ShowState(std::string_view text) override {
    std::lock_guard lock(mutex_);
    if (text != state_) {
      state_ = text;
      live_ ? Redraw() : PrintLine({{"state", state_}}, state_);
    }
  }
  void ShowTotal(std::string_view text) override {
    std::lock_guard lock(mutex_);
    total_ = text;
  }
  void ShowElapsed(std::string_view text) override {
    std::lock_guard lock(mutex_);
    if (!TotalKnownOrLongAwaited()) {
      return;
    }
    if (text != elapsed_) {
      elapsed_ = text;
      live_ ? Redraw()
            : PrintLine({{"elapsed", elapsed_}, {"total", total_.substr(total_.empty() ? 0 : 1)}},
                        elapsed_ + total_);
    }
  }
  void SetSlider(int) override {}
  void EnableStop(bool) override {}
  void EnableSlider(bool) override {}

  // Ends the live line.
  void Finish() {
    std::lock_guard lock(mutex_);
    if (live_ && !state_.empty()) {
      out_ << '\n' << std::flush;
    }
  }

 private:
  // The first time line waits a while for the total, so that a song that
  // has one is never shown as lasting 0:00.
  bool TotalKnownOrLongAwaited() {
    const auto now = std::chrono::steady_clock::now();
    if (!firstTime_) {
      firstTime_ = now;
    }
    return (!total_.empty() && total_ != playback::TotalText(0)) ||
           now - *firstTime_ >= std::chrono::seconds(1);
  }
  void PrintLine(const nlohmann::ordered_json& object, const std::string& text) {
    out_ << (json_ ? text::TerminalSafeJson(object.dump()) : text::TerminalSafe(text)) << '\n'
         << std::flush;
  }
  void Redraw() {
    out_ << "\r\x1b[K" << text::TerminalSafe(state_);
    if (!elapsed_.empty()) {
      out_ << "  " << text::TerminalSafe(elapsed_ + total_);
    }
    out_ << std::flush;
  }

  std::mutex mutex_;
  std::ostream& out_;
  const bool json_;
  const bool live_;
  std::string state_, total_, elapsed_;
  std::optional<std::chrono::steady_clock::time_point> firstTime_;
};

struct PlayChoices {
  std::vector<std::string> addresses;
  std::int64_t seekMs = 0;
  bool loop = false;
  bool shuffle = false;
  int volume = 100;  // on the window's volume control's scale
};

enum class SongOutcome { kPlayed, kFailed, kInterrupted };

SongOutcome PlaySong(const std::string& address, playback::PlaybackWords& words, bool json,
                     const InterruptStop& interrupt) {
  auto view = std::make_unique<ConsolePlaybackView>(std::cout, json, isatty(STDOUT_FILENO) == 1);
  ConsolePlaybackView& console = *view;
  // The window's song list holds the title in GBK: hand the device the same bytes.
  playback::PlaybackWorker worker(
      playback::UnquoteLink(text::Utf8ToGbk(address)), words, std::move(view),
      [](std::stop_token stop) { return playback::MakeGstMediaDevice(std::move(stop)); });
  const std::stop_callback onInterrupt(interrupt.Token(), [&worker] { worker.RequestStop(); });
  while (!worker.WaitForEnd(std::chrono::seconds(1))) {
  }
  console.Finish();

  switch (worker.Ending()) {
    case playback::WorkerEnding::kSongEnded:
      return SongOutcome::kPlayed;
    case playback::WorkerEnding::kOpenFailed:
      std::cerr << "melodrift: cannot play " << text::TerminalSafe(address) << ": "
                << text::TerminalSafe(worker.Failure()) << '\n';
      return SongOutcome::kFailed;
    case playback::WorkerEnding::kFailed:
      std::cerr << "melodrift: playback of " << text::TerminalSafe(address)
                << " broke off: " << text::TerminalSafe(worker.Failure()) << '\n';
      return SongOutcome::kFailed;
    default:
      return SongOutcome::kInterrupted;
  }
}

// The songs in the order the choices give, each once unless --loop; only
// the first starts at --seek-ms. A loop in which every song fails ends.
int Play(const PlayChoices& choices, bool json) {
  InterruptStop interrupt;
  playback::PlaybackWords words;
  words.seekTargetMs = choices.seekMs;
  words.volume = playback::LinearFromCubic(choices.volume / 100.0);
  const TerminalKeys keys([&words](char key) {
    if (key == ' ') {
      words.paused = !words.paused;
    }
  });

  const int count = static_cast<int>(choices.addresses.size());
  const playback::PlayMode mode = choices.shuffle ? playback::PlayMode::kShuffle
                                  : choices.loop  ? playback::PlayMode::kLoopList
                                                  : playback::PlayMode::kSequential;
  playback::ShuffleOrder shuffle;
  std::optional<int> row = choices.shuffle ? shuffle.Next(-1, count) : 0;
  int played = 0;
  int failures = 0;
  int failedInARow = 0;
  for (; row && failedInARow < count; ++played) {
    switch (PlaySong(choices.addresses[static_cast<std::size_t>(*row)], words, json, interrupt)) {
      case SongOutcome::kInterrupted:
        return kInterruptedExit;
      case SongOutcome::kFailed:
        ++failures;
        ++failedInARow;
        break;
      case SongOutcome::kPlayed:
        failedInARow = 0;
        break;
    }
    words.seekTargetMs = 0;
    words.paused = false;
    const bool roundDone = choices.shuffle && !choices.loop && played + 1 == count;
    row = roundDone ? std::nullopt : playback::RowAfterEnd(mode, *row, count, shuffle);
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace

void RegisterPlayCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand(
      "play", "Play MP3 addresses as `parse` prints them (quoted or not), one after another");
  auto choices = std::make_shared<PlayChoices>();
  command->add_option("ADDRESS", choices->addresses, "MP3 addresses")->required();
  command
      ->add_option("--seek-ms", choices->seekMs, "Start this many milliseconds into the first song")
      ->check(CLI::Validator(
          [](const std::string& value) {
            return value.starts_with('-') ? std::string("must not be negative") : std::string();
          },
          "MS"));
  command->add_flag("--loop", choices->loop, "Start again from the first song after the last");
  command->add_flag("--shuffle", choices->shuffle,
                    "Play the songs in random order, each once (each round with --loop)");
  command->add_option("--volume", choices->volume, "Volume, 0 to 100 as on a desktop mixer")
      ->check(CLI::Range(0, 100));
  command->callback([&context, choices] {
    // Without --site, the bundled site serves the demo's MP3 addresses.
    context.EnsureSite();
    context.exitCode = Play(*choices, context.json);
  });
}

}  // namespace melo::cli

#else

#include <iostream>

namespace melo::cli {

void RegisterPlayCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand("play", "Play an MP3 address (not in this build)");
  command->allow_extras();
  command->callback([&context] {
    std::cerr << "melodrift: this build has no playback\n";
    context.exitCode = 1;
  });
}

}  // namespace melo::cli

#endif
