// `melodrift play ADDRESS`: the playback worker without a window.

#include <CLI/CLI.hpp>

#include "app/cli/Commands.h"

#ifdef MELO_HAVE_PLAYBACK

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stop_token>

#include "app/cli/CliOutput.h"
#include "core/text/Gbk.h"
#include "core/text/TerminalText.h"
#include "playback/GstMediaDevice.h"
#include "playback/PlaybackAddress.h"
#include "playback/PlaybackWorker.h"

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
};

int Play(const std::string& address, std::int64_t seekMs, bool json) {
  InterruptStop interrupt;
  playback::PlaybackWords words;
  words.seekTargetMs = seekMs;
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
      return 0;
    case playback::WorkerEnding::kOpenFailed:
      std::cerr << "melodrift: cannot play " << text::TerminalSafe(address) << ": "
                << text::TerminalSafe(worker.Failure()) << '\n';
      return 1;
    case playback::WorkerEnding::kFailed:
      std::cerr << "melodrift: playback of " << text::TerminalSafe(address)
                << " broke off: " << text::TerminalSafe(worker.Failure()) << '\n';
      return 1;
    default:
      return kInterruptedExit;
  }
}

}  // namespace

void RegisterPlayCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand(
      "play", "Play an MP3 address as `parse` prints it (quoted or not) to its end");
  auto address = std::make_shared<std::string>();
  auto seekMs = std::make_shared<std::int64_t>(0);
  command->add_option("ADDRESS", *address, "MP3 address")->required();
  command->add_option("--seek-ms", *seekMs, "Start this many milliseconds into the song")
      ->check(CLI::Validator(
          [](const std::string& value) {
            return value.starts_with('-') ? std::string("must not be negative") : std::string();
          },
          "MS"));
  command->callback([&context, address, seekMs] {
    // Without --site, the bundled site serves the demo's MP3 addresses.
    context.EnsureSite();
    context.exitCode = Play(*address, *seekMs, context.json);
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
