// Songs onto disk through servers of the tests' own that behave as real ones
// do: ranges honoured or ignored, connections broken off, error pages.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <id3v1tag.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>

#include "core/download/Download.h"
#include "core/download/Id3Tags.h"
#include "core/download/SongFiles.h"
#include "core/text/Gbk.h"

namespace melo::download {
namespace {

using namespace testing;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;
constexpr auto kDrop = Serving::Break::kDropHalfWay, kReset = Serving::Break::kResetHalfWay;

const std::string kTitle = "晚风里的信";
const std::string kSinger = "林晚风";

class DownloadFixture : public ::testing::Test {
 protected:
  DownloadFixture() {
    options_.folder = folder_;
    options_.retryPause = 1ms;
  }

  static scrape::SongRecord Song(const SongServer& server, int id = 1) {
    const std::string title = text::Utf8ToGbk(kTitle + (id == 1 ? "" : std::to_string(id)));
    return {text::Utf8ToGbk(kSinger), title,
            "\"" + server.Address("/cache/mp3/" + std::to_string(id) + "/") + title + ".mp3\"", "",
            "http://www.example.test/song/" + std::to_string(id) + "//"};
  }
  fs::path Target(int id = 1) const {
    return folder_ / (kSinger + " - " + kTitle + (id == 1 ? "" : std::to_string(id)) + ".mp3");
  }
  static fs::path Part(fs::path path) { return path += ".part"; }

  Recorder Run(const std::vector<scrape::SongRecord>& songs, std::stop_token stop = {}) {
    Recorder recorder;
    DownloadSongs(songs, options_, recorder, stop);
    return recorder;
  }

  fs::path folder_ = CaseFolder("download_");
  DownloadOptions options_;
};

struct ServerCase {
  const char* name;
  Serving serving;
  std::size_t partBytes;  // of the song, already in the .part
  std::string error;      // "" when the song is saved
  std::size_t requests;
  bool tagRoom = false;  // the .part starts with the room a tagging run left
  friend void PrintTo(const ServerCase& c, std::ostream* os) { *os << c.name; }
};

class ServerBehaviourTest : public DownloadFixture,
                            public ::testing::WithParamInterface<ServerCase> {};

TEST_P(ServerBehaviourTest, LeavesTheWholeSongOrNothing) {
  const ServerCase& c = GetParam();
  const std::string body = Mp3Body();
  SongServer server(c.serving, body);
  server.LetBreak();      // a break comes at once
  options_.tags = false;  // the bytes as served, to compare
  if (c.partBytes > 0 || c.tagRoom)
    WriteFile(Part(Target()), (c.tagRoom ? TagRoom() : "") + body.substr(0, c.partBytes));

  const Recorder run = Run({Song(server)});

  ASSERT_EQ(run.results.size(), 1u);
  EXPECT_EQ(run.results[0].outcome, c.error.empty() ? Outcome::kDownloaded : Outcome::kFailed);
  EXPECT_EQ(run.results[0].error, c.error);
  EXPECT_EQ(run.results[0].path, Target());
  EXPECT_FALSE(fs::exists(Part(Target())));
  EXPECT_EQ(fs::exists(Target()), c.error.empty());
  if (c.error.empty()) {
    EXPECT_EQ(ReadFile(Target()), body);
    EXPECT_EQ(run.results[0].bytes, body.size());
  }
  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), c.requests);
  // On the wire as playback sends it: the title's GBK bytes percent-encoded.
  EXPECT_THAT(requests[0], StartsWith("GET /cache/mp3/1/%CD%ED%B7%E7%C0%EF%B5%C4%D0%C5.mp3 "));
  // A reset may drop what was still on its way, so only a closed
  // connection says exactly where the next request resumes.
  const std::size_t resumedAt = c.serving.breaks == kDrop ? body.size() / 2 : c.partBytes;
  if (resumedAt > 0 && c.error.empty()) {
    EXPECT_THAT(requests.back(), HasSubstr("Range: bytes=" + std::to_string(resumedAt) + "-"));
  }
}

const std::size_t kHalf = Mp3Body().size() / 2;
const Serving kBusyOnce{.htmlStatus = "503 Service Unavailable", .htmlOnce = true};

