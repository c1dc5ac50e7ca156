#include "app/cli/TerminalKeys.h"

#include <poll.h>
#include <unistd.h>

#include <utility>

namespace melo::cli {
namespace {

// How often the reader looks at its stop token.
constexpr int kPollMs = 100;

}  // namespace

TerminalKeys::TerminalKeys(std::function<void(char)> onKey) {
  // A background job that changed the terminal would be stopped by SIGTTOU.
  termios current{};
  if (isatty(STDIN_FILENO) != 1 || tcgetpgrp(STDIN_FILENO) != getpgrp() ||
      tcgetattr(STDIN_FILENO, &current) != 0) {
    return;
  }
  saved_ = current;
  current.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);  // Ctrl-C still interrupts
  current.c_cc[VMIN] = 1;
  current.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &current) != 0) {
    saved_.reset();
    return;
  }
  reader_ = std::jthread([onKey = std::move(onKey)](std::stop_token stop) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    while (!stop.stop_requested()) {
      if (poll(&input, 1, kPollMs) <= 0) {
        continue;
      }
      char key = 0;
      if (read(STDIN_FILENO, &key, 1) != 1) {
        return;  // the terminal has gone
      }
      onKey(key);
    }
  });
}

TerminalKeys::~TerminalKeys() {
  if (reader_.joinable()) {
    reader_.request_stop();
    reader_.join();
  }
  if (saved_) {
    tcsetattr(STDIN_FILENO, TCSANOW, &*saved_);
  }
}

}  // namespace melo::cli
