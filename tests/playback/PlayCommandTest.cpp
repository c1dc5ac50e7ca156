// `melodrift play` as a user runs it, against the bundled site and against
// servers of the test's own.

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>
#include <tuple>

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

// The demo song of that length (2063: two seconds, 3056: three).
std::string DemoAddress(const bundled::BundledSite& site, int lengthMs) {
  const auto songs = bundled::DemoCatalogue().Songs();
  const auto& song = *std::find_if(songs.begin(), songs.end(),
                                   [&](const auto& s) { return s.lengthMs == lengthMs; });
  return "http://" + site.Host() + "/cache/mp3/" + song.id + "/x.mp3";
}

std::vector<std::string> Totals(const std::string& output) {
  std::vector<std::string> totals;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("0:00/") && line != "0:00/0:00") {
      totals.push_back(line.substr(4));
    }
  }
  return totals;
}

// Several addresses play one after another: in order, or shuffled, each
// once; a loop in which nothing plays ends; a volume past 100 is a usage
// error.
TEST(PlayCommandTest, SeveralAddresses) {
  const bundled::BundledSite site;
  const std::string songs = DemoAddress(site, 2063) + " " + DemoAddress(site, 3056);
  auto [code, output] = Play(songs + " --volume 30");
  EXPECT_EQ(code, 0) << output;
  EXPECT_EQ(Totals(output), (std::vector<std::string>{"/0:02", "/0:03"})) << output;

  std::tie(code, output) = Play("--shuffle " + songs);
  EXPECT_EQ(code, 0) << output;
  auto totals = Totals(output);
  std::ranges::sort(totals);
  EXPECT_EQ(totals, (std::vector<std::string>{"/0:02", "/0:03"})) << output;

  std::tie(code, output) = Play("--loop http://127.0.0.1:1/a.mp3 http://127.0.0.1:1/b.mp3");
  EXPECT_EQ(code, 1) << output;
  EXPECT_EQ(std::ranges::count(output, '\n'), 4) << output;  // buffering and the failure, twice

  EXPECT_EQ(Play("--volume 101 " + songs).first, 2);

  // A server that answers no song: the program ends in failure, its last
  // line says why.
  for (const auto& [status, says] :
       {std::pair{"200 OK", ".mp3: not audio"}, {"404 Not Found", ".mp3: HTTP 404"}}) {
    net::testing::SongServer server({.htmlStatus = status});
    std::tie(code, output) = Play(server.Address());
    EXPECT_EQ(code, 1) << output;
    EXPECT_NE(output.substr(output.rfind('\n', output.size() - 2) + 1).find(says),
              std::string::npos)
        << output;
  }
}

// On a terminal Space pauses and resumes; the song still plays to its end.
TEST(PlayCommandTest, SpacePausesOnATerminal) {
  const bundled::BundledSite site;
  const std::string address = DemoAddress(site, 3056);
  int terminal = -1;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv("MELODRIFT_AUDIO_SINK", "fakesink sync=true", 1);
    execl(MELODRIFT_PROGRAM, MELODRIFT_PROGRAM, "play", address.c_str(), nullptr);
    _exit(127);
  }
  std::string shown;
  // Reads until `text` has been shown after what was shown before.
  const auto waitFor = [&](std::string_view text) {
    const std::size_t from = shown.size();
    char buffer[256];
    for (ssize_t n; shown.find(text, from) == std::string::npos;) {
      if ((n = read(terminal, buffer, sizeof buffer)) <= 0) {
        return false;
      }
      shown.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  };
  EXPECT_TRUE(waitFor("播放中  0:01")) << shown;
  ASSERT_EQ(write(terminal, " ", 1), 1);
  EXPECT_TRUE(waitFor("已暂停")) << shown;
  ASSERT_EQ(write(terminal, " ", 1), 1);
  EXPECT_TRUE(waitFor("播放中")) << shown;
  EXPECT_TRUE(waitFor("0:03/0:03")) << shown;
  int status = 0;
  waitpid(child, &status, 0);
  close(terminal);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace melo::playback
