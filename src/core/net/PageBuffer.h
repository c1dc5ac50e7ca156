#pragma once
// A page as it arrives, in one buffer: the page text joined so far at its
// front, the lines received and not yet taken behind it. The reader's line
// rule (carriage returns dropped wherever they stand, a line feed ends a line
// and is not kept) is applied as the bytes are copied in from the network,
// while they are still in the cache, and where each line ends is noted: a
// page's lines are then taken all at once, and every search runs over views
// of the buffer. Apart from any transfer, so that the rule can be checked
// against any split of a body into reads.

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace melo::net {

class PageBuffer {
 public:
  // How received bytes are joined: with the widest vector instructions the
  // processor has, or with the plain code every processor runs (what the
  // tests compare the other against).
  enum class Join { kFastest, kPlain };
  explicit PageBuffer(Join join = Join::kFastest);

  // Room for this many received bytes in all (a page's announced length).
  void Reserve(std::size_t bytes);
  // Bytes received from the network.
  void Append(std::string_view received);
  // Received bytes not yet taken, carriage returns and line feeds included.
  std::size_t UnreadBytes() const { return received_ - taken_; }

  // Takes the unread bytes up to the first line feed into the text (all of
  // them when there is none). Returns whether a line feed ended the line.
  bool TakeLine();

  struct Taken {
    // Where in the text each line a line feed ended ends, in order; valid
    // until the next Append.
    std::span<const std::size_t> lineEnds;
    // Bytes after the last of those line feeds (or, with none, any bytes at
    // all) were taken: the take ends inside a line.
    bool insideLine = false;
  };
  // Takes every unread byte into the text.
  Taken TakeAll();

  std::string_view Text() const { return std::string_view(bytes_.get(), textEnd_); }
  // Cuts the text back to its first `bytes` bytes; the unread lines stay.
  void TruncateText(std::size_t bytes);
  // The text, copied out; the buffer is empty afterwards.
  std::string ReleaseText();

 private:
  // Room for `bytes` in all, and the wide join's block to spare behind them.
  void Grow(std::size_t bytes);
  void CloseGap();
  // Copies `received` to the end of bytes_ by the line rule, noting line ends.
  void JoinPlain(std::string_view received);
  void JoinWide(std::string_view received);
  void NoteLineEnd(std::size_t at, std::size_t receivedUpTo);
  // Drops the notes of lines already taken.
  void ForgetTakenLines();

  // [0, textEnd_) the text, [textEnd_, unread_) a gap a cut left,
  // [unread_, size_) the unread lines, already joined. Not a string: the
  // joins write to the room behind size_ before they count it in, which a
  // string's resize would first fill with zeros.
  std::unique_ptr<char[]> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::size_t textEnd_ = 0;
  std::size_t unread_ = 0;
  // For every line feed received and not forgotten: where its line ends in
  // bytes_, and received_ up to and with it. Unread from nextLine_ on.
  std::vector<std::size_t> lineEnds_;
  std::vector<std::size_t> lineEndsReceived_;
  std::size_t nextLine_ = 0;
  std::size_t received_ = 0;  // bytes appended in all
  std::size_t taken_ = 0;     // of them, taken into the text
  bool wide_ = false;
};

}  // namespace melo::net
