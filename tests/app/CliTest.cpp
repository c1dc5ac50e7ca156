// `melodrift` as a user runs it: exit codes, what goes to stdout and stderr.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "ProgramRun.h"
#include "core/scrape/AddLink.h"
#include "core/site/Site.h"
#include "core/store/ListStore.h"
#include "site/BundledSite.h"
#include "site/Catalogue.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using namespace melo::app::testing;

ProgramRun Melodrift(const std::string& args, bool ctrlC = false) {
  return RunProgram(MELODRIFT_BIN, args, ctrlC);
}

std::vector<std::string> Split(const std::string& text, char separator = '\n') {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);)
    parts.push_back(part);
  return parts;
}

std::vector<std::string> Keys(const nlohmann::ordered_json& row) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : row.items())
    keys.push_back(key);
  return keys;
}

class CliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { site_ = std::make_unique<melo::bundled::BundledSite>(); }
  static void TearDownTestSuite() { site_.reset(); }

  static std::string Site() { return "--site " + site_->Host() + " "; }
  static std::string SongUrl(const std::string& id) {
    return "http://" + site_->Host() + "/song/" + id + "/";
  }
  static const melo::bundled::CatalogueSong& StartSong() {
    return *melo::bundled::DemoCatalogue().FindSong("2244436");
  }

  static inline std::unique_ptr<melo::bundled::BundledSite> site_;
};

// Addresses are parsed in turn, each ending in its own text; any failure exits 1.
TEST_F(CliTest, ParsePrintsARowPerSongAndExitsOneWhenOneFails) {
  const std::string unreachable = "http://127.0.0.1:9/song/1/";
  const ProgramRun run = Melodrift(Site() + "parse " + SongUrl("2244436") + " " +
                                   SongUrl("9999999") + " " + unreachable);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "解析成功:" + StartSong().title + "\n" + SongUrl("9999999") +
                         "解析失败\n网络连接失败!\n" + unreachable + "解析失败\n");
  const auto lines = Split(run.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], StartsWith(StartSong().singer + "\t" + StartSong().title + "\t\"http://"));
  EXPECT_THAT(lines[0], ::testing::EndsWith("\t" + SongUrl("2244436")));
}

TEST_F(CliTest, CrawlWithoutSiteListsTheBundledSitesChartThenSaysDone) {
  const ProgramRun run = Melodrift("--json crawl chart --jobs 2");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto status = Split(run.err);
  ASSERT_FALSE(status.empty());
  EXPECT_EQ(status.back(), "解析完毕");
  EXPECT_EQ(Split(run.out).size(), status.size() - 1);
  // The bundled site listens on a port of its own choosing.
  const auto first = nlohmann::json::parse(Split(run.out).at(0));
  EXPECT_THAT(first["songLink"].get<std::string>(), HasSubstr("://www.localhost:"));
}

