#include "core/net/PageBuffer.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace melo::net {
namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;

// A large page text is written once from end to end: in 2 MiB pages the
// kernel faults it in a few hundred times less often. Only the whole huge
// pages inside the buffer are advised; the advice is a hint.
void AdviseHugePages(std::string& bytes) {
  if (bytes.capacity() < 2 * kHugePage)
    return;
  const auto start = reinterpret_cast<std::uintptr_t>(bytes.data());
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (start + bytes.capacity()) & ~(kHugePage - 1);
  if (last > first)
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace

void PageBuffer::Reserve(std::size_t bytes) {
  if (bytes <= bytes_.capacity())
    return;
  bytes_.reserve(bytes);
  AdviseHugePages(bytes_);
}

void PageBuffer::Append(std::string_view received) {
  // The gap the dropped line ends (or a cut text) left between the text and
  // the unread bytes is closed once it is at least as large as what would
  // move, so each byte moves a bounded number of times and the buffer stays
  // the size of the text and the bytes at hand.
  const std::size_t gap = unread_ - textEnd_;
  if (gap > 0 && gap >= UnreadBytes()) {
    std::memmove(bytes_.data() + textEnd_, bytes_.data() + unread_, UnreadBytes());
    bytes_.resize(textEnd_ + UnreadBytes());
    unread_ = textEnd_;
  }
  const std::size_t capacity = bytes_.capacity();
  bytes_.append(received);
  if (bytes_.capacity() != capacity)
    AdviseHugePages(bytes_);
}

bool PageBuffer::TakeLine() {
  char* const base = bytes_.data();
  const std::size_t end = bytes_.size();
  const void* feed = std::memchr(base + unread_, '\n', end - unread_);
  const std::size_t lineEnd =
      feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - base) : end;
  std::size_t from = unread_;
  while (from < lineEnd) {
    const void* cr = std::memchr(base + from, '\r', lineEnd - from);
    const std::size_t stop =
        cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - base) : lineEnd;
    if (textEnd_ != from)
      std::memmove(base + textEnd_, base + from, stop - from);
    textEnd_ += stop - from;
    from = cr ? stop + 1 : stop;
  }
  unread_ = feed ? lineEnd + 1 : lineEnd;
  return feed != nullptr;
}

void PageBuffer::TruncateText(std::size_t bytes) {
  textEnd_ = std::min(bytes, textEnd_);
}

std::string PageBuffer::ReleaseText() {
  bytes_.resize(textEnd_);
  std::string text = std::move(bytes_);
  bytes_.clear();
  textEnd_ = 0;
  unread_ = 0;
  return text;
}

}  // namespace melo::net
