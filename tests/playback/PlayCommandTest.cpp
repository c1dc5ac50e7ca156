// `melodrift play` as a user runs it, against the bundled site.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "playback/PlaybackTimes.h"
#include "playback/SiteSongs.h"

namespace melo::playback {
namespace {

struct CommandRun {
  std::string output;
  int exitCode = -1;
};

// The address is passed in UTF-8 and quoted, as `melodrift parse` prints it.
CommandRun Play(const std::string& arguments) {
  const std::string command =
      "MELODRIFT_AUDIO_SINK='fakesink sync=true' " MELODRIFT_PROGRAM " play " + arguments + " 2>&1";
  CommandRun run;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[256];
  while (pipe != nullptr && fgets(buffer, sizeof buffer, pipe) != nullptr) {
    run.output += buffer;
  }
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string ParsedLink(const bundled::BundledSite& site, const bundled::CatalogueSong& song) {
  return "'\"http://" + site.Host() + "/cache/mp3/" + song.id + "/" + song.title + ".mp3\"'";
}

TEST(PlayCommandTest, PlaysAParsedAddressToItsEnd) {
  const bundled::BundledSite site;
  const auto& song = testing::SongWithSpace();
  const std::string total = TotalText(song.lengthMs);
  const CommandRun run = Play(ParsedLink(site, song) + " --seek-ms 1000");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(run.output.starts_with("正在缓冲...\n播放中\n0:01" + total + "\n")) << run.output;
  EXPECT_TRUE(run.output.ends_with(ElapsedText(song.lengthMs) + total + "\n")) << run.output;
}

TEST(PlayCommandTest, AnAddressThatCannotBeOpenedFails) {
  const bundled::BundledSite site;
  const CommandRun run = Play("http://" + site.Host() + "/cache/mp3/0000000/none.mp3");
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("cannot play"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace melo::playback
