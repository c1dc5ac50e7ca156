// The page reader over a real connection: what goes out on the wire, what
// makes an open fail, which connection a reader gets, the line rule, the
// page text, the caps, and how a transfer ends early.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "Printers.h"
#include "core/net/PageReader.h"
#include "core/net/RawServer.h"

namespace melo::net {
namespace {

using ::testing::HasSubstr;
using testing::RawServer;
using ::testing::StartsWith;

// A request address encodes exactly the bytes curl refuses (blanks and GBK
// bytes on the wire: the proxy test below). Addresses leaving the program as
// URIs: a page keeps its query, escapes and fragment; an MP3 address's title
// is plain text throughout. That nothing a URI cannot hold gets through is
// the request address fuzz target's.
TEST(EncodeAddress, EncodesWhatTheReceiverCannotHold) {
  const std::string kept = "http://h/p?q=1&r=%41#f{}|\\^`\"<>~'";
  EXPECT_EQ(EncodeRequestAddress(std::string("http://h/\x7F\t\0x", 13)), "http://h/%7F%09%00x");
  EXPECT_EQ(EncodeRequestAddress(kept), kept);
  EXPECT_EQ(EncodeUriAddress("http://h/p?q=1&r=%41#f"), "http://h/p?q=1&r=%41#f");
  EXPECT_EQ(EncodeUriAddress("http://h/100%.mp3"), "http://h/100%25.mp3");
  EXPECT_EQ(EncodeMediaAddress("http://h/100%.mp3"), "http://h/100%25.mp3");
}

// The proxy gets the whole address, encoded, in a plain GET that names the
// program; the host itself is never looked up.
TEST(Open, SendsAnEncodedPlainGetThroughTheProxyOfTheEnvironment) {
  const RawServer proxy([](int socket, std::stop_token stop) {
    testing::SendAll(socket, testing::Reply(testing::ReadRequest(socket, stop)));
  });
  setenv("http_proxy", proxy.Address("").c_str(), 1);
  unsetenv("no_proxy");
  const std::string head = testing::ReadPage("http://site.invalid/\xB8\xE8 1.html?q=a b");
  unsetenv("http_proxy");
  EXPECT_THAT(head, StartsWith("GET http://site.invalid/%B8%E8%201.html?q=a%20b HTTP/1.1"));
  EXPECT_THAT(head, HasSubstr("User-Agent: melodriftdown"));
}

// Keeps the connection for request after request: "/old" moves to "/new",
// every other path gets an error status and a page naming the path.
void ServeNamedPages(int socket, std::stop_token stop) {
  for (std::string request; !(request = testing::ReadRequest(socket, stop)).empty();) {
    const std::string path = testing::RequestPath(request);
    testing::SendAll(
        socket, path == "/old"
                    ? testing::Reply("moved", "302 Found", "Location: /new\r\n")
                    : testing::Reply("head\r\nbody " + path + "\r\nend " + path, "404 Not Found"));
  }
}

// Refused before any connection, with what is wrong in words; AddressRefusal
// names the same without a reader (the CLI's usage errors).
TEST(Open, RefusesWhatIsNoWebAddressAndLeavesNothingOpen) {
  const RawServer server(ServeNamedPages);
  const std::string hostAndPort = server.Address("").substr(7);
  const std::pair<std::string, std::string> cases[] = {
      {hostAndPort + "/", "scheme"},
      {"notaurl", "scheme"},
      {"file:///etc/passwd", "\"file\""},
      {"ftp://" + hostAndPort + "/", "\"ftp\""},
      {"http://", "host"},
      {"http://h:99999/", "Port"},
  };
  for (const auto& [address, textPart] : cases) {
    SCOPED_TRACE(address);
    EXPECT_THAT(AddressRefusal(address), HasSubstr(textPart));
    PageReader reader;
    EXPECT_THAT([&] { reader.Open(address); },
                ::testing::ThrowsMessage<AddressRefused>(AddressRefusal(address)));
    std::string line;
    EXPECT_FALSE(reader.ReadLine(line));
  }
  EXPECT_EQ(AddressRefusal(server.Address("/")), "");
  EXPECT_EQ(AddressRefusal("HTTPS://h/歌 a"), "");
  EXPECT_EQ(server.connections(), 0) << "a refused address must not reach the server";
}

// The status is told, not acted on: an error page is read like any other, and
// redirects are followed. Finished reads hand their connection on to the next
// reader. That readers side by side each get their own page, on threads of
// their own or in a group on one, is the connection tests'.
TEST(Open, ReadsErrorPagesFollowsRedirectsAndSharesConnections) {
  const RawServer server(ServeNamedPages);
  for (const std::string path : {"/1", "/2"})
    EXPECT_EQ(testing::ReadPage(server.Address(path), false), "body " + path + "end " + path);
  EXPECT_EQ(testing::ReadPage(server.Address("/old"), false), "body /newend /new");
  EXPECT_EQ(server.connections(), 1);
  PageReader reader;
  EXPECT_EQ(reader.HttpStatus(), 0);
  reader.Open(server.Address("/old"));
  EXPECT_EQ(reader.HttpStatus(), 404);  // the page moved to, not the redirect
}

// `body` without a length, in one write or, trickled, one byte per packet.
RawServer::Handler SendingBody(const std::string& body, bool trickle) {
  return [&body, trickle](int socket, std::stop_token stop) {
    testing::ReadRequest(socket, stop);
    testing::SendAll(socket, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
    const int one = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    for (std::size_t at = 0; at < body.size(); at += trickle ? 1 : body.size()) {
      testing::SendAll(socket, body.substr(at, trickle ? 1 : body.size()));
      std::this_thread::sleep_for(std::chrono::milliseconds(trickle ? 2 : 0));
    }
  };
}

// Runs `check` on a reader opened on `body`, sent in one write and trickled.
void ForEachDelivery(const std::string& body, const std::function<void(PageReader&)>& check) {
  for (const bool trickle : {false, true}) {
    SCOPED_TRACE(::testing::PrintToString(body) + (trickle ? " trickled" : ""));
    const RawServer server(SendingBody(body, trickle));
    PageReader reader;
    reader.Open(server.Address());
    check(reader);
  }
}

// The line rule itself, on any bytes cut into reads anywhere, is the line
// rule fuzz target's; these rows check that the reader applies it over a
// connection, the body sent in one write or one byte per packet (so that CR
// and LF fall on every read boundary). An empty body and a last line without
// a line feed are the song page reader's rows (SongPageParserTest). ReadToEnd
// takes the same lines into one text: its joins, with and without the first
// line, are pinned by the proxy's echo and the named pages above.
TEST(ReadLine, FollowsTheLineRule) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"a\rb\nx\n\r", {"ab", "x", ""}},  // a CR dropped, a lone CR after the last LF a line
      {std::string("a\0b\x81\n\xFF\x80\r\n", 9), {std::string("a\0b\x81", 4), "\xFF\x80"}},
  };
  for (const auto& [body, lines] : cases) {
    ForEachDelivery(body, [&lines](PageReader& reader) {
      std::vector<std::string> read;
      for (std::string line; reader.ReadLine(line);)
        read.push_back(line);
      EXPECT_EQ(read, lines);
      std::string line;
      EXPECT_FALSE(reader.ReadLine(line)) << "end of data must stay the end";
    });
  }
}

