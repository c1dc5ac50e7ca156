#include "core/net/PageBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "core/text/ProcessorVectors.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace melo::net {
namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
// What the allocator adds to a request: malloc's own chunk header, with room
// to spare.
constexpr std::size_t kAllocationOverhead = 64;
// The wide join stores whole 64-byte blocks, of which it keeps only some.
constexpr std::size_t kWideBlock = 64;

// A large page text is written once from end to end: in 2 MiB pages the
// kernel faults it in a few hundred times less often. The advice covers the
// buffer's own small pages, so that a buffer on a huge page boundary (see
// RoundedCapacity) is taken whole; it is a hint.
void AdviseHugePages(char* data, std::size_t capacity) {
  if (capacity < 2 * kHugePage)
    return;
  const auto pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = start & ~(pageSize - 1);
  const std::uintptr_t last = (start + capacity + pageSize - 1) & ~(pageSize - 1);
  madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  // The allocator has already written its header in front of the buffer, so
  // the buffer's first 2 MiB stay small pages: fault them in with one call
  // rather than one fault each as the page arrives.
  const std::uintptr_t firstHuge = (start + kHugePage - 1) & ~(kHugePage - 1);
  madvise(reinterpret_cast<void*>(first), std::min(firstHuge, last) - first, MADV_POPULATE_WRITE);
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

PageBuffer::PageBuffer(Join join)
    : wide_(join == Join::kFastest && text::Vectors().avx512Compress) {}

void PageBuffer::Reserve(std::size_t bytes) {
  if (bytes + kWideBlock > capacity_)
    Grow(bytes);
}

void PageBuffer::Grow(std::size_t bytes) {
  const std::size_t capacity = RoundedCapacity(bytes + kWideBlock);
  auto grown = std::make_unique_for_overwrite<char[]>(capacity);
  AdviseHugePages(grown.get(), capacity);
  if (size_ > 0)
    std::memcpy(grown.get(), bytes_.get(), size_);
  bytes_ = std::move(grown);
  capacity_ = capacity;
}

void PageBuffer::Append(std::string_view received) {
  ForgetTakenLines();
  // The gap the dropped line ends (or a cut text) left between the text and
  // the unread lines is closed once it is at least as large as what would
  // move, so each byte moves a bounded number of times and the buffer stays
  // the size of the text and the lines at hand.
  const std::size_t gap = unread_ - textEnd_;
  if (gap > 0 && gap >= size_ - unread_)
    CloseGap();
  if (size_ + received.size() + kWideBlock > capacity_)
    Grow(std::max(2 * capacity_, size_ + received.size()));
  if (wide_)
    JoinWide(received);
  else
    JoinPlain(received);
  received_ += received.size();
}

void PageBuffer::JoinPlain(std::string_view received) {
  const char* const in = received.data();
  const std::size_t size = received.size();
  for (std::size_t from = 0; from < size;) {
    const void* feed = std::memchr(in + from, '\n', size - from);
    const std::size_t lineEnd =
        feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - in) : size;
    while (from < lineEnd) {
      const void* cr = std::memchr(in + from, '\r', lineEnd - from);
      const std::size_t stop =
          cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - in) : lineEnd;
      std::memcpy(bytes_.get() + size_, in + from, stop - from);
      size_ += stop - from;
      from = cr ? stop + 1 : stop;
    }
    if (feed) {
      NoteLineEnd(size_, received_ + lineEnd + 1);
      from = lineEnd + 1;
    }
  }
}