// A run's end says what it found: a singer page that answers an error
// status fails with that status after the window's last text; a search that
// finds nothing says so, and that is no failure.
TEST_F(CliTest, RunsSayWhatTheyFoundOrWhyNot) {
  const ProgramRun singers =
      Melodrift(Site() + "--json search singer '" + StartSong().singer + "'");
  EXPECT_EQ(singers.exitCode, 0);
  EXPECT_EQ(singers.err, "获取完毕\n");
  const auto row = nlohmann::ordered_json::parse(Split(singers.out).at(0));
  EXPECT_THAT(Keys(row), ::testing::UnorderedElementsAre("singer", "singerLink"));

  const struct {
    std::string args;
    int exitCode;
    std::string err;
  } cases[] = {
      {"crawl http://" + site_->Host() + "/singer/999999/", 1, "解析完毕\nHTTP 404\n"},
      {"search song zzqqzz", 0, "获取完毕\n没有找到歌曲:zzqqzz\n"},
      {"search singer zzqqzz", 0, "获取完毕\n没有找到歌手:zzqqzz\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const ProgramRun run = Melodrift(Site() + c.args);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out, "");
  }
}

// --site, --demo and --json belong to the program, before or after the
// command's name.
TEST_F(CliTest, ProgramOptionsGoBeforeOrAfterTheCommand) {
  const std::string url = SongUrl("2244436");
  const ProgramRun before = Melodrift(Site() + "--json parse " + url);
  ASSERT_EQ(before.exitCode, 0);
  const auto row = nlohmann::ordered_json::parse(before.out);
  EXPECT_THAT(Keys(row), ::testing::UnorderedElementsAre("singer", "title", "downloadLink",
                                                         "singerLink", "songLink"));
  EXPECT_EQ(row["title"], StartSong().title);
  for (const std::string& args :
       {"parse " + url + " --json " + Site(), "parse --json " + Site() + url,
        "--json parse " + url + " " + Site()}) {
    SCOPED_TRACE(args);
    const ProgramRun after = Melodrift(args);
    EXPECT_EQ(after.exitCode, 0);
    EXPECT_EQ(after.out, before.out);
    EXPECT_EQ(after.err, before.err);
  }
}

// Ctrl-C ends a run with the text its stop button writes, and exit code 130.
TEST_F(CliTest, CtrlCEndsWithTheStopText) {
  const melo::bundled::BundledSite site({.latencyMs = 100});  // the first row far from the last
  for (const auto& [args, lastStatus] : {std::pair{"crawl chart --jobs 1", "已停止解析"},
                                         std::pair{"search song e --jobs 1", "已停止"}}) {
    SCOPED_TRACE(args);
    const ProgramRun run = Melodrift(args + (" --site " + site.Host()), true);
    EXPECT_EQ(run.exitCode, 130) << run.err;
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(Split(run.err).back(), lastStatus);
    EXPECT_LT(Split(run.out).size(), 20u);
  }
}

// A usage error reads nothing; where the words alone show what is wrong, the
// message names it.
TEST_F(CliTest, ExitCodes) {
  EXPECT_EQ(Melodrift("--version").out, "v1.5\n");
  EXPECT_EQ(Melodrift("--help").exitCode, 0);
  const std::pair<const char*, const char*> usageErrors[] = {
      {"", ""},
      {"frobnicate",
       "unknown command \"frobnicate\"; the commands are: parse, crawl, search, check-update, "
       "play, download"},
      {"parse", ""},
      {"parse notaurl", "notaurl: not a web address: it needs the scheme http:// or https://"},
      {"parse http://127.0.0.1:9/song/1/ ftp://h/", "ftp://h/: scheme \"ftp\" is neither"},
      {"crawl", ""},
      {"crawl nothing", "nothing: neither chart, listening, recommended nor a singer link"},
      {"search song", ""},
      {"--site a --demo parse x", ""},
      {"parse x --site a --demo", ""},
      {"crawl chart --jobs 0", ""},
      {"download", ""},
      {"download --id3v2-version 5 -", ""},
      {"download --limit-rate fast -", ""},
      {"download --jobs 0 -", ""},
  };
  for (const auto& [args, message] : usageErrors) {
    SCOPED_TRACE(args);
    const ProgramRun run = Melodrift(args);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.err, HasSubstr(message));
    EXPECT_THAT(run.err, Not(HasSubstr("网络连接失败!")));
  }
}

#ifdef MELODRIFTDOWN_BIN
// The window's program prints its help and version without a display.
TEST_F(CliTest, WindowProgramPrintsHelpAndVersionWithoutADisplay) {
  const std::string noDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
  const ProgramRun version = RunProgram(noDisplay + MELODRIFTDOWN_BIN, "--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "melodriftdown v1.5\n");
  for (const char* help : {"--help", "--site h -h"}) {
    SCOPED_TRACE(help);
    const ProgramRun run = RunProgram(noDisplay + MELODRIFTDOWN_BIN, help);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("--site"));
  }
}
#endif

// The chart piped into download fills the folder; then a song already there
// is skipped and a missing one fails, each a JSON object of every field.
TEST_F(CliTest, DownloadTheChartFromStandardInputThenSkipAndFail) {
  const std::string folder = ::testing::TempDir() + "cli_download";
  std::filesystem::remove_all(folder);
  const ProgramRun first = Melodrift(Site() + "--json crawl chart 2>/dev/null | " + MELODRIFT_BIN +
                                     " " + Site() + "download -P " + folder + " -");
  EXPECT_EQ(first.exitCode, 0) << first.err;
  const auto lines = Split(first.out);
  ASSERT_FALSE(lines.empty());
  ASSERT_EQ(Split(first.err).size(), lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    const auto fields = Split(lines[i], '\t');
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_TRUE(fields[0] == "downloaded" || fields[0] == "skipped");  // the chart may repeat
    EXPECT_EQ(std::to_string(std::filesystem::file_size(fields[1])), fields[2]);
    EXPECT_EQ(Split(first.err)[i],
              (fields[0] == "downloaded" ? "下载完成:" : "已存在:") + fields[1]);
  }
  EXPECT_THAT(lines[0], StartsWith("downloaded\t" + folder + "/" + StartSong().singer + " - " +
                                   StartSong().title + ".mp3\t"));

  const ProgramRun second = Melodrift(Site() + "--json download -P " + folder + " " +
                                      SongUrl("2244436") + " " + SongUrl("0000000"));
  EXPECT_EQ(second.exitCode, 1);
  const auto rows = Split(second.out);
  ASSERT_EQ(rows.size(), 2u);
  const auto skipped = nlohmann::ordered_json::parse(rows[0]);
  EXPECT_THAT(Keys(skipped), ElementsAre("status", "path", "bytes", "singer", "title",
                                         "downloadLink", "songLink", "error"));
  EXPECT_EQ(skipped["status"], "skipped");
  EXPECT_EQ(skipped["title"], StartSong().title);
  EXPECT_TRUE(skipped["error"].is_null());
  EXPECT_THAT(skipped["downloadLink"].get<std::string>(), StartsWith("\"http://"));
  const auto failed = nlohmann::json::parse(rows[1]);
  EXPECT_EQ(failed["status"], "failed");
  EXPECT_EQ(failed["error"], "解析失败");
  EXPECT_THAT(second.err, HasSubstr(SongUrl("0000000") + "   下载失败:解析失败\n"));
}

