// What a shared folder and a lying server may try against a download: the
// song fails with a reason, nothing of it stays on disk, and nothing
// outside the song's own files is touched.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Printers.h"
#include "core/download/Download.h"
#include "core/download/SongFiles.h"
#include "core/text/Gbk.h"

namespace melo::download {
namespace {

using namespace testing;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::vector<DownloadResult> Download(const std::vector<scrape::SongRecord>& songs,
                                     const DownloadOptions& options) {
  Recorder recorder;
  DownloadSongs(songs, options, recorder);
  return recorder.results;
}

const std::string kName = "歌手 - 歌名";
const std::string kVictimBytes = "precious bytes of another file\n";

scrape::SongRecord Song(const std::string& link) {
  return {text::Utf8ToGbk("歌手"), text::Utf8ToGbk("歌名"), "\"" + link + "\"", "", ""};
}

struct Planted {
  const char* name;
  // Puts something at `part`, perhaps pointing at `victim`.
  void (*plant)(const fs::path& part, const fs::path& victim);
  std::string why;  // after "PART: "
  bool continueParts = true;
  friend void PrintTo(const Planted& c, std::ostream* os) { *os << c.name; }
};

class PlantedPartTest : public ::testing::TestWithParam<Planted> {};

TEST_P(PlantedPartTest, IsNeverWrittenThrough) {
  const Planted& c = GetParam();
  const fs::path folder = CaseFolder("hostile_part_");
  const fs::path victim = folder / "elsewhere" / "victim.txt";
  fs::create_directories(victim.parent_path());
  WriteFile(victim, kVictimBytes);
  const fs::path part = folder / (kName + ".mp3.part");
  c.plant(part, victim);
  SongServer server({}, Mp3Body());

  const auto results =
      Download({Song(server.Address())}, {.folder = folder, .continueParts = c.continueParts});

  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].outcome, Outcome::kFailed);
  EXPECT_EQ(results[0].error, part.string() + ": " + c.why);
  EXPECT_EQ(ReadFile(victim), kVictimBytes);
  EXPECT_FALSE(fs::exists(folder / (kName + ".mp3")));
  EXPECT_TRUE(server.Requests().empty());
}

void LinkTo(const fs::path& part, const fs::path& victim) {
  fs::create_symlink(victim, part);
}
void HardLinkTo(const fs::path& part, const fs::path& victim) {
  fs::create_hard_link(victim, part);
}
void DanglingLink(const fs::path& part, const fs::path& victim) {
  fs::create_symlink(victim.parent_path() / "not-yet", part);
}
void Pipe(const fs::path& part, const fs::path&) {
  mkfifo(part.c_str(), 0600);
}
void Folder(const fs::path& part, const fs::path&) {
  fs::create_directory(part);
}

const std::string kLinked = "a symbolic link, not written through";
const std::string kHardLinked = "has other names (hard links), not written through";

INSTANTIATE_TEST_SUITE_P(Folders, PlantedPartTest,
                         ::testing::Values(Planted{"LinkResumed", LinkTo, kLinked},
                                           Planted{"LinkStartedAfresh", LinkTo, kLinked, false},
                                           Planted{"DanglingLink", DanglingLink, kLinked},
                                           Planted{"HardLink", HardLinkTo, kHardLinked},
                                           Planted{"HardLinkStartedAfresh", HardLinkTo, kHardLinked,
                                                   false},
                                           Planted{"Pipe", Pipe, "not a regular file"},
                                           Planted{"Folder", Folder, "not a regular file", false}),
                         printing::CaseName());

// Another user's file can only be planted by root.
TEST(PlantedPartTest, AnotherUsersFileIsNotTaken) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to give a file away";
  const fs::path folder = CaseFolder("hostile_owner_");
  const fs::path part = folder / (kName + ".mp3.part");
  WriteFile(part, kVictimBytes);
  ASSERT_EQ(chown(part.c_str(), 65534, 65534), 0);
  SongServer server({}, Mp3Body());
  EXPECT_EQ(Download({Song(server.Address())}, {.folder = folder}).at(0).error,
            part.string() + ": owned by another user");
  EXPECT_EQ(ReadFile(part), kVictimBytes);
}

// A tag of `claimed` bytes in all, followed by `after`.
std::string Tagged(std::uint32_t claimed, const std::string& after) {
  const std::uint32_t size = claimed - 10;
  std::string tag("ID3\x03\0\0", 6);
  for (int shift : {21, 14, 7, 0})
    tag += static_cast<char>((size >> shift) & 0x7F);
  tag.resize(std::min<std::size_t>(claimed, 64), '\0');
  return tag + after;
}

struct Lie {
  const char* name;
  std::string body;
  std::string error;  // the whole reason
  Serving serving = {};
  std::uint64_t maxFileSize = DownloadOptions{}.maxFileSize;
  friend void PrintTo(const Lie& c, std::ostream* os) { *os << c.name; }
};

class LyingServerTest : public ::testing::TestWithParam<Lie> {};

TEST_P(LyingServerTest, FailsAndLeavesNothing) {
  const Lie& c = GetParam();
  const fs::path folder = CaseFolder("hostile_lie_");
  SongServer server(c.serving, c.body);

  const auto results = Download(
      {Song(server.Address())},
      {.folder = folder, .maxFileSize = c.maxFileSize, .retryPause = std::chrono::milliseconds(1)});

  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].outcome, Outcome::kFailed);
  EXPECT_EQ(results[0].error, c.error);
  EXPECT_TRUE(fs::is_empty(folder)) << fs::directory_iterator(folder)->path();
}

const std::string kTooLarge = "larger than 10000 bytes";

INSTANTIATE_TEST_SUITE_P(
    Servers, LyingServerTest,
    ::testing::Values(
        Lie{"TagClaimsMoreThanTheFile", Tagged(256u << 20, std::string(1024, 'x')), "not audio"},
        Lie{"TagEndsPastTheAudio", Tagged(1024 + Mp3Body(2).size(), Mp3Body(2)), "not audio"},
        Lie{"NothingButATag", Tagged(64, ""), "not audio"},
        Lie{"NoFrameAfterTheTag", Tagged(64, std::string(4096, 'x')), "not audio"},
        Lie{"BodyPastTheLimitUnannounced", Mp3Body(), kTooLarge, {.chunked = true}, 10'000},
        Lie{"BodyPastTheLimitAnnounced", Mp3Body(), kTooLarge, {}, 10'000}),
    printing::CaseName());

// curl would guess http:// and look up a host named "cache".
TEST(SchemelessAddressTest, FailsBeforeAnythingGoesOnTheWire) {
  const fs::path folder = CaseFolder("hostile_scheme_");
  const auto results =
      Download({Song("cache/mp3/1/x.mp3"), Song("http:///x.mp3")}, {.folder = folder});
  ASSERT_EQ(results.size(), 2u);
  for (const DownloadResult& result : results) {
    EXPECT_EQ(result.outcome, Outcome::kFailed);
    EXPECT_FALSE(result.error.empty());
  }
  EXPECT_TRUE(fs::is_empty(folder));
}

}  // namespace
}  // namespace melo::download
