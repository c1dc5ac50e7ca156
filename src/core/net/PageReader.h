#pragma once
// The one way the program reads a web page: open an address, read its body
// line by line (carriage returns dropped, the line feed ends a line), close.
// Streamed: a line is handed out as soon as it has arrived, and a reader
// closed early never fetches the rest of the page.

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>

#include "core/net/PageBuffer.h"

namespace melo::net {

// Opening or reading a page failed; what() is the network layer's own text.
class InternetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The address was refused before any connection; what() says what is wrong
// with it.
class AddressRefused : public InternetError {
 public:
  using InternetError::InternetError;
};

// The reader's stop token was triggered; the transfer has been aborted.
class TransferStopped : public InternetError {
 public:
  TransferStopped() : InternetError("transfer stopped") {}
};

// A hostile or broken server must not exhaust memory: one line and one page
// text are capped; past the cap the read ends with an InternetError.
inline constexpr std::size_t kMaxLineBytes = std::size_t{32} << 20;
inline constexpr std::size_t kMaxPageBytes = std::size_t{32} << 20;

struct ReaderTimeouts {
  // A dead server must never hang a worker for ever.
  std::chrono::milliseconds connect{30'000};
  std::chrono::milliseconds stall{60'000};  // no byte received for this long
};

// The user agent every request carries: the program's name. Set once at
// start, before any reader exists.
void SetUserAgent(std::string_view agent);

// Loads libcurl and sets it up for the process, as the first reader would.
// Safe from any thread, at any time, any number of times.
void PrepareTransfers();

// Closes the connections this thread's finished reads keep for the next
// ones (they are closed anyway when the thread ends).
void CloseThreadConnections();

class PageReader;

// Readers of one thread whose pages come side by side, over one set of
// connections: while any of them waits for its page, the transfers of all
// of them go on, each into its own reader's buffer. One thread uses it, and
// it outlives its readers.
class ReaderGroup {
 public:
  ReaderGroup();
  ~ReaderGroup();
  ReaderGroup(const ReaderGroup&) = delete;
  ReaderGroup& operator=(const ReaderGroup&) = delete;

  struct Members;

 private:
  friend class PageReader;
  std::unique_ptr<Members> members_;
};

class PageReader {
 public:
  explicit PageReader(std::stop_token stop = {}, ReaderTimeouts timeouts = {});
  // A reader whose transfer goes on with those of `group`.
  PageReader(ReaderGroup& group, std::stop_token stop, ReaderTimeouts timeouts = {});
  ~PageReader();
  PageReader(const PageReader&) = delete;
  PageReader& operator=(const PageReader&) = delete;

  // Sends a plain GET (redirects followed) and
  // returns once the reply has started. Throws AddressRefused for what
  // AddressRefusal names, InternetError (with curl's message) for an
  // unresolved host, a refused connection, a time-out; nothing is left open
  // then. `address` is kept as given; the bytes that may not stand
  // in a request line are percent-encoded for the request only.
  void Open(const std::string& address);
  // Open in two steps: Start sends the request and returns at once (its
  // reply comes in while the reader's group waits for other pages), and
  // AwaitReply returns once it has started. Each throws what Open would.
  void Start(const std::string& address);
  void AwaitReply();

  // The HTTP status of the page Open reached (after redirects), 0 before
  // Open or when the server sent none. Callers decide what an error status
  // means; its body is read like any other.
  long HttpStatus() const { return httpStatus_; }

  // The next line in `line`: true, or false at end of data. Throws
  // InternetError when the transfer fails, a line passes kMaxLineBytes, or
  // TransferStopped when the stop token fires.
  bool ReadLine(std::string& line);

  // The whole rest of the page, lines joined with nothing in between. The
  // first line read starts the text or is dropped. Throws like ReadLine, and
  // InternetError past kMaxPageBytes.
  std::string ReadToEnd(bool keepFirstLine);

  // Drops the first line, then joins lines into the page text until one
  // that contains `marker` (text::Find over that line alone) has been
  // joined; nothing after that line is read. Returns that line, a view of
  // the end of Text(); nullopt at end of data. Throws like ReadToEnd.
  std::optional<std::string_view> ReadToLineWith(std::string_view marker);
  // The page text ReadToLineWith joined; valid until the next Open.
  std::string_view Text() const { return buffer_.Text(); }

  // Ends the transfer and gives its connection back to the shared cache.
  // Safe to call more than once; the destructor calls it.
  void Close() noexcept;

 private:
  friend class ReaderGroup;  // whose members are transfers
  struct Transfer;
  // Waits for more bytes; false at end of data.
  bool AwaitBytes();
  // Joins the next line to the text; false at end of data with no byte of
  // it taken.
  bool JoinLine(std::size_t pageCap);
  // Takes every line that has arrived, and what there is of the next one;
  // nullopt at end of data.
  std::optional<PageBuffer::Taken> TakeArrived(std::size_t pageCap);
  // Checks the caps after a take; `ended`: a line feed ended the line.
  void NoteTaken(bool ended, std::size_t pageCap);
  void CheckLineLength(std::size_t lineEnd) const;
  void DropText();
  // The first of the lines from `from` to `end` that holds `marker`; each
  // of `lineEnds` ends one of them, and the last one ends at `end`.
  std::optional<std::string_view> FindLineWith(std::string_view marker, std::size_t from,
                                               std::span<const std::size_t> lineEnds,
                                               std::size_t end) const;

  PageBuffer buffer_;          // outlives the transfer that fills it
  std::size_t lineStart_ = 0;  // where the line being joined starts in the text
  bool lineOpen_ = false;      // some of its bytes are taken
  std::unique_ptr<Transfer> transfer_;
  ReaderGroup::Members* group_ = nullptr;
  std::stop_token stop_;
  ReaderTimeouts timeouts_;
  long httpStatus_ = 0;
};

// What makes PageReader::Open refuse `address` before any connection (no
// scheme, a scheme other than http and https, no host, a bad port), in
// words for the user; empty when it would try the address.
std::string AddressRefusal(std::string_view address);

// `address` with every byte above 0x7F, space, control byte and the other
// bytes curl refuses in a URL percent-encoded; every other byte unchanged.
std::string EncodeRequestAddress(std::string_view address);

// What an address may hold when it leaves the program as a URI (to the
// desktop, to the media device): EncodeRequestAddress's bytes, the
// characters a URI may never hold (" < > \ ^ ` { | }) and a % that starts
// no escape are percent-encoded.
std::string EncodeUriAddress(std::string_view address);

// An MP3 address as a URI. The address is server part, media path and the
// song's title, plain text: a ?, # or % in it can only come from the title,
// so they are encoded too instead of starting a query, a fragment or an
// escape.
std::string EncodeMediaAddress(std::string_view address);

}  // namespace melo::net
