// The bundled site, read the way the program reads it: through the page
// reader and the scans, with SiteBase and SiteBaseWww pointing at the site.
// Every page carries what the readers cut out of it, at each address form the
// program builds (both hosts, runs of slashes); beyond the page shapes, the
// site answers audio ranges, its port and recorded pages.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Printers.h"
#include "core/net/RawServer.h"
#include "core/net/SocketPort.h"
#include "core/scrape/ListCrawl.h"
#include "core/scrape/SiteSearch.h"
#include "core/scrape/SongPageParser.h"
#include "core/site/Site.h"
#include "core/text/Gbk.h"
#include "core/text/TextRules.h"
#include "core/update/UpdateCheck.h"
#include "site/BundledSite.h"
#include "site/Catalogue.h"

namespace melo::bundled {
namespace {

using net::testing::ReadPage;
using scrape::ReadSongPage;
using text::Gbk;

// One site for the whole suite.
class SiteTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { site_ = std::make_unique<BundledSite>(); }
  static void TearDownTestSuite() { site_.reset(); }
  void SetUp() override { site::SetSiteHost(site_->Host()); }

  inline static std::unique_ptr<BundledSite> site_;
};

// The parser drops the first line and stops at the first line with "cache",
// so the heading and the singer anchor must come before it.
TEST_F(SiteTest, EverySongPageGivesItsSong) {
  for (const auto& song : DemoCatalogue().Songs()) {
    const std::string title = Gbk(song.title);
    const scrape::Song expected{
        Gbk(song.singer), title,
        "\"" + site::SiteBase() + "cache/mp3/" + song.id + "/" + title + ".mp3\"",
        site::SiteBaseWww() + "singer/" + song.singerId + "/"};
    const auto result = ReadSongPage(site::SiteBase() + "/song/" + song.id + "/");
    EXPECT_EQ(result.exit, scrape::ParseExit::kParsed) << song.id;
    EXPECT_EQ(result.song, expected) << song.id;
  }
}

int Occurrences(std::string_view text, std::string_view marker) {
  int count = 0;
  for (text::Pos at = 0; (at = text::Find(text, marker, at)) != text::kNotFound; ++at)
    ++count;
  return count;
}

// That each entry leads to a song page, and a singer's page to the singer's
// songs, the window's crawl tests check row by row (CrawlTest).
TEST_F(SiteTest, ListPagesHoldTheirEntriesAmongDecoys) {
  using scrape::ListPage;
  const struct {
    std::string address;
    scrape::CrawlPattern pattern;
    std::size_t entries;
  } cases[] = {
      {scrape::ListPageAddress(ListPage::kChart), scrape::kListPattern, 20},
      {scrape::ListPageAddress(ListPage::kListening), scrape::kListPattern, 15},
      {scrape::ListPageAddress(ListPage::kRecommended), scrape::kRecommendPattern, 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    const std::string page = ReadPage(c.address);
    const auto ids = scrape::ScanSongIds(page, c.pattern);
    EXPECT_EQ(ids.size(), c.entries);
    EXPECT_GT(Occurrences(page, c.pattern.opening), static_cast<int>(ids.size()))
        << "no decoys for the crawler to pass over";
  }
  // The crawler keeps the first line, so the chart starts its list there.
  const std::string chartAfterFirstLine = ReadPage(cases[0].address, false);
  EXPECT_EQ(scrape::ScanSongIds(chartAfterFirstLine, scrape::kListPattern).size(), 19u);
}

// What a search should find is worked out on the UTF-8 texts, where a keyword
// cannot match from the second byte of a character; no keyword finds nothing.
bool Finds(std::string text, std::string keyword) {
  for (std::string* each : {&text, &keyword})
    std::ranges::transform(*each, each->begin(), [](unsigned char c) { return std::tolower(c); });
  return !keyword.empty() && text.find(keyword) != std::string::npos;
}

// The song links are those EverySongPageGivesItsSong reads.
TEST_F(SiteTest, SearchFindsSongsAndSingers) {
  // 與 carries 'c' as its second GBK byte: no match there.
  for (const std::string keyword : {"林晚风", "paper", "c", "no such song", ""}) {
    SCOPED_TRACE(keyword);
    std::vector<std::string> songLinks;
    std::vector<scrape::SingerRecord> singers;
    for (const auto& song : DemoCatalogue().Songs()) {
      if (Finds(song.title, keyword) || Finds(song.singer, keyword))
        songLinks.push_back(site::SiteBase() + "/song/" + song.id + "/");
    }
    for (const auto& singer : DemoCatalogue().Singers()) {
      if (Finds(singer.name, keyword))
        singers.push_back({Gbk(singer.name), site::SiteBase() + "/singer/" + singer.id + "/"});
    }
    // The reader sends the GBK keyword percent-encoded, as the search does.
    const std::string page = ReadPage(scrape::SearchAddress(Gbk(keyword)), false);
    EXPECT_EQ(scrape::ScanSongLinks(page), songLinks);
    EXPECT_EQ(scrape::ScanSingers(page), singers);
  }
}

// Which versions count as newer, and the address announced, the window's
// tests answer; here the announced download is served.
TEST_F(SiteTest, UpdatePageAnnouncesANewerVersionWhoseDownloadIsServed) {
  const auto finding = update::EvaluateUpdatePage(update::ReadUpdatePage());
  ASSERT_TRUE(finding.downloadAddress);
  EXPECT_TRUE(ReadPage(*finding.downloadAddress).starts_with("PK"));
}

// The address the parser builds, as the player and the browser fetch it:
// encoded, whole or from where a seek or a resumed download starts (other
// range forms are the HTTP library's own); past the end, a well-formed 416.
TEST_F(SiteTest, ServesTheAudioAndItsRanges) {
  const std::string_view audio = DemoCatalogue().FindSong("2244436")->audio;
  const std::string link = ReadSongPage(site::StartSongAddress()).song.downloadLink;
  const std::string path = net::EncodeRequestAddress(link.substr(1, link.size() - 2))
                               .substr(site::SiteBase().size() - 1);
  httplib::Client client("127.0.0.1", site_->Port());
  client.set_url_encode(false);
  const std::size_t size = audio.size();
  const std::string total = "/" + std::to_string(size);
  const struct {
    std::string range;
    int status;
    std::size_t from, count;
    std::string contentRange;
  } cases[] = {
      {"", 200, 0, size, ""},
      {"bytes=1000-", 206, 1000, size - 1000, "bytes 1000-" + std::to_string(size - 1) + total},
      {"bytes=" + std::to_string(size) + "-", 416, 0, 0, "bytes *" + total},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.range);
    const auto reply = client.Get(
        path, c.range.empty() ? httplib::Headers{} : httplib::Headers{{"Range", c.range}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, c.status);
    EXPECT_EQ(reply->get_header_value("Content-Range"), c.contentRange);
    if (c.status != 416) {
      EXPECT_EQ(reply->get_header_value("Content-Type"), "audio/mpeg");
      EXPECT_EQ(reply->body, audio.substr(c.from, c.count));
    }
  }
}

TEST(Serving, RefusesAPortInUse) {
  const BundledSite first;
  BundledSiteOptions samePort;
  samePort.port = first.Port();
  EXPECT_THROW(BundledSite{samePort}, std::runtime_error);
}

sockaddr_in Loopback(int port = 0) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Whether `client` gets the start song's page.
::testing::AssertionResult AnswersASongPage(httplib::Client& client) {
  const auto reply = client.Get("/song/2244436/");
  if (!reply)
    return ::testing::AssertionFailure() << "no reply: " << httplib::to_string(reply.error());
  if (reply->status != 200)
    return ::testing::AssertionFailure() << "status " << reply->status;
  return ::testing::AssertionSuccess();
}
::testing::AssertionResult AnswersASongPage(int port) {
  httplib::Client client("127.0.0.1", port);
  return AnswersASongPage(client);
}

// A socket the site is given, bound and listening, is the site's: a
// connection made before the site started is served on it, and the socket is
// closed once the site has stopped or failed to start (it is no internet
// one), so that no client waits on a port nobody serves.
TEST(Serving, OnTheSocketItIsGivenWhichItClosesAfter) {
  for (const int family : {AF_INET, AF_UNIX}) {
    SCOPED_TRACE(family == AF_INET ? "loopback" : "not an internet socket");
    const int sock = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in inet = Loopback();
    // An AF_UNIX name of the kernel's choosing.
    const sockaddr_un local{.sun_family = AF_UNIX, .sun_path = {}};
    EXPECT_EQ(family == AF_INET
                  ? bind(sock, reinterpret_cast<const sockaddr*>(&inet), sizeof inet)
                  : bind(sock, reinterpret_cast<const sockaddr*>(&local), sizeof(sa_family_t)),
              0);
    EXPECT_EQ(listen(sock, SOMAXCONN), 0);
    BundledSiteOptions given;
    given.listeningSocket = sock;
    if (family == AF_UNIX) {
      EXPECT_THROW(BundledSite{given}, std::runtime_error);
    } else {
      const int port = net::LocalPort(sock);
      ASSERT_GT(port, 0);
      auto early = std::async(std::launch::async, [port] { return AnswersASongPage(port); });
      const BundledSite site(given);
      EXPECT_EQ(site.Port(), port);
      EXPECT_TRUE(early.get());
    }
    EXPECT_EQ(fcntl(sock, F_GETFD), -1) << "the socket is still open";
  }
}

// Starting does not wait for the listening loop: a site stopped at once
// still stops (a stop before the loop ran used to be lost, and the join
// hung), and one asked at once still answers.
TEST(Serving, StopsAndAnswersRightAfterStarting) {
  auto stopped = std::async(std::launch::async, [] {
    for (int i = 0; i < 50; ++i) {
      const BundledSite site;
    }
  });
  // The bound guards a hang.
  EXPECT_EQ(stopped.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  const BundledSite site;
  EXPECT_TRUE(AnswersASongPage(site.Port()));
}

// More clients than the site ever had worker threads each keep an idle
// keep-alive connection: a new client is still answered, and the site stops
// without waiting for any of them (stopping used to wait for each to time out).
TEST(Serving, IdleConnectionsHoldBackNeitherClientsNorTheStop) {
  auto site = std::make_unique<BundledSite>();
  std::vector<std::unique_ptr<httplib::Client>> idle;
  for (int i = 0; i <= 40; ++i) {  // the last one comes while 40 stay idle
    idle.push_back(std::make_unique<httplib::Client>("127.0.0.1", site->Port()));
    idle.back()->set_keep_alive(true);
    ASSERT_TRUE(AnswersASongPage(*idle.back())) << i;
  }

  auto stopped = std::async(std::launch::async, [&] { site.reset(); });
  // The bound guards a hang.
  EXPECT_EQ(stopped.wait_for(std::chrono::seconds(20)), std::future_status::ready);
}

std::size_t ThreadsOfThisProcess() {
  const auto tasks = std::filesystem::directory_iterator("/proc/self/task");
  return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

// A loopback connection to `port` that has sent `bytes`.
int SentConnection(int port, std::string_view bytes) {
  const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(port);
  if (::connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::send(sock, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("cannot reach the site");
  return sock;
}

// Whether the site closes `sock` (its read ends) within a generous bound.
bool ClosedBySite(int sock) {
  pollfd watch{sock, POLLIN, 0};
  char byte = 0;
  return ::poll(&watch, 1, 20'000) == 1 && ::recv(sock, &byte, 1, 0) == 0;
}

// Clients that send half a request line, or nothing, hold no thread: a
// normal request is answered meanwhile, and the site closes them once their
// time-out has passed.
TEST(Serving, HalfSentRequestsHoldNoThreadAndAreClosed) {
  const BundledSite site({.requestTimeoutMs = 200});
  httplib::Client client("127.0.0.1", site.Port());
  ASSERT_TRUE(AnswersASongPage(client));  // the worker that answers is started
  const std::size_t threads = ThreadsOfThisProcess();

  std::vector<int> flood;
  for (const char* half : {"GET /song/22", "G", "GET / HTTP/1.1\r\nHost: x\r\n", "GET / HT"})
    for (int i = 0; i < 3; ++i)
      flood.push_back(SentConnection(site.Port(), half));
  EXPECT_TRUE(AnswersASongPage(site.Port()));
  // A worker still finishing the first answer may have been joined by a
  // second; a thread per waiting connection would be twelve more.
  EXPECT_LE(ThreadsOfThisProcess(), threads + 2);

  for (const int sock : flood) {
    EXPECT_TRUE(ClosedBySite(sock));
    ::close(sock);
  }
  EXPECT_TRUE(AnswersASongPage(client));  // kept connections are not harmed
}

TEST(RecordedPages, ServeTheirSongsAndFallBackToTheGeneratedSite) {
  const BundledSite site({.pagesDir = MELO_TEST_PAGES_DIR});
  site::SetSiteHost(site.Host());
  // The recorded page names the site by a placeholder that becomes its host.
  EXPECT_EQ(ReadSongPage(site::SiteBase() + "/song/9000004//").song.downloadLink,
            "\"" + site::SiteBase() + "cache/mp3/5902119/Winter Radio.mp3\"");
  EXPECT_TRUE(ReadSongPage(site::StartSongAddress()).Parsed());
  // Unknown pages are error pages that no reader takes for a song.
  for (const char* path : {"song/9999999/", "singer/31337/", "no/such/page"})
    EXPECT_EQ(ReadSongPage(site::SiteBase() + path).exit, scrape::ParseExit::kNoMediaLine) << path;
  // The reader would fold the dots; a raw request must stay inside the folder too.
  httplib::Client client("127.0.0.1", site.Port());
  const auto outside = client.Get("/song/../../README.md");
  ASSERT_TRUE(outside);
  EXPECT_FALSE(text::Contains(outside->body, "recorded"));
}

// What a folder of recorded pages may hold that must not be served: a link
// out of it, and what a NUL in the path would cut a name down to.
TEST(RecordedPages, ServeOnlyFromInsideTheirFolder) {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(::testing::TempDir()) / "recorded_links";
  fs::remove_all(root);
  fs::create_directories(root / "pages" / "song");
  std::ofstream(root / "secret.txt") << "secret outside";
  std::ofstream(root / "pages" / "page.html") << "inside page";
  fs::create_symlink(root / "secret.txt", root / "pages" / "out.html");
  fs::create_symlink(root, root / "pages" / "up");
  fs::create_symlink(root / "pages" / "page.html", root / "pages" / "song" / "in.html");
  const BundledSite site({.pagesDir = (root / "pages").string()});
  httplib::Client client("127.0.0.1", site.Port());
  const struct {
    const char* path;
    int status;
    const char* type;
  } rows[] = {
      {"/song/in.html", 200, "text/html"},  // a link that stays inside
      {"/out.html", 404, nullptr},         {"/up/secret.txt", 404, nullptr},
      {"/page.html%00.mp3", 404, nullptr}, {"/song/2244436/%00", 404, nullptr},
  };
  for (const auto& row : rows) {
    const auto reply = client.Get(row.path);
    ASSERT_TRUE(reply) << row.path;
    EXPECT_EQ(reply->status, row.status) << row.path;
    EXPECT_FALSE(text::Contains(reply->body, "secret")) << row.path;
    if (row.type != nullptr) {
      EXPECT_TRUE(reply->get_header_value("Content-Type").starts_with(row.type)) << row.path;
    }
  }
}

}  // namespace
}  // namespace melo::bundled
