// `cmake --install` into a temporary DESTDIR, as a package build does: the
// tree a desktop looks into, and the desktop's own checkers on its files.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "ProgramRun.h"

namespace {

namespace fs = std::filesystem;
using melo::app::testing::ReadFile;
using ::testing::HasSubstr;

const std::string kAppId = "io.github.melodriftdown.MeloDriftDown";

int ExitOf(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The value of `key=` in a desktop entry or "" when there is none.
std::string EntryValue(const std::string& entry, const std::string& key) {
  std::istringstream lines(entry);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(key + "="))
      return line.substr(key.size() + 1);
  }
  return "";
}

// Width and height from a PNG's header chunk.
std::array<std::uint32_t, 2> PngSize(const fs::path& path) {
  const std::string bytes = ReadFile(path);
  const auto word = [&](std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = at; i < at + 4; ++i)
      value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
  };
  if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0)
    return {0, 0};
  return {word(16), word(20)};
}

class InstallTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = ::testing::TempDir() + "melo-install-XXXXXX";
    destDir_ = mkdtemp(pattern.data());
    installExit_ =
        ExitOf("DESTDIR=" + destDir_.string() +
               " '" CMAKE_COMMAND "' --install '" MELO_BUILD_DIR "' --prefix /usr >/dev/null");
  }
  static void TearDownTestSuite() { fs::remove_all(destDir_); }

  static fs::path Usr(const std::string& relative) { return destDir_ / "usr" / relative; }
  static fs::path Entry() { return Usr("share/applications/" + kAppId + ".desktop"); }
  static fs::path Metainfo() { return Usr("share/metainfo/" + kAppId + ".metainfo.xml"); }

  inline static fs::path destDir_;
  inline static int installExit_ = -1;
};

TEST_F(InstallTest, TreeHoldsWhatTheDesktopLooksFor) {
  ASSERT_EQ(installExit_, 0);
  for (const char* file :
       {"bin/melodriftdown", "bin/melodrift", "bin/melodrift-site", "share/man/man1/melodrift.1.gz",
        "share/man/man1/melodriftdown.1.gz", "share/man/man1/melodrift-site.1.gz"}) {
    EXPECT_GT(fs::file_size(Usr(file)), 0U) << file;
  }
  const std::string entry = ReadFile(Entry());
  EXPECT_TRUE(fs::exists(Usr("bin/" + EntryValue(entry, "Exec")))) << EntryValue(entry, "Exec");
  EXPECT_EQ(EntryValue(entry, "Categories"), "AudioVideo;Audio;Network;");
  EXPECT_NE(EntryValue(entry, "Name[zh_CN]"), "");
  EXPECT_NE(EntryValue(entry, "Comment[zh_CN]"), "");

  // The entry names its icon, which every size of the theme holds.
  const std::string icon = EntryValue(entry, "Icon");
  for (const std::uint32_t size : {16U, 32U, 48U, 64U, 128U, 256U}) {
    const std::string dir = std::to_string(size) + "x" + std::to_string(size);
    const auto actual = PngSize(Usr("share/icons/hicolor/" + dir + "/apps/" + icon + ".png"));
    EXPECT_EQ(actual, (std::array{size, size})) << dir;
  }

  const std::string metainfo = ReadFile(Metainfo());
  EXPECT_THAT(metainfo, HasSubstr("<launchable type=\"desktop-id\">" + kAppId + ".desktop<"));
  for (const std::string binary : {"melodriftdown", "melodrift", "melodrift-site"})
    EXPECT_THAT(metainfo, HasSubstr("<binary>" + binary + "</binary>"));
}

// The installed programs find their modules from their own place.
TEST_F(InstallTest, ProgramsFindTheirInstalledModules) {
  ASSERT_EQ(installExit_, 0);
  for (const char* name : {"tagger.so", "player.so", "site.so"})
    EXPECT_GT(fs::file_size(Usr(MELO_MODULE_INSTALL_DIR "/") / name), 0U) << name;
#ifdef MELO_HAVE_PLAYBACK
  // The player is loaded: the open gets as far as the connection.
  const std::string play = "env -u MELODRIFT_MODULE_DIR '" + Usr("bin/melodrift").string() +
                           "' play http://127.0.0.1:1/x.mp3 2>&1 | grep -q \"Couldn't connect\"";
  EXPECT_EQ(ExitOf(play), 0) << play;
#endif
}

TEST_F(InstallTest, DesktopCheckersFindNoFault) {
  ASSERT_EQ(installExit_, 0);
  bool ranAny = false;
  for (const auto& [checker, command] :
       {std::pair{"desktop-file-validate", "desktop-file-validate '" + Entry().string() + "'"},
        std::pair{"appstreamcli",
                  "appstreamcli validate --no-net '" + Metainfo().string() + "'"}}) {
    if (ExitOf(std::string("command -v ") + checker + " >/dev/null") != 0)
      continue;
    ranAny = true;
    EXPECT_EQ(ExitOf(command), 0) << command;
  }
  if (!ranAny)
    GTEST_SKIP() << "neither desktop-file-validate nor appstreamcli is installed";
}

}  // namespace
