#include <gtest/gtest.h>

#include <stdexcept>

#include "SiteClient.h"
#include "site/Catalogue.h"

namespace melo::bundled {
namespace {

using testing::SiteClient;

TEST(Serving, AnswersBothHostFormsAndAnyRunOfSlashes) {
  BundledSite site;
  SiteClient client(site);
  const auto reference = client.Get("/song/2244436/");
  ASSERT_EQ(reference.status, 200);
  const std::string www = "www." + site.Host();
  const struct {
    std::string_view target;
    std::string host;
  } cases[] = {
      {"//song/2244436/", site.Host()},
      {"/song/2244436//", www},
      {"//song/2244436//", www},
      {"///song//2244436", site.Host()},
      {"/song/2244436/", "some.other.host"},
  };
  for (const auto& c : cases) {
    const auto reply = client.Get(c.target, {}, c.host);
    EXPECT_EQ(reply.status, 200) << c.target << " " << c.host;
    EXPECT_EQ(reply.body, reference.body) << c.target << " " << c.host;
    EXPECT_EQ(reply.Header("Content-Type"), "text/html; charset=gbk");
  }
}

TEST(Serving, NamesItsHostByPort) {
  BundledSite site;
  EXPECT_GT(site.Port(), 0);
  EXPECT_EQ(site.Host(), "localhost:" + std::to_string(site.Port()));
}

TEST(Serving, RefusesAPortInUse) {
  BundledSite first;
  const auto samePort = testing::OptionsWith([&](auto& o) { o.port = first.Port(); });
  EXPECT_THROW(BundledSite{samePort}, std::runtime_error);
}

TEST(Serving, UnknownAddressesGetAnErrorPageWithoutMediaLine) {
  BundledSite site;
  SiteClient client(site);
  for (const auto* target : {"/song/9999999/", "/song/", "/singer/31337/", "/no/such/page",
                             "/cache/mp3/9999999/x.mp3", "/music/nothing"}) {
    const auto reply = client.Get(target);
    EXPECT_EQ(reply.status, 404) << target;
    EXPECT_NE(reply.body.find("</html>"), std::string::npos) << target;
    EXPECT_EQ(reply.body.find("cache"), std::string::npos) << target;
  }
}

class AudioTest : public ::testing::Test {
 protected:
  BundledSite site_;
  SiteClient client_{site_};
  const CatalogueSong& song_ = *DemoCatalogue().FindSong("2244436");
  // The program puts the title where the page said "preview".
  const std::string address_ = "/cache/mp3/2244436/" + testing::PercentEncode(song_.title) + ".mp3";
};

TEST_F(AudioTest, ServesTheSongsMp3UnderAnyName) {
  for (const auto& target : {address_, std::string("//cache/mp3/2244436/preview.mp3")}) {
    const auto reply = client_.Get(target);
    ASSERT_EQ(reply.status, 200) << target;
    EXPECT_EQ(reply.Header("Content-Type"), "audio/mpeg");
    EXPECT_EQ(reply.body, song_.audio);
  }
}

TEST_F(AudioTest, HeadGivesTheLengthWithoutBody) {
  const auto reply = client_.Head(address_);
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.Header("Content-Length"), std::to_string(song_.audio.size()));
  EXPECT_TRUE(reply.body.empty());
}

TEST_F(AudioTest, RangeRequestsGetTheirBytes) {
  const auto size = song_.audio.size();
  const struct {
    std::string range;
    size_t from, count;
  } cases[] = {
      {"bytes=100-199", 100, 100},
      {"bytes=1000-", 1000, size - 1000},
      {"bytes=-64", size - 64, 64},
      {"bytes=0-", 0, size},
  };
  for (const auto& c : cases) {
    const auto reply = client_.Get(address_, {{"Range", c.range}});
    EXPECT_EQ(reply.status, 206) << c.range;
    EXPECT_EQ(reply.body, song_.audio.substr(c.from, c.count)) << c.range;
    EXPECT_EQ(reply.Header("Content-Range"), "bytes " + std::to_string(c.from) + "-" +
                                                 std::to_string(c.from + c.count - 1) + "/" +
                                                 std::to_string(size));
  }
}

TEST_F(AudioTest, RangePastTheEndIsUnsatisfiable) {
  const auto size = std::to_string(song_.audio.size());
  const auto reply = client_.Get(address_, {{"Range", "bytes=" + size + "-"}});
  EXPECT_EQ(reply.status, 416);
  EXPECT_EQ(reply.Header("Content-Range"), "bytes */" + size);
}

// No clock in the assertion: an answer held back by a long latency cannot
// arrive within a short read time-out, however slow the machine.
TEST(Serving, LatencyHoldsBackEachAnswer) {
  BundledSite slow(testing::OptionsWith([](auto& o) { o.latencyMs = 1500; }));
  SiteClient client(slow);
  client.SetReadTimeoutMs(100);
  EXPECT_EQ(client.Get("/song/2244436/").status, 0);

  BundledSite quick;
  SiteClient quickClient(quick);
  EXPECT_EQ(quickClient.Get("/song/2244436/").status, 200);
}

class RecordedPagesTest : public ::testing::Test {
 protected:
  BundledSite site_{testing::OptionsWith([](auto& o) { o.pagesDir = MELO_TEST_PAGES_DIR; })};
  SiteClient client_{site_};
};

TEST_F(RecordedPagesTest, ServesARecordedPageWithTheSitesHost) {
  const auto reply = client_.Get("//song/9000004//");
  ASSERT_EQ(reply.status, 200);
  EXPECT_NE(reply.body.find("'http://" + site_.Host() + "/','ListenLog'"), std::string::npos);
  EXPECT_EQ(reply.body.find("@HOST@"), std::string::npos);
  EXPECT_NE(reply.body.find("\r\n"), std::string::npos);
}

TEST_F(RecordedPagesTest, FallsBackToTheGeneratedSite) {
  EXPECT_EQ(client_.Get("/song/2244436/").status, 200);
  EXPECT_EQ(client_.Get("/music/chart").status, 200);
  EXPECT_EQ(client_.Get("/song/9999999/").status, 404);
}

TEST_F(RecordedPagesTest, NeverReadsOutsideTheFolder) {
  const auto reply = client_.Get("/song/../../README.md");
  EXPECT_EQ(reply.body.find("recorded"), std::string::npos);
}

}  // namespace
}  // namespace melo::bundled
