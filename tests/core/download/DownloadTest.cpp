// Songs onto disk through servers of the tests' own that behave as real ones
// do: ranges honoured or ignored, connections broken off, error pages.

#include <gtest/gtest.h>
#include <id3v1tag.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>
#include <urllinkframe.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "core/download/Download.h"
#include "core/download/Id3Tags.h"
#include "core/net/PageReader.h"
#include "core/net/RawServer.h"
#include "core/text/Gbk.h"

namespace melo::download {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using net::testing::RawServer;
using net::testing::ReadRequest;
using net::testing::SendAll;

// MPEG-1 Layer III frames, 128 kbit/s at 44.1 kHz: 417 bytes each.
std::string Mp3Body(int frames = 120) {
  std::string frame(417, '\0');
  frame.replace(0, 4, "\xFF\xFB\x90\x00", 4);
  std::string body;
  for (int i = 0; i < frames; ++i) {
    frame[100] = static_cast<char>(i);  // no two frames alike
    body += frame;
  }
  return body;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

enum class Serve {
  kRanges,           // 206 for a Range, 416 past the end
  kIgnoreRange,      // always 200 with the whole song
  kNotFound,         // 404 with an HTML page
  kHtml,             // 200 with an HTML page
  kBreakOffOnce,     // the first reply stops half way, then ranges
  kResetOnce,        // the first connection is reset half way, then ranges
  kServerErrorOnce,  // the first reply is a 503, then ranges
  kSlow,             // ranges, the body in small pieces with pauses
  kHalfThenHold,     // half the body, then silence until the server goes
};

// One song at every path; each connection carries one request.
class SongServer {
 public:
  SongServer(std::string body, Serve serve)
      : body_(std::move(body)),
        serve_(serve),
        server_([this](int socket, std::stop_token stop) { Answer(socket, stop); }) {}

  std::string Address(std::string_view path) const { return server_.Address(path); }
  std::vector<std::string> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void Answer(int socket, const std::stop_token& stop) {
    const std::string request = ReadRequest(socket, stop);
    if (request.empty())
      return;
    std::size_t from = 0;
    if (const std::size_t range = request.find("Range: bytes="); range != std::string::npos)
      from = std::stoul(request.substr(range + 13));
    int seen = 0;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
      seen = static_cast<int>(requests_.size());
    }
    const std::string size = std::to_string(body_.size());
    const std::string audio = "Content-Type: audio/mpeg\r\nConnection: close\r\n";
    const auto head = [&](std::string_view status, std::size_t length, std::string_view extra) {
      return "HTTP/1.1 " + std::string(status) + "\r\nContent-Length: " + std::to_string(length) +
             "\r\n" + audio + std::string(extra) + "\r\n";
    };
    Serve serve = serve_;
    if ((serve == Serve::kBreakOffOnce || serve == Serve::kResetOnce ||
         serve == Serve::kServerErrorOnce) &&
        seen > 1)
      serve = Serve::kRanges;
    switch (serve) {
      case Serve::kNotFound:
        SendAll(socket, net::testing::Reply("<html>not here</html>", "404 Not Found",
                                            "Content-Type: text/html\r\n"));
        return;
      case Serve::kHtml:
        SendAll(socket, net::testing::Reply("<!DOCTYPE html><html>login</html>", "200 OK"));
        return;
      case Serve::kServerErrorOnce:
        SendAll(socket, net::testing::Reply("busy", "503 Service Unavailable"));
        return;
      case Serve::kIgnoreRange:
        SendAll(socket, head("200 OK", body_.size(), "") + body_);
        return;
      case Serve::kResetOnce: {
        SendAll(socket, head("200 OK", body_.size(), "") + body_.substr(0, body_.size() / 2));
        const linger reset{1, 0};  // closing sends RST instead of FIN
        setsockopt(socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        return;
      }
      case Serve::kBreakOffOnce:
      case Serve::kHalfThenHold:
        SendAll(socket, head("200 OK", body_.size(), "") + body_.substr(0, body_.size() / 2));
        if (serve == Serve::kHalfThenHold)
          ReadRequest(socket, stop);  // nothing more comes: holds until the server goes
        return;
      case Serve::kRanges:
      case Serve::kSlow:
        break;
    }
    if (from >= body_.size() && from > 0) {
      // With a page of its own, as web servers send it.
      SendAll(socket, net::testing::Reply(
                          "<html>416</html>", "416 Range Not Satisfiable",
                          "Content-Type: text/html\r\nContent-Range: bytes */" + size + "\r\n"));
      return;
    }
    const std::string rest = body_.substr(from);
    SendAll(socket, from == 0 ? head("200 OK", rest.size(), "")
                              : head("206 Partial Content", rest.size(),
                                     "Content-Range: bytes " + std::to_string(from) + "-" +
                                         std::to_string(body_.size() - 1) + "/" + size + "\r\n"));
    const std::size_t piece = serve == Serve::kSlow ? rest.size() / 8 + 1 : rest.size();
    for (std::size_t at = 0; at < rest.size(); at += piece) {
      if (!SendAll(socket, std::string_view(rest).substr(at, piece)))
        return;
      if (serve == Serve::kSlow)
        std::this_thread::sleep_for(10ms);
    }
  }

  const std::string body_;
  const Serve serve_;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  RawServer server_;  // last: its sessions use the members above
};

class Recorder final : public DownloadReporter {
 public:
  void Result(std::size_t index, const scrape::SongRecord&, const DownloadResult& result) override {
    order.push_back(index);
    results.push_back(result);
  }
  std::vector<std::size_t> order;
  std::vector<DownloadResult> results;
};

const std::string kTitle = "晚风里的信";
const std::string kSinger = "林晚风";

class DownloadFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::path(::testing::TempDir()) /
              ("download_" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    options_.folder = folder_;
    options_.retryPause = 1ms;
  }

  scrape::SongRecord Song(const SongServer& server, int id = 1) const {
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

  fs::path folder_;
  DownloadOptions options_;
};

struct ServerCase {
  const char* name;
  Serve serve;
  std::size_t partBytes;  // of the song, already in the .part
  Outcome outcome;
  std::string error;
  std::size_t requests;
  bool tagRoom = false;  // the .part starts with the room a tagging run left
};

void PrintTo(const ServerCase& c, std::ostream* out) {
  *out << c.name;
}

class ServerBehaviourTest : public DownloadFixture,
                            public ::testing::WithParamInterface<ServerCase> {};

TEST_P(ServerBehaviourTest, LeavesTheWholeSongOrNothing) {
  const ServerCase& c = GetParam();
  const std::string body = Mp3Body();
  SongServer server(body, c.serve);
  options_.tags = false;  // the bytes as served, to compare
  if (c.partBytes > 0 || c.tagRoom)
    WriteFile(Part(Target()), (c.tagRoom ? TagRoom() : "") + body.substr(0, c.partBytes));

  const Recorder run = Run({Song(server)});

  ASSERT_EQ(run.results.size(), 1u);
  EXPECT_EQ(run.results[0].outcome, c.outcome);
  EXPECT_EQ(run.results[0].error, c.error);
  EXPECT_EQ(run.results[0].path, Target());
  EXPECT_FALSE(fs::exists(Part(Target())));
  if (c.outcome == Outcome::kDownloaded) {
    EXPECT_EQ(ReadFile(Target()), body);
    EXPECT_EQ(run.results[0].bytes, body.size());
  } else {
    EXPECT_FALSE(fs::exists(Target()));
  }
  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), c.requests);
  // On the wire as playback sends it: the title's GBK bytes percent-encoded.
  EXPECT_TRUE(requests[0].starts_with("GET /cache/mp3/1/%CD%ED%B7%E7%C0%EF%B5%C4%D0%C5.mp3 "))
      << requests[0];
  // A reset may drop what was still on its way, so only a closed
  // connection says exactly where the next request resumes.
  const std::size_t resumedAt = c.serve == Serve::kBreakOffOnce ? body.size() / 2 : c.partBytes;
  if (resumedAt > 0 && c.serve != Serve::kNotFound) {
    EXPECT_NE(requests.back().find("Range: bytes=" + std::to_string(resumedAt) + "-"),
              std::string::npos);
  }
}

