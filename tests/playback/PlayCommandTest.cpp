// `melodrift play` as a user runs it, against the bundled site and against
// servers of the test's own.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "Printers.h"
#include "core/net/SongServer.h"
#include "playback/PlaybackTimes.h"
#include "site/BundledSite.h"
#include "site/Catalogue.h"

namespace melo::playback {
namespace {

using net::testing::Serving;

// Exit code and output of `melodrift play <arguments>`; `onLine` sees each
// line as it comes.
std::pair<int, std::string> Play(const std::string& arguments,
                                 const std::function<void(const std::string&)>& onLine = {}) {
  const std::string command =
      "MELODRIFT_AUDIO_SINK='fakesink sync=true' " MELODRIFT_PROGRAM " play " + arguments + " 2>&1";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  char line[256];
  while (pipe != nullptr && fgets(line, sizeof line, pipe) != nullptr) {
    output += line;
    if (onLine) {
      onLine(line);
    }
  }
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(PlayCommandTest, PlaysAParsedAddressToItsEnd) {
  const bundled::BundledSite site;
  // A title with a space, passed in UTF-8 and quoted, as `melodrift parse` prints it.
  const auto songs = bundled::DemoCatalogue().Songs();
  const auto& song = *std::find_if(songs.begin(), songs.end(), [](const auto& s) {
    return s.title.find(' ') != std::string::npos;
  });
  const std::string total = TotalText(song.lengthMs);
  const auto [code, output] = Play("'\"http://" + site.Host() + "/cache/mp3/" + song.id + "/" +
                                   song.title + ".mp3\"' --seek-ms 1000");
  EXPECT_EQ(code, 0) << output;
  EXPECT_TRUE(output.starts_with("正在缓冲...\n播放中\n0:01" + total + "\n")) << output;
  EXPECT_TRUE(output.ends_with(ElapsedText(song.lengthMs) + total + "\n")) << output;
}

// Servers that answer no Range and tell no size: the start asked for is
// reached by reading on, and no time line shows a total of 0:00.
TEST(PlayCommandTest, StartsWhereAskedWithTheTotalOnEveryLine) {
  for (const Serving& serving :
       {Serving{.ranges = false},
        Serving{.ranges = false, .chunked = true, .noLengthHeader = true}}) {
    net::testing::SongServer server(serving);
    const auto [code, output] = Play(server.Address() + " --seek-ms 2000");
    EXPECT_EQ(code, 0) << output;
    const std::string total = TotalText(net::testing::kSongLengthMs);
    EXPECT_TRUE(output.starts_with("正在缓冲...\n播放中\n0:02" + total + "\n")) << output;
    EXPECT_EQ(output.find("/0:00"), std::string::npos) << output;
  }
}

struct CommandRow {
  const char* name;
  Serving serving;
  std::string says;  // the last line holds it; the program ends in failure
  friend void PrintTo(const CommandRow& c, std::ostream* os) { *os << c.name; }
};

class PlayCommandServerTest : public ::testing::TestWithParam<CommandRow> {};

TEST_P(PlayCommandServerTest, ExitsAndSaysWhy) {
  const CommandRow& row = GetParam();
  net::testing::SongServer server(row.serving);
  const auto [code, output] = Play(server.Address(), [&](const std::string& line) {
    if (line.find(':') != std::string::npos) {
      server.LetBreak();  // the song plays: a connection that is to break may
    }
  });
  EXPECT_EQ(code, 1) << output;
  const std::string lastLine = output.substr(output.rfind('\n', output.size() - 2) + 1);
  EXPECT_NE(lastLine.find(row.says), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(
    Servers, PlayCommandServerTest,
    ::testing::Values(CommandRow{"NotAudio", {.htmlStatus = "200 OK"}, ".mp3: not audio"},
                      CommandRow{"NotFound", {.htmlStatus = "404 Not Found"}, ".mp3: HTTP 404"}),
    printing::CaseName());

}  // namespace
}  // namespace melo::playback
