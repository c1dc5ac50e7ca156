#pragma once
// A page as it arrives, in one buffer: the page text joined so far at its
// front, the bytes received and not yet taken behind it. The reader's line
// rule joins lines in place (carriage returns dropped wherever they stand, a
// line feed ends a line and is not kept), so a page is copied once, from
// the network into this buffer, and every search runs over views of it.
// Apart from any transfer, so that the rule can be checked against any split
// of a body into reads.

#include <cstddef>
#include <string>
#include <string_view>

namespace melo::net {

class PageBuffer {
 public:
  // Room for this many received bytes in all (a page's announced length).
  void Reserve(std::size_t bytes);
  // Bytes received from the network.
  void Append(std::string_view received);
  std::size_t UnreadBytes() const { return bytes_.size() - unread_; }

  // Takes the unread bytes up to the first line feed into the text (all of
  // them when there is none). Returns whether a line feed ended the line.
  bool TakeLine();

  std::string_view Text() const { return std::string_view(bytes_).substr(0, textEnd_); }
  // Cuts the text back to its first `bytes` bytes; the unread bytes stay.
  void TruncateText(std::size_t bytes);
  // The text, moved out; the buffer is empty afterwards.
  std::string ReleaseText();

 private:
  std::string bytes_;
  std::size_t textEnd_ = 0;
  std::size_t unread_ = 0;  // textEnd_ <= unread_ <= bytes_.size()
};

}  // namespace melo::net