const std::size_t kHalf = Mp3Body().size() / 2;
const std::size_t kWhole = Mp3Body().size();

INSTANTIATE_TEST_SUITE_P(
    Servers, ServerBehaviourTest,
    ::testing::Values(
        ServerCase{"Fresh", Serve::kRanges, 0, Outcome::kDownloaded, "", 1},
        ServerCase{"RangeHonoured", Serve::kRanges, kHalf, Outcome::kDownloaded, "", 1},
        ServerCase{"RangeIgnoredStartsOver", Serve::kIgnoreRange, kHalf, Outcome::kDownloaded, "",
                   1},
        ServerCase{"CompletePartGets416", Serve::kRanges, kWhole, Outcome::kDownloaded, "", 1},
        ServerCase{"ClosedShortThenResumed", Serve::kBreakOffOnce, 0, Outcome::kDownloaded, "", 2},
        ServerCase{"ResetMidBodyThenResumed", Serve::kResetOnce, 0, Outcome::kDownloaded, "", 2},
        ServerCase{"ServerErrorRetried", Serve::kServerErrorOnce, 0, Outcome::kDownloaded, "", 2},
        ServerCase{"Slow", Serve::kSlow, 0, Outcome::kDownloaded, "", 1},
        ServerCase{"UntaggedDropsAnEarlierTagRoom", Serve::kRanges, 0, Outcome::kDownloaded, "", 1,
                   true},
        ServerCase{"NotFoundDropsThePart", Serve::kNotFound, kHalf, Outcome::kFailed, "HTTP 404",
                   1},
        ServerCase{"HtmlIsNotAudio", Serve::kHtml, 0, Outcome::kFailed, "not audio", 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A tag as players of that era wrote it: GBK bytes in Latin-1 frames, and
// an ID3v1 tag at the end.
std::string Mp3WithOldTags(const fs::path& scratch) {
  WriteFile(scratch, Mp3Body());
  {
    TagLib::MPEG::File file(scratch.c_str());
    TagLib::ID3v2::Tag& tag = *file.ID3v2Tag(true);
    const auto latin1 = [&](const char* id, const std::string& bytes) {
      auto frame =
          std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(id, TagLib::String::Latin1);
      frame->setText(TagLib::String(bytes, TagLib::String::Latin1));
      tag.addFrame(frame.release());
    };
    latin1("TALB", text::Utf8ToGbk("专辑"));
    latin1("TCOM", "Caf\xE9 M\xFCller");
    file.ID3v1Tag(true)->setTitle("old");
    file.save(TagLib::MPEG::File::AllTags, TagLib::File::StripNone, TagLib::ID3v2::v3);
  }
  return ReadFile(scratch);
}

struct TagCase {
  int version;
  bool oldTags;  // the song arrives with tags of its own
};

void PrintTo(const TagCase& c, std::ostream* out) {
  *out << c.version << (c.oldTags ? " old tags" : "");
}

class TagTest : public DownloadFixture, public ::testing::WithParamInterface<TagCase> {};

TEST_P(TagTest, WritesTheSongsTagsAndRepairsGbkInLatin1) {
  const auto [version, oldTags] = GetParam();
  SongServer server(oldTags ? Mp3WithOldTags(folder_ / "scratch.mp3") : Mp3Body(), Serve::kRanges);
  options_.id3v2Version = version;
  ASSERT_EQ(Run({Song(server)}).results.at(0).outcome, Outcome::kDownloaded);
  EXPECT_FALSE(fs::exists(Part(Target())));

  EXPECT_TRUE(ReadFile(Target()).ends_with(Mp3Body()));  // the audio, byte for byte
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
                         ::testing::Values(TagCase{3, true}, TagCase{4, true}, TagCase{3, false},
                                           TagCase{4, false}),
                         [](const auto& info) {
                           return "ID3v2_" + std::to_string(info.param.version) +
                                  (info.param.oldTags ? "_OldTags" : "_Untagged");
                         });

TEST_F(DownloadFixture, StoppedMidSongKeepsThePartAndTheNextRunResumes) {
  const std::string body = Mp3Body();
  // Ahead of the song's bytes, the .part keeps room for the tags.
  const std::size_t half = kTagRoomBytes + body.size() / 2;
  {
    SongServer holding(body, Serve::kHalfThenHold);
    std::stop_source stop;
    Recorder recorder;
    std::jthread run([&] { DownloadSongs({Song(holding)}, options_, recorder, stop.get_token()); });
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    const auto partBytes = [&] {
      std::error_code missing;
      const auto size = fs::file_size(Part(Target()), missing);
      return missing ? 0 : size;
    };
    while (partBytes() < half && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(5ms);
    stop.request_stop();
    run.join();
    EXPECT_TRUE(recorder.results.empty());
  }
  EXPECT_EQ(fs::file_size(Part(Target())), half);
  EXPECT_FALSE(fs::exists(Target()));

  SongServer server(body, Serve::kRanges);
  EXPECT_EQ(Run({Song(server)}).results.at(0).outcome, Outcome::kDownloaded);
  EXPECT_EQ(fs::file_size(Target()), kTagRoomBytes + body.size());  // tagged in place
  EXPECT_TRUE(ReadFile(Target()).ends_with(body));
  EXPECT_NE(server.Requests().at(0).find("Range: bytes=" + std::to_string(body.size() / 2) + "-"),
            std::string::npos);
}

TEST_F(DownloadFixture, ArchiveAndExistingFilesSkipSongsInInputOrder) {
  SongServer server(Mp3Body(), Serve::kSlow);
  options_.archive = folder_ / "archive.txt";
  options_.jobs = 4;
  std::vector<scrape::SongRecord> songs;
  for (int id = 1; id <= 5; ++id)
    songs.push_back(Song(server, id));
  songs.push_back(songs[2]);  // listed twice: one download, one skip

  const Recorder first = Run(songs);
  EXPECT_EQ(first.order, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));
  for (std::size_t i = 0; i < 5; ++i)
    EXPECT_EQ(first.results[i].outcome, Outcome::kDownloaded) << i;
  EXPECT_EQ(first.results[5].outcome, Outcome::kSkipped);
  EXPECT_EQ(first.results[5].bytes, fs::file_size(Target(3)));
  EXPECT_EQ(server.Requests().size(), 5u);

  // Moved away, still known to the archive; gone and unknown, fetched again.
  fs::rename(Target(1), folder_ / "moved.mp3");
  fs::remove(Target(2));
  std::string archive = ReadFile(options_.archive);
  const std::string key2 = songs[1].songLink + "\n";
  archive.erase(archive.find(key2), key2.size());
  WriteFile(options_.archive, archive);

  const Recorder second = Run(songs);
  std::vector<Outcome> outcomes;
  for (const auto& result : second.results)
    outcomes.push_back(result.outcome);
  EXPECT_EQ(outcomes,
            (std::vector<Outcome>{Outcome::kSkipped, Outcome::kDownloaded, Outcome::kSkipped,
                                  Outcome::kSkipped, Outcome::kSkipped, Outcome::kSkipped}));
  EXPECT_EQ(server.Requests().size(), 6u);
}

TEST_F(DownloadFixture, FolderThatCannotBeMadeFailsWithTheSystemsMessage) {
  SongServer server(Mp3Body(), Serve::kRanges);
  WriteFile(folder_ / "file", "x");
  options_.folder = folder_ / "file" / "sub";
  const Recorder run = Run({Song(server)});
  ASSERT_EQ(run.results.size(), 1u);
  EXPECT_EQ(run.results[0].outcome, Outcome::kFailed);
  EXPECT_EQ(run.results[0].error, std::error_code(ENOTDIR, std::generic_category()).message());
  EXPECT_TRUE(server.Requests().empty());
}

}  // namespace
}  // namespace melo::download