#if defined(__x86_64__)
// 64 bytes at a time: the line bytes found by two compares, the others
// packed together by one instruction and stored straight behind the bytes
// kept so far. Only the last block is loaded with a mask; every block is
// stored whole, into the block the buffer keeps to spare, and the next one
// overwrites what lies past the kept bytes.
__attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi2,popcnt"))) void PageBuffer::JoinWide(
    std::string_view received) {
  const __m512i returns = _mm512_set1_epi8('\r');
  const __m512i feeds = _mm512_set1_epi8('\n');
  const char* const in = received.data();
  const std::size_t size = received.size();
  char* const out = bytes_.get();
  for (std::size_t at = 0; at < size; at += kWideBlock) {
    __m512i bytes;
    __mmask64 valid = ~__mmask64{0};
    if (size - at >= kWideBlock) {
      bytes = _mm512_loadu_si512(in + at);
    } else {
      // bzhi reads only the low byte of its count.
      valid = _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(size - at));
      bytes = _mm512_maskz_loadu_epi8(valid, in + at);
    }
    const __mmask64 ends = _mm512_mask_cmpeq_epi8_mask(valid, bytes, feeds);
    const __mmask64 keep = valid & ~ends & ~_mm512_cmpeq_epi8_mask(bytes, returns);
    for (__mmask64 end = ends; end != 0; end &= end - 1) {
      const auto lane = static_cast<unsigned>(__builtin_ctzll(end));
      const auto before = static_cast<std::size_t>(__builtin_popcountll(_bzhi_u64(keep, lane)));
      NoteLineEnd(size_ + before, received_ + at + lane + 1);
    }
    _mm512_storeu_si512(out + size_, _mm512_maskz_compress_epi8(keep, bytes));
    size_ += static_cast<std::size_t>(__builtin_popcountll(keep));
  }
}
#else
void PageBuffer::JoinWide(std::string_view received) {
  JoinPlain(received);
}
#endif

void PageBuffer::NoteLineEnd(std::size_t at, std::size_t receivedUpTo) {
  lineEnds_.push_back(at);
  lineEndsReceived_.push_back(receivedUpTo);
}

void PageBuffer::ForgetTakenLines() {
  if (nextLine_ == 0)
    return;
  const auto taken = static_cast<std::ptrdiff_t>(nextLine_);
  lineEnds_.erase(lineEnds_.begin(), lineEnds_.begin() + taken);
  lineEndsReceived_.erase(lineEndsReceived_.begin(), lineEndsReceived_.begin() + taken);
  nextLine_ = 0;
}

void PageBuffer::CloseGap() {
  const std::size_t gap = unread_ - textEnd_;
  std::memmove(bytes_.get() + textEnd_, bytes_.get() + unread_, size_ - unread_);
  size_ -= gap;
  unread_ = textEnd_;
  for (std::size_t line = nextLine_; line < lineEnds_.size(); ++line)
    lineEnds_[line] -= gap;
}

bool PageBuffer::TakeLine() {
  const bool ended = nextLine_ < lineEnds_.size();
  const std::size_t lineEnd = ended ? lineEnds_[nextLine_] : size_;
  if (textEnd_ != unread_)
    std::memmove(bytes_.get() + textEnd_, bytes_.get() + unread_, lineEnd - unread_);
  textEnd_ += lineEnd - unread_;
  unread_ = lineEnd;
  taken_ = ended ? lineEndsReceived_[nextLine_++] : received_;
  return ended;
}

PageBuffer::Taken PageBuffer::TakeAll() {
  if (unread_ != textEnd_)
    CloseGap();
  const std::size_t first = nextLine_;
  nextLine_ = lineEnds_.size();
  const std::size_t lastFeed = first < nextLine_ ? lineEndsReceived_.back() : taken_;
  Taken taken;
  taken.lineEnds = std::span<const std::size_t>(lineEnds_).subspan(first);
  taken.insideLine = received_ > lastFeed;
  textEnd_ = unread_ = size_;
  taken_ = received_;
  return taken;
}

void PageBuffer::TruncateText(std::size_t bytes) {
  textEnd_ = std::min(bytes, textEnd_);
}

std::string PageBuffer::ReleaseText() {
  std::string text(Text());
  bytes_.reset();
  size_ = capacity_ = 0;
  lineEnds_.clear();
  lineEndsReceived_.clear();
  textEnd_ = unread_ = nextLine_ = received_ = taken_ = 0;
  return text;
}

}  // namespace melo::net
