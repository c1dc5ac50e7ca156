#include "core/net/PageReader.h"

#include <algorithm>
#include <limits>
#include <span>
#include <utility>

#include "core/net/RequestAddress.h"
#include "core/net/Transfer.h"
#include "core/text/TextRules.h"

namespace melo::net {

namespace {

[[noreturn]] void ThrowTooLong(const char* what, std::size_t cap) {
  throw InternetError(std::string(what) + " longer than " + std::to_string(cap >> 20) + " MiB");
}

}  // namespace

PageReader::PageReader(std::stop_token stop, ReaderTimeouts timeouts)
    : stop_(std::move(stop)), timeouts_(timeouts) {}

PageReader::PageReader(ReaderGroup& group, std::stop_token stop, ReaderTimeouts timeouts)
    : group_(group.members_.get()), stop_(std::move(stop)), timeouts_(timeouts) {}

PageReader::~PageReader() {
  Close();
}

void PageReader::Open(const std::string& address) {
  Start(address);
  AwaitReply();
}

void PageReader::Start(const std::string& address) {
  Close();
  httpStatus_ = 0;
  buffer_ = PageBuffer();
  lineStart_ = 0;
  lineOpen_ = false;
  const std::string requestAddress = EncodeRequestAddress(address);
  CheckRequestAddress(requestAddress);
  transfer_ = std::make_unique<Transfer>(requestAddress, timeouts_, stop_, buffer_, group_);
}

void PageReader::AwaitReply() {
  if (!transfer_)
    throw InternetError("no page opened");
  try {
    transfer_->AwaitReplyStart();
  } catch (...) {
    Close();
    throw;
  }
  httpStatus_ = transfer_->HttpStatus();
}

bool PageReader::ReadLine(std::string& line) {
  DropText();
  const bool read = JoinLine(std::numeric_limits<std::size_t>::max());
  line.assign(buffer_.Text());
  return read;
}

std::string PageReader::ReadToEnd(bool keepFirstLine) {
  JoinLine(kMaxPageBytes);
  if (!keepFirstLine)
    DropText();
  while (TakeArrived(kMaxPageBytes)) {
  }
  return buffer_.ReleaseText();
}

std::optional<std::string_view> PageReader::ReadToLineWith(std::string_view marker) {
  JoinLine(std::numeric_limits<std::size_t>::max());
  DropText();
  for (std::size_t from = 0;;) {
    // Uncapped here: what counts is the text up to the line found.
    const std::optional<PageBuffer::Taken> taken =
        TakeArrived(std::numeric_limits<std::size_t>::max());
    std::span<const std::size_t> lineEnds =
        taken ? taken->lineEnds : std::span<const std::size_t>();
    std::size_t textEnd = lineEnds.empty() ? from : lineEnds.back();
    std::optional<std::string_view> line = FindLineWith(marker, from, lineEnds, textEnd);
    if (!line && !taken && lineOpen_) {
      // The last line, without a line feed.
      textEnd = buffer_.Text().size();
      line = FindLineWith(marker, from, lineEnds, textEnd);
    }
    if (line)
      textEnd = static_cast<std::size_t>(line->data() + line->size() - buffer_.Text().data());
    if (textEnd > kMaxPageBytes) {
      Close();
      ThrowTooLong("Page", kMaxPageBytes);
    }
    if (line) {
      Close();
      buffer_.TruncateText(textEnd);
      return line;
    }
    if (!taken)
      return std::nullopt;
    from = textEnd;
  }
}

std::optional<std::string_view> PageReader::FindLineWith(std::string_view marker, std::size_t from,
                                                         std::span<const std::size_t> lineEnds,
                                                         std::size_t end) const {
  const std::string_view text = buffer_.Text();
  // One search over all the lines finds the few that hold the marker's bytes
  // at all; the text rule then decides on that line alone.
  for (std::size_t at = from; at < end;) {
    const std::size_t hit = text::FindBytes(text.substr(at, end - at), marker);
    if (hit == std::string_view::npos)
      return std::nullopt;
    const std::size_t hitAt = at + hit;
    const auto next = std::upper_bound(lineEnds.begin(), lineEnds.end(), hitAt);
    const std::size_t lineStart = next == lineEnds.begin() ? from : *(next - 1);
    const std::size_t lineEnd = next == lineEnds.end() ? end : *next;
    const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
    if (text::Contains(line, marker))
      return line;
    at = lineEnd;
  }
  return std::nullopt;
}

bool PageReader::AwaitBytes() {
  if (!transfer_)
    return false;
  if (stop_.stop_requested())
    throw TransferStopped();
  if (buffer_.UnreadBytes() > 0 || transfer_->AwaitBody())
    return true;
  // The body is complete: hand the connection back for the next page now.
  Close();
  return false;
}

bool PageReader::JoinLine(std::size_t pageCap) {
  try {
    for (;;) {
      if (!AwaitBytes()) {
        const bool tookAny = lineOpen_;
        lineOpen_ = false;
        return tookAny;
      }
      const bool ended = buffer_.TakeLine();
      NoteTaken(ended, pageCap);
      if (ended)
        return true;
    }
  } catch (...) {
    Close();
    lineOpen_ = false;
    throw;
  }
}

std::optional<PageBuffer::Taken> PageReader::TakeArrived(std::size_t pageCap) {
  try {
    if (!AwaitBytes())
      return std::nullopt;
    const PageBuffer::Taken taken = buffer_.TakeAll();
    for (const std::size_t lineEnd : taken.lineEnds) {
      CheckLineLength(lineEnd);
      lineStart_ = lineEnd;
    }
    CheckLineLength(buffer_.Text().size());
    if (buffer_.Text().size() > pageCap)
      ThrowTooLong("Page", kMaxPageBytes);
    lineOpen_ = taken.insideLine || (taken.lineEnds.empty() && lineOpen_);
    return taken;
  } catch (...) {
    Close();
    lineOpen_ = false;
    throw;
  }
}

void PageReader::NoteTaken(bool ended, std::size_t pageCap) {
  const std::size_t textBytes = buffer_.Text().size();
  CheckLineLength(textBytes);
  if (textBytes > pageCap)
    ThrowTooLong("Page", kMaxPageBytes);
  lineOpen_ = !ended;
  if (ended)
    lineStart_ = textBytes;
}

void PageReader::CheckLineLength(std::size_t lineEnd) const {
  if (lineEnd - lineStart_ > kMaxLineBytes)
    ThrowTooLong("Line", kMaxLineBytes);
}

void PageReader::DropText() {
  buffer_.TruncateText(0);
  lineStart_ = 0;
}

void PageReader::Close() noexcept {
  transfer_.reset();
}

}  // namespace melo::net
