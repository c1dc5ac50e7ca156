// `melodrift play` as a user runs it, against the bundled site.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>

#include "playback/PlaybackTimes.h"
#include "site/BundledSite.h"
#include "site/Catalogue.h"

namespace melo::playback {
namespace {

// Exit code and output of `melodrift play <arguments>`.
std::pair<int, std::string> Play(const std::string& arguments) {
  const std::string command =
      "MELODRIFT_AUDIO_SINK='fakesink sync=true' " MELODRIFT_PROGRAM " play " + arguments + " 2>&1";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[256];
  while (pipe != nullptr && fgets(buffer, sizeof buffer, pipe) != nullptr) {
    output += buffer;
  }
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(PlayCommandTest, PlaysAParsedAddressToItsEndAndFailsOnOneThatCannotBeOpened) {
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

  const auto [failedCode, failure] = Play("http://" + site.Host() + "/cache/mp3/0000000/none.mp3");
  EXPECT_EQ(failedCode, 1) << failure;
  EXPECT_NE(failure.find("cannot play"), std::string::npos) << failure;
}

}  // namespace
}  // namespace melo::playback
