// The programs find their modules (the player, the tagger, the bundled site)
// from their own place in the build tree, and a module missing or broken
// fails what needs it with a reason instead of a crash, an untagged song or
// a read that waits for ever.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "Printers.h"
#include "ProgramRun.h"
#include "site/BundledSite.h"
#include "site/Catalogue.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using namespace melo::app::testing;

// `environment` comes before the program on the shell's line.
ProgramRun MelodriftWith(const std::string& environment, const std::string& args) {
  return RunProgram(environment + " MELODRIFT_AUDIO_SINK='fakesink sync=true' " MELODRIFT_BIN,
                    args);
}

struct FolderRow {
  const char* name;
  // Fills the module folder the program is pointed at; null: none, the
  // program looks beside itself.
  std::function<void(const fs::path& folder)> fill;
  const char* playFailure;  // empty: the song plays
  const char* tagFailure;   // empty: the song is saved tagged
  const char* siteFailure;  // empty: the bundled site serves its chart
  friend void PrintTo(const FolderRow& row, std::ostream* os) { *os << row.name; }
};

void Swapped(const fs::path& folder) {
  fs::copy_file(MELO_TEST_MODULE_DIR "/tagger.so", folder / "player.so");
  fs::copy_file(MELO_TEST_MODULE_DIR "/player.so", folder / "tagger.so");
  fs::copy_file(MELO_TEST_MODULE_DIR "/tagger.so", folder / "site.so");
}

void NotLibraries(const fs::path& folder) {
  for (const char* name : {"player.so", "tagger.so", "site.so"})
    std::ofstream(folder / name) << "not a library";
}

// Exit code 0, or 1 with `failure` in the output when it is not empty.
void ExpectOutcome(const char* command, const ProgramRun& run, const char* failure) {
  SCOPED_TRACE(command);
  EXPECT_EQ(run.exitCode, *failure == '\0' ? 0 : 1) << run.out << run.err;
  EXPECT_THAT(run.out + run.err, HasSubstr(failure));
}

class ModuleLoadTest : public ::testing::TestWithParam<FolderRow> {};

TEST_P(ModuleLoadTest, PlaysAndTagsOrSaysWhichModuleFailed) {
  const FolderRow& row = GetParam();
  const fs::path work = fs::path(::testing::TempDir()) / (std::string("modules_") + row.name);
  fs::remove_all(work);
  fs::create_directories(work / "modules");
  std::string environment = "env -u MELODRIFT_MODULE_DIR";
  if (row.fill) {
    row.fill(work / "modules");
    environment = "MELODRIFT_MODULE_DIR='" + (work / "modules").string() + "'";
  }
  const melo::bundled::BundledSite site;
  const melo::bundled::CatalogueSong& song = *melo::bundled::DemoCatalogue().FindSong("2244436");

  const ProgramRun saved = MelodriftWith(environment, "--site " + site.Host() + " download -P '" +
                                                          (work / "songs").string() + "' http://" +
                                                          site.Host() + "/song/" + song.id + "/");
  const fs::path file = work / "songs" / (song.singer + " - " + song.title + ".mp3");
  ExpectOutcome("download", saved, row.tagFailure);
  if (*row.tagFailure == '\0')
    EXPECT_THAT(ReadFile(file).substr(0, 4096), HasSubstr("TIT2"));
  else
    EXPECT_FALSE(fs::exists(file));

  // The site is loaded only once its port is knocked at.
  ExpectOutcome("crawl", MelodriftWith(environment, "crawl chart --jobs 2"), row.siteFailure);

#ifdef MELO_HAVE_PLAYBACK
  const auto songs = melo::bundled::DemoCatalogue().Songs();
  const auto shortest =
      std::ranges::min_element(songs, {}, &melo::bundled::CatalogueSong::lengthMs);
  ExpectOutcome("play",
                MelodriftWith(environment, "play http://" + site.Host() + "/cache/mp3/" +
                                               shortest->id + "/x.mp3"),
                row.playFailure);
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ModuleLoadTest,
    ::testing::Values(FolderRow{"BesideTheProgram", nullptr, "", "", ""},
                      FolderRow{"Empty", [](const fs::path&) {}, "cannot start playback: ",
                                "cannot write tags: ", "cannot start the bundled site: "},
                      FolderRow{"NotLibraries", NotLibraries,
                                "cannot start playback: ", "cannot write tags: ", "site.so: "},
                      FolderRow{"Swapped", Swapped, "player.so: has no melo_make_media_device",
                                "tagger.so: has no melo_place_tagged",
                                "site.so: has no melo_serve_bundled_site"}),
    melo::printing::CaseName());

}  // namespace