// What a terminal would act on: C0 controls but the tab and line feed the
// output's own format writes, DEL, and C1 controls.
bool HoldsTerminalControls(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool c1 = byte == 0xC2 && i + 1 < text.size() &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if ((byte < 0x20 && byte != '\t' && byte != '\n') || byte == 0x7F || c1)
      return true;
  }
  return false;
}

// A song page whose title, singer and MP3 address are full of escape
// sequences leaves the terminal as it was, with every command.
TEST(HostilePageTest, NothingItSendsReachesTheTerminalAsAControl) {
  namespace fs = std::filesystem;
  const fs::path pages = fs::path(::testing::TempDir()) / "cli_hostile_pages";
  fs::remove_all(pages);
  fs::create_directories(pages / "song" / "9100001");
  std::string page = ReadFile(MELO_TEST_PAGES_DIR "/song/9000004/index.html");
  // Escape sequences, then GB18030's four-byte U+009B (CSI) and U+202E.
  for (const std::string from : {"Winter Radio", "Ora Kestrel"}) {
    for (auto at = page.find(from); at != std::string::npos; at = page.find(from, at))
      page.replace(at, from.size(),
                   "t\x1b]0;owned\x07\x1b[2J\x1b[31m\x7f\x81\x30\x83\x37\x81\x36\xa7\x31");
  }
  std::ofstream(pages / "song" / "9100001" / "index.html", std::ios::binary) << page;
  const melo::bundled::BundledSite site({.pagesDir = pages.string()});
  const std::string url = "http://" + site.Host() + "/song/9100001/";
  const std::string folder = ::testing::TempDir() + "cli_hostile_download";
  std::filesystem::remove_all(folder);

  const std::string download = " --site " + site.Host() + " download -P " + folder + " ";
  for (const auto& [command, shown] :
       {std::pair<std::string, bool>{"parse " + url, true},
        {"--json parse " + url, false},
        {"download" + download + url, false},
        {"parse " + url + " 2>/dev/null | " + MELODRIFT_BIN + download + "--force-overwrites -",
         false}}) {
    const ProgramRun run = Melodrift("--site " + site.Host() + " " + command);
    SCOPED_TRACE(command + "\n" + run.out + run.err);
    EXPECT_FALSE(HoldsTerminalControls(run.out));
    EXPECT_FALSE(HoldsTerminalControls(run.err));
    EXPECT_EQ(run.out.find("\\x1b]0;owned\\x07") != std::string::npos, shown);
  }
  // The right-to-left override would show the name in another order.
  ASSERT_FALSE(fs::is_empty(folder));
  for (const auto& entry : fs::directory_iterator(folder))
    EXPECT_EQ(entry.path().filename().string().find("\xE2\x80\xAE"), std::string::npos);
}

// The window's list, read while the window holds it, prints as parse prints
// and feeds download.
TEST_F(CliTest, ListPrintsTheWindowsRowsAsParseDoesWhileTheWindowRuns) {
  struct Collect : melo::scrape::RunReporter {
    void Status(const std::string&) override {}
    void SongRow(const melo::scrape::SongRecord& song) override { songs.push_back(song); }
    std::vector<melo::scrape::SongRecord> songs;
  } parsed;
  melo::site::SetSiteHost(site_->Host());
  melo::scrape::RunAddLink(SongUrl("2244436"), parsed, {});
  ASSERT_EQ(parsed.songs.size(), 1u);

  EXPECT_EQ(Melodrift("list").out, "");  // nothing saved yet
  melo::store::OpenedStore window =
      melo::store::OpenListStore(melo::store::DefaultStorePath(), [](auto&&) {});
  ASSERT_EQ(window.state, melo::store::StoreState::kSaving) << window.problem;
  window.store->AppendSong(parsed.songs[0]);
  window.store->Flush();

  const ProgramRun list = Melodrift("list");
  EXPECT_EQ(list.exitCode, 0) << list.err;
  EXPECT_EQ(list.out, Melodrift(Site() + "parse " + SongUrl("2244436")).out);

  const std::string folder = ::testing::TempDir() + "cli_list";
  std::filesystem::remove_all(folder);
  const ProgramRun saved = Melodrift("list --json | " + std::string(MELODRIFT_BIN) + " " + Site() +
                                     "download -P " + folder + " -");
  EXPECT_EQ(saved.exitCode, 0) << saved.err;
  EXPECT_THAT(saved.out, StartsWith("downloaded\t" + folder + "/" + StartSong().singer + " - " +
                                    StartSong().title + ".mp3\t"));
}

}  // namespace