INSTANTIATE_TEST_SUITE_P(
    Servers, ServerBehaviourTest,
    ::testing::Values(
        ServerCase{"Fresh", {}, 0, "", 1}, ServerCase{"RangeHonoured", {}, kHalf, "", 1},
        ServerCase{"RangeIgnoredStartsOver", {.ranges = false}, kHalf, "", 1},
        ServerCase{"CompletePartGets416", {}, 2 * kHalf, "", 1},
        ServerCase{"ClosedShortThenResumed", {.breaks = kDrop}, 0, "", 2},
        ServerCase{"ResetMidBodyThenResumed", {.breaks = kReset}, 0, "", 2},
        ServerCase{"ServerErrorRetried", kBusyOnce, 0, "", 2},
        ServerCase{"Slow", {.slow = true}, 0, "", 1},
        ServerCase{"UntaggedDropsAnEarlierTagRoom", {}, 0, "", 1, true},
        ServerCase{"NotFoundDropsThePart", {.htmlStatus = "404 Not Found"}, kHalf, "HTTP 404", 1},
        ServerCase{"HtmlIsNotAudio", {.htmlStatus = "200 OK"}, 0, "not audio", 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A tag as players of that era wrote it: GBK bytes in Latin-1 frames, and
// an ID3v1 tag at the end.
std::string Mp3WithOldTags(const fs::path& scratch) {
  WriteFile(scratch, Mp3Body());
  {
    TagLib::MPEG::File file(scratch.c_str());
    for (const auto& [id, bytes] : {std::pair{"TALB", text::Utf8ToGbk("专辑")},
                                    std::pair{"TCOM", std::string("Caf\xE9 M\xFCller")}}) {
      auto frame =
          std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(id, TagLib::String::Latin1);
      frame->setText(TagLib::String(bytes, TagLib::String::Latin1));
      file.ID3v2Tag(true)->addFrame(frame.release());
    }
    file.ID3v1Tag(true)->setTitle("old");
    file.save(TagLib::MPEG::File::AllTags, TagLib::File::StripNone, TagLib::ID3v2::v3);
  }
  return ReadFile(scratch);
}

// The ID3v2 version and whether the song arrives with tags of its own.
class TagTest : public DownloadFixture,
                public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(TagTest, WritesTheSongsTagsAndRepairsGbkInLatin1) {
  const auto [version, oldTags] = GetParam();
  SongServer server({}, oldTags ? Mp3WithOldTags(folder_ / "scratch.mp3") : Mp3Body());
  options_.id3v2Version = version;
  ASSERT_EQ(Run({Song(server)}).results.at(0).outcome, Outcome::kDownloaded);
  TagLib::MPEG::File file(Target().c_str());
  ASSERT_TRUE(file.hasID3v2Tag());
  EXPECT_FALSE(file.hasID3v1Tag());
  TagLib::ID3v2::Tag& tag = *file.ID3v2Tag();
  EXPECT_EQ(tag.header()->majorVersion(), static_cast<unsigned>(version));
  const auto text = [&](const char* id) {
    const auto& frames = tag.frameListMap()[id];
    return frames.isEmpty() ? std::string() : frames.front()->toString().to8Bit(true);
  };
  EXPECT_EQ(text("TIT2"), kTitle);
  EXPECT_EQ(text("TPE1"), kSinger);
  EXPECT_EQ(text("WOAS"), "http://www.example.test/song/1//");
  EXPECT_EQ(text("TALB"), oldTags ? "专辑" : "");
  EXPECT_EQ(text("TCOM"), oldTags ? "Café Müller" : "");
  const auto* title =
      dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(tag.frameListMap()["TIT2"].front());
  EXPECT_EQ(title->textEncoding(), version == 3 ? TagLib::String::UTF16 : TagLib::String::UTF8);
}

INSTANTIATE_TEST_SUITE_P(Versions, TagTest,
                         ::testing::Combine(::testing::Values(3, 4), ::testing::Bool()),
                         [](const auto& info) {
                           return "ID3v2_" + std::to_string(std::get<0>(info.param)) +
                                  (std::get<1>(info.param) ? "_OldTags" : "_Untagged");
                         });

TEST_F(DownloadFixture, ArchiveAndExistingFilesSkipSongsInInputOrder) {
  SongServer server({.slow = true}, Mp3Body());  // slow, so that four at once overlap
  options_.archive = folder_ / "archive.txt";
  options_.jobs = 4;
  std::vector<scrape::SongRecord> songs;
  for (int id = 1; id <= 5; ++id)
    songs.push_back(Song(server, id));
  songs.push_back(songs[2]);  // listed twice: one download, one skip
  constexpr Outcome kGot = Outcome::kDownloaded, kSkip = Outcome::kSkipped;

  const Recorder first = Run(songs);
  EXPECT_EQ(first.order, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(first.outcomes, (std::vector{kGot, kGot, kGot, kGot, kGot, kSkip}));
  EXPECT_EQ(first.results[5].bytes, SizeOf(Target(3)));
  EXPECT_EQ(server.Requests().size(), 5u);

  // Moved away, still known to the archive; gone and unknown, fetched again.
  fs::rename(Target(1), folder_ / "moved.mp3");
  fs::remove(Target(2));
  std::string archive = ReadFile(options_.archive);
  archive.erase(archive.find(songs[1].songLink + "\n"), songs[1].songLink.size() + 1);
  WriteFile(options_.archive, archive);

  EXPECT_EQ(Run(songs).outcomes, (std::vector{kSkip, kGot, kSkip, kSkip, kSkip, kSkip}));
  EXPECT_EQ(server.Requests().size(), 6u);
}

TEST_F(DownloadFixture, FolderThatCannotBeMadeFailsWithTheSystemsMessage) {
  SongServer server({}, Mp3Body());
  WriteFile(folder_ / "file", "x");
  options_.folder = folder_ / "file" / "sub";
  const Recorder run = Run({Song(server)});
  EXPECT_EQ(run.outcomes, std::vector{Outcome::kFailed});
  EXPECT_EQ(run.results.at(0).error, std::error_code(ENOTDIR, std::generic_category()).message());
  EXPECT_TRUE(server.Requests().empty());
}

}  // namespace
}  // namespace melo::download