// ReadToLineWith: the first line dropped, then the first line that holds the
// marker by the text rules over that line alone, and the joined text up to
// it; the body sent whole and one byte per packet, so that lines and
// markers fall across reads.
TEST(ReadToLineWith, StopsAtTheFirstLineThatHoldsTheMarker) {
  struct Case {
    std::string body;
    std::optional<std::string> line;  // nullopt: no such line
    std::string text;
  };
  const std::string kLead = "\x81";  // of a two-byte character
  const Case cases[] = {
      {"cache first\nab\r\nx ca\rche y\r\nmore cache\n", "x cache y", "abx cache y"},
      {"first\nca\nche\n", std::nullopt, "cache"},                  // not across a line end
      {"first\n" + kLead + "\ncache\n", "cache", kLead + "cache"},  // each line on its own
      {"first\n" + kLead + "cache\nz cache", "z cache", kLead + "cachez cache"},  // a lead byte's
      {"first\nno\nlast cache", "last cache", "nolast cache"},  // no final line feed
      {"", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    ForEachDelivery(c.body, [&c](PageReader& reader) {
      const std::optional<std::string_view> found = reader.ReadToLineWith("cache");
      EXPECT_EQ(found ? std::optional<std::string>(*found) : std::nullopt, c.line);
      EXPECT_EQ(reader.Text(), c.text);
    });
  }
}

// What a hostile or broken server does to a reader, and what the reader must
// make of it: the page text, or an InternetError naming the trouble. Every
// row is bounded: the caps, curl's own limits or a stop end it.
// How a row's read ends when nothing else ends it.
enum class End {
  kByItself,
  kStopOpening,  // a stop once the request is in
  kStopReading,  // a stop once the reply head is in
  kStopTrickle,  // a stop once the trickle has sent a few bytes
  kStall,        // a 200 ms stall time-out
};

struct HostileCase {
  const char* name;
  RawServer::Handler serve;
  const char* failure = nullptr;  // part of the error's text; nullptr: the page is read
  std::size_t textBytes = 0;      // the page text's size when read
  End end = End::kByItself;
  friend void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }
};

