#pragma once
// Single key presses on the terminal the program runs in, without Enter and
// without echo, for as long as the object lives. Does nothing when standard
// input is not a terminal or the program runs in the background.

#include <termios.h>

#include <functional>
#include <optional>
#include <thread>

namespace melo::cli {

class TerminalKeys {
 public:
  // `onKey` runs on a thread of its own.
  explicit TerminalKeys(std::function<void(char)> onKey);
  // Gives the terminal back as it was.
  ~TerminalKeys();
  TerminalKeys(const TerminalKeys&) = delete;
  TerminalKeys& operator=(const TerminalKeys&) = delete;

 private:
  std::optional<termios> saved_;
  std::jthread reader_;  // last: stopped before the terminal is given back
};

}  // namespace melo::cli
