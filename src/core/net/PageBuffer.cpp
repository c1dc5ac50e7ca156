#include "core/net/PageBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace melo::net {
namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
// What the allocator adds to a request: the string's terminating zero and
// malloc's own chunk header, with room to spare.
constexpr std::size_t kAllocationOverhead = 64;

// A large page text is written once from end to end: in 2 MiB pages the
// kernel faults it in a few hundred times less often. The advice covers the
// buffer's own small pages, so that a buffer on a huge page boundary (see
// RoundedCapacity) is taken whole; it is a hint.
void AdviseHugePages(std::string& bytes) {
  if (bytes.capacity() < 2 * kHugePage)
    return;
  const auto pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(bytes.data());
  const std::uintptr_t first = start & ~(pageSize - 1);
  const std::uintptr_t last = (start + bytes.capacity() + pageSize - 1) & ~(pageSize - 1);
  madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

// A capacity of at least `bytes`. A large one is made a whole number of huge
// pages with the allocator's overhead: the kernel places a mapping of that
// size on a huge page boundary, so that the whole page text, not just its
// middle, can be faulted in 2 MiB at a time.
std::size_t RoundedCapacity(std::size_t bytes) {
  if (bytes < 2 * kHugePage)
    return bytes;
  const std::size_t pages = (bytes + kAllocationOverhead + kHugePage - 1) / kHugePage;
  return pages * kHugePage - kAllocationOverhead;
}

}  // namespace

void PageBuffer::Reserve(std::size_t bytes) {
  if (bytes <= bytes_.capacity())
    return;
  bytes_.reserve(RoundedCapacity(bytes));
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
  if (bytes_.size() + received.size() > bytes_.capacity())
    Reserve(std::max(2 * bytes_.capacity(), bytes_.size() + received.size()));
  bytes_.append(received);
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