// What a server does after its reply.
enum class Then { kClose, kReset, kServeAgain, kHold };

// Answers the request with `reply`, then closes or resets the connection,
// answers the next request on it alike, or holds it open, silent, until the
// reader or the server goes.
RawServer::Handler Replying(std::string reply, Then then = Then::kClose) {
  return [reply = std::move(reply), then](int socket, std::stop_token stop) {
    while (!testing::ReadRequest(socket, stop).empty() && testing::SendAll(socket, reply) &&
           then == Then::kServeAgain) {
    }
    if (then == Then::kHold)
      testing::ReadRequest(socket, stop);
    if (then == Then::kReset) {
      const linger abort{1, 0};
      setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
  };
}

// One byte every two seconds (a few while the test waits for them), for as
// long as the connection lasts: no stall time-out ever sees it silent.
std::atomic<int> trickledBytes = 0;
void Trickle(int socket, std::stop_token stop) {
  testing::ReadRequest(socket, stop);
  bool open = testing::SendAll(socket, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
  for (int sent = 0; open && !stop.stop_requested(); ++sent) {
    open = testing::SendAll(socket, "t");
    trickledBytes = sent + 1;
    std::mutex mutex;
    std::condition_variable_any pause;
    std::unique_lock lock(mutex);
    pause.wait_for(lock, stop, std::chrono::milliseconds(sent < 3 ? 20 : 2000),
                   [] { return false; });
  }
}

// A 200 reply of `lines` lines of `lineBytes` filler bytes each, every one
// ended by a line feed when `feeds`; with `lines` 0 it never ends (and
// announces no length).
RawServer::Handler Filler(std::size_t lineBytes, std::size_t lines, bool feeds = true) {
  return [=](int socket, std::stop_token stop) {
    testing::ReadRequest(socket, stop);
    const std::string line = std::string(lineBytes, 'y') + (feeds ? "\n" : "");
    std::string head = "HTTP/1.1 200 OK\r\n";
    head += lines == 0 ? "Connection: close\r\n"
                       : "Content-Length: " + std::to_string(line.size() * lines) + "\r\n";
    bool open = testing::SendAll(socket, head + "\r\n");
    for (std::size_t i = 0; open && !stop.stop_requested() && (lines == 0 || i < lines); ++i)
      open = testing::SendAll(socket, line);
  };
}

constexpr std::size_t kMiB = std::size_t{1} << 20;

class HostileServerTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileServerTest, EndsBoundedWithThePageOrAnError) {
  const HostileCase& c = GetParam();
  const RawServer server(c.serve);
  std::stop_source stop;
  const ReaderTimeouts shortStall{.stall = std::chrono::milliseconds(200)};
  PageReader reader(stop.get_token(), c.end == End::kStall ? shortStall : ReaderTimeouts{});
  std::atomic<bool> opened = false;
  auto read = std::async(std::launch::async, [&] {
    reader.Open(server.Address());
    opened = true;
    return reader.ReadToEnd(true);
  });
  if (c.end != End::kByItself && c.end != End::kStall) {
    // Whether the open or the read waits, the stop must end it, and soon;
    // the bounds here only guard a hang (how soon is the stop bench's).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    const auto due = [&] {
      if (c.end == End::kStopTrickle)
        return trickledBytes >= 3;
      return c.end == End::kStopReading ? opened.load() : server.connections() > 0;
    };
    while (!due() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));  // polls the condition
    stop.request_stop();
    ASSERT_EQ(read.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_THROW(read.get(), TransferStopped);
    return;
  }
  try {
    EXPECT_EQ(read.get().size(), c.textBytes);
    EXPECT_EQ(c.failure, nullptr) << "read as a page";
  } catch (const InternetError& error) {
    ASSERT_NE(c.failure, nullptr) << error.what();
    EXPECT_THAT(error.what(), HasSubstr(c.failure));
  }
  std::string line;
  EXPECT_FALSE(reader.ReadLine(line)) << "a finished read leaves nothing open";
}

const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string kFirstLine = kOk + "\r\nfirst\n";
constexpr const char* kStalled = "no data received for 200";
const std::string kRedirect = "HTTP/1.1 302 Found\r\nContent-Length: 0\r\nLocation: ";
using enum Then;
using enum End;

