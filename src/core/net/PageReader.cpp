#include "core/net/PageReader.h"

#include <algorithm>
#include <limits>
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

PageReader::~PageReader() {
  Close();
}

void PageReader::Open(const std::string& address) {
  Close();
  httpStatus_ = 0;
  buffer_ = PageBuffer();
  lineStart_ = 0;
  lineOpen_ = false;
  const std::string requestAddress = EncodeRequestAddress(address);
  CheckRequestAddress(requestAddress);
  auto transfer = std::make_unique<Transfer>(requestAddress, timeouts_, stop_, buffer_);
  transfer->AwaitReplyStart();
  httpStatus_ = transfer->HttpStatus();
  transfer_ = std::move(transfer);
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
  while (JoinArrived(kMaxPageBytes, nullptr)) {
  }
  return buffer_.ReleaseText();
}

std::optional<std::string_view> PageReader::ReadToLineWith(std::string_view marker) {
  JoinLine(std::numeric_limits<std::size_t>::max());
  DropText();
  std::vector<std::size_t> lineEnds;
  for (std::size_t from = 0;;) {
    lineEnds.clear();
    // Uncapped here: what counts is the text up to the line found.
    const bool more = JoinArrived(std::numeric_limits<std::size_t>::max(), &lineEnds);
    std::optional<std::string_view> line = FindLineWith(marker, from, lineEnds);
    if (!line && !more && lineOpen_) {
      // The last line, without a line feed.
      lineEnds.push_back(buffer_.Text().size());
      line = FindLineWith(marker, from, lineEnds);
    }
    const std::size_t textEnd = line ? line->data() + line->size() - buffer_.Text().data()
                                     : (lineEnds.empty() ? from : lineEnds.back());
    if (textEnd > kMaxPageBytes) {
      Close();
      ThrowTooLong("Page", kMaxPageBytes);
    }
    if (line) {
      Close();
      buffer_.TruncateText(textEnd);
      return line;
    }
    if (!more)
      return std::nullopt;
    from = textEnd;
  }
}

std::optional<std::string_view> PageReader::FindLineWith(
    std::string_view marker, std::size_t from, const std::vector<std::size_t>& lineEnds) const {
  const std::string_view text = buffer_.Text();
  const std::size_t end = lineEnds.empty() ? from : lineEnds.back();
  // One search over all the lines finds the few that hold the marker's bytes
  // at all; the text rule then decides on that line alone.
  for (std::size_t at = from; at < end;) {
    const std::size_t hit = text::FindBytes(text.substr(at, end - at), marker);
    if (hit == std::string_view::npos)
      return std::nullopt;
    const std::size_t hitAt = at + hit;
    const auto lineEnd = std::upper_bound(lineEnds.begin(), lineEnds.end(), hitAt);
    const std::size_t lineStart = lineEnd == lineEnds.begin() ? from : *(lineEnd - 1);
    const std::string_view line = text.substr(lineStart, *lineEnd - lineStart);
    if (text::Contains(line, marker))
      return line;
    at = *lineEnd;
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
      NoteTaken(ended, pageCap, nullptr);
      if (ended)
        return true;
    }
  } catch (...) {
    Close();
    lineOpen_ = false;
    throw;
  }
}

bool PageReader::JoinArrived(std::size_t pageCap, std::vector<std::size_t>* lineEnds) {
  try {
    if (!AwaitBytes())
      return false;
    while (buffer_.UnreadBytes() > 0)
      NoteTaken(buffer_.TakeLine(), pageCap, lineEnds);
    return true;
  } catch (...) {
    Close();
    lineOpen_ = false;
    throw;
  }
}

void PageReader::NoteTaken(bool ended, std::size_t pageCap, std::vector<std::size_t>* lineEnds) {
  const std::size_t textBytes = buffer_.Text().size();
  if (textBytes - lineStart_ > kMaxLineBytes)
    ThrowTooLong("Line", kMaxLineBytes);
  if (textBytes > pageCap)
    ThrowTooLong("Page", kMaxPageBytes);
  lineOpen_ = !ended;
  if (ended) {
    lineStart_ = textBytes;
    if (lineEnds)
      lineEnds->push_back(textBytes);
  }
}

void PageReader::DropText() {
  buffer_.TruncateText(0);
  lineStart_ = 0;
}

void PageReader::Close() noexcept {
  transfer_.reset();
}

}  // namespace melo::net
