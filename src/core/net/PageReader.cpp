#include "core/net/PageReader.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "core/net/LineRule.h"
#include "core/net/RequestAddress.h"
#include "core/net/Transfer.h"

namespace melo::net {

std::size_t TakeLineBytes(std::string_view input, std::string& line, bool& ended) {
  const std::size_t feed = input.find('\n');
  ended = feed != std::string_view::npos;
  std::string_view bytes = input.substr(0, feed);
  for (std::size_t cr = bytes.find('\r'); cr != std::string_view::npos; cr = bytes.find('\r')) {
    line.append(bytes.substr(0, cr));
    bytes.remove_prefix(cr + 1);
  }
  line.append(bytes);
  return ended ? feed + 1 : input.size();
}

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
  const std::string requestAddress = EncodeRequestAddress(address);
  CheckRequestAddress(requestAddress);
  auto transfer = std::make_unique<Transfer>(requestAddress, timeouts_, stop_);
  transfer->AwaitReplyStart();
  httpStatus_ = transfer->HttpStatus();
  transfer_ = std::move(transfer);
}

bool PageReader::ReadLine(std::string& line) {
  line.clear();
  return AppendLine(line, std::numeric_limits<std::size_t>::max());
}

std::string PageReader::ReadToEnd(bool keepFirstLine) {
  std::string text;
  if (transfer_)
    text.reserve(std::min(transfer_->AnnouncedBodyBytes(), kMaxPageBytes));
  if (keepFirstLine) {
    AppendLine(text, kMaxPageBytes);
  } else {
    std::string dropped;
    ReadLine(dropped);
  }
  // Lines go straight into the page text: a page of many short lines would
  // otherwise be copied twice.
  while (AppendLine(text, kMaxPageBytes)) {
  }
  return text;
}

bool PageReader::AppendLine(std::string& out, std::size_t pageCap) {
  if (!transfer_)
    return false;
  const std::size_t lineStart = out.size();
  try {
    bool tookAny = false;
    for (;;) {
      if (stop_.stop_requested())
        throw TransferStopped();
      if (!transfer_->AwaitBody()) {
        // The body is complete: hand the connection back for the next page now.
        Close();
        return tookAny;
      }
      bool ended = false;
      transfer_->Consume(TakeLineBytes(transfer_->Pending(), out, ended));
      tookAny = true;
      if (out.size() - lineStart > kMaxLineBytes)
        ThrowTooLong("Line", kMaxLineBytes);
      if (out.size() > pageCap)
        ThrowTooLong("Page", kMaxPageBytes);
      if (ended)
        return true;
    }
  } catch (...) {
    Close();
    throw;
  }
}

void PageReader::Close() noexcept {
  transfer_.reset();
}

}  // namespace melo::net