const HostileCase kHostileCases[] = {
    {"line_at_the_cap", Filler(kMaxLineBytes, 1), nullptr, kMaxLineBytes},
    {"line_past_the_cap", Filler(kMaxLineBytes + 1, 1), "Line longer than 32 MiB"},
    {"line_that_never_ends", Filler(kMiB, 0, false), "Line longer than 32 MiB"},
    {"page_at_the_cap", Filler(kMiB, kMaxPageBytes / kMiB), nullptr, kMaxPageBytes},
    {"page_of_33_MiB", Filler(kMiB, 33), "Page longer than 32 MiB"},
    {"body_shorter_than_announced", Replying(kOk + "Content-Length: 100\r\n\r\nonly ten\n"), ""},
    {"reset_mid_body", Replying(kOk + "Content-Length: 1000\r\n\r\nten bytes\n", kReset), ""},
    {"reset_mid_body_without_length",
     Replying(kOk + "Connection: close\r\n\r\nten bytes\n", kReset), "reset"},
    {"redirect_to_file", Replying(kRedirect + "file:///etc/passwd\r\n\r\n", kServeAgain), "file"},
    {"redirect_to_ftp", Replying(kRedirect + "ftp://127.0.0.1/\r\n\r\n", kServeAgain), "ftp"},
    {"redirect_loop", Replying(kRedirect + "/\r\n\r\n", kServeAgain), "redirects"},
    {"header_of_1_MiB",
     Replying(kOk + "X-Filler: " + std::string(kMiB, 'h') + "\r\nContent-Length: 3\r\n\r\nok\n"),
     ""},  // curl's text: "Out of memory"
    {"empty_200", Replying(testing::Reply(""))},
    {"no_content_204", Replying("HTTP/1.1 204 No Content\r\n\r\n")},
    {"trickle_for_ever_stopped", Trickle, nullptr, 0, kStopTrickle},
    {"silent_server_stopped", Replying("", kHold), nullptr, 0, kStopOpening},
    {"silent_after_a_line_stopped", Replying(kFirstLine, kHold), nullptr, 0, kStopReading},
    {"silent_server_stalls", Replying("", kHold), kStalled, 0, kStall},
    {"silent_after_a_line_stalls", Replying(kFirstLine, kHold), kStalled, 0, kStall},
};
INSTANTIATE_TEST_SUITE_P(Rows, HostileServerTest, ::testing::ValuesIn(kHostileCases),
                         printing::CaseName());

// The song page parser stops at the media line; the rest of a page must stay
// with the server rather than be downloaded into a reader nobody reads.
TEST(Transfer, EarlyCloseLeavesTheRestUnsent) {
  constexpr std::size_t kBodyBytes = std::size_t{64} << 20;
  std::promise<std::size_t> sentBytes;
  const RawServer server([&](int socket, std::stop_token stop) {
    testing::ReadRequest(socket, stop);
    const std::string chunk(64 * 1024, 'x');
    std::size_t sent = 6;
    bool open = testing::SendAll(socket, "HTTP/1.1 200 OK\r\nContent-Length: " +
                                             std::to_string(kBodyBytes) + "\r\n\r\nfirst\n");
    for (; open && sent < kBodyBytes; sent += chunk.size())
      open = testing::SendAll(socket, chunk);
    sentBytes.set_value(sent);
  });
  {
    PageReader reader;
    reader.Open(server.Address());
    std::string line;
    ASSERT_TRUE(reader.ReadLine(line));
    EXPECT_EQ(line, "first");
  }
  EXPECT_LT(sentBytes.get_future().get(), kBodyBytes);
}

// What arrives is joined into the page a growing window at a time, and what
// lies past the window waits: a long page must still come out whole and in
// order, whether the reader stops at a line or reads to the end, whether the
// reply ends by its length or by the close, and past the point where the
// reader stops pulling bytes off the socket.
TEST(Transfer, LongPagesArriveWholeAndInOrder) {
  for (const int lines : {300, 3'000, 30'000, 300'000}) {
    for (const bool announced : {true, false}) {
      SCOPED_TRACE(std::to_string(lines) + (announced ? " lines, announced" : " lines"));
      std::string body;
      std::string text;
      for (int i = 0; i < lines; ++i) {
        body += "line " + std::to_string(i) + "\r\n";
        if (i > 0)
          text += "line " + std::to_string(i);
      }
      body += "the ca\rche line\r\nafter\n";
      const std::string head = announced ? "Content-Length: " + std::to_string(body.size()) + "\r\n"
                                         : "Connection: close\r\n";
      const RawServer server(Replying("HTTP/1.1 200 OK\r\n" + head + "\r\n" + body));
      PageReader toLine;
      toLine.Open(server.Address());
      EXPECT_EQ(toLine.ReadToLineWith("cache"), "the cache line");
      EXPECT_EQ(toLine.Text(), text + "the cache line");
      PageReader toEnd;
      toEnd.Open(server.Address());
      EXPECT_EQ(toEnd.ReadToEnd(false), text + "the cache lineafter");
    }
  }
}

}  // namespace
}  // namespace melo::net
