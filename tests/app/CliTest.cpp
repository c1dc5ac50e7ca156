// `melodrift` as a user runs it: exit codes, what goes to stdout and stderr.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "site/BundledSite.h"
#include "site/Catalogue.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct CliRun {
  int exitCode;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs melodrift with `args` (already shell-quoted where needed).
CliRun Melodrift(const std::string& args) {
  // ctest runs the cases in parallel: each gets a stderr file of its own.
  const std::string errPath = ::testing::TempDir() + "cli_stderr_" +
                              ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                              ".txt";
  const std::string command = std::string(MELODRIFT_BIN) + " " + args + " 2>" + errPath;
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, ReadFile(errPath)};
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  return text;
}

// Runs melodrift with `args`, presses Ctrl-C once its first row is out, and
// collects the rest.
CliRun InterruptAfterFirstRow(std::vector<std::string> args) {
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
    return {-1, "", "no pipe"};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  args.insert(args.begin(), MELODRIFT_BIN);
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, MELODRIFT_BIN, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  CliRun run{-1, "", ""};
  if (spawned == 0) {
    for (char c; run.out.find('\n') == std::string::npos && read(out[0], &c, 1) == 1;)
      run.out += c;
    kill(pid, SIGINT);
    run.out += ReadAll(out[0]);
    run.err = ReadAll(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  close(out[0]);
  close(err[0]);
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
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

  static std::unique_ptr<melo::bundled::BundledSite> site_;
};

std::unique_ptr<melo::bundled::BundledSite> CliTest::site_;

TEST_F(CliTest, ParsePrintsOneRowAndTheSuccessText) {
  const CliRun run = Melodrift(Site() + "parse " + SongUrl("2244436"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "解析成功:" + StartSong().title + "\n");
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], StartsWith(StartSong().singer + "\t" + StartSong().title + "\t\"http://"));
  EXPECT_THAT(lines[0], ::testing::EndsWith("\t" + SongUrl("2244436")));
}

TEST_F(CliTest, ParseOfAnUnreachableAddress) {
  const CliRun run = Melodrift(Site() + "parse http://127.0.0.1:9/song/1/");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "网络连接失败!\nhttp://127.0.0.1:9/song/1/解析失败\n");
  EXPECT_EQ(run.out, "");
}

TEST_F(CliTest, ParseWithoutSiteUsesTheBundledSite) {
  // The bundled site listens on a port of its own choosing; the start page's
  // address only makes sense there, so parse what crawl lists.
  const CliRun run = Melodrift("--json crawl chart --jobs 2");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto first = nlohmann::json::parse(Lines(run.out).at(0));
  EXPECT_THAT(first["songLink"].get<std::string>(), HasSubstr("://www.localhost:"));
}

TEST_F(CliTest, JsonRowsHaveExactlyTheFiveKeys) {
  const CliRun run = Melodrift(Site() + "--json parse " + SongUrl("2244436"));
  ASSERT_EQ(run.exitCode, 0);
  const auto row = nlohmann::json::parse(run.out);
  std::vector<std::string> keys;
  for (const auto& [key, value] : row.items())
    keys.push_back(key);
  EXPECT_THAT(keys, ::testing::UnorderedElementsAre("singer", "title", "downloadLink", "singerLink",
                                                    "songLink"));
  EXPECT_EQ(row["title"], StartSong().title);
}

TEST_F(CliTest, MixedAddressesExitOne) {
  const CliRun run = Melodrift(Site() + "parse " + SongUrl("2244436") + " " + SongUrl("9999999"));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(Lines(run.out).size(), 1u);
  EXPECT_THAT(run.err, HasSubstr(SongUrl("9999999") + "解析失败"));
}

TEST_F(CliTest, CrawlChartEndsWithDone) {
  const CliRun run = Melodrift(Site() + "crawl chart");
  EXPECT_EQ(run.exitCode, 0);
  const auto status = Lines(run.err);
  ASSERT_FALSE(status.empty());
  EXPECT_EQ(status.back(), "解析完毕");
  EXPECT_EQ(Lines(run.out).size(), status.size() - 1);
}

TEST_F(CliTest, SearchBySinger) {
  const CliRun run = Melodrift(Site() + "--json search singer '" + StartSong().singer + "'");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "获取完毕\n");
  const auto lines = Lines(run.out);
  ASSERT_FALSE(lines.empty());
  const auto row = nlohmann::json::parse(lines[0]);
  EXPECT_EQ(row.size(), 2u);
  EXPECT_TRUE(row.contains("singerLink"));
}

// --site, --demo and --json belong to the program, before or after the
// command's name.
TEST_F(CliTest, ProgramOptionsGoBeforeOrAfterTheCommand) {
  const std::string url = SongUrl("2244436");
  const CliRun before = Melodrift(Site() + "--json parse " + url);
  ASSERT_EQ(before.exitCode, 0);
  for (const std::string& args :
       {"parse " + url + " --json " + Site(), "parse --json " + Site() + url,
        "--json parse " + url + " " + Site()}) {
    SCOPED_TRACE(args);
    const CliRun after = Melodrift(args);
    EXPECT_EQ(after.exitCode, 0);
    EXPECT_EQ(after.out, before.out);
    EXPECT_EQ(after.err, before.err);
  }
}

// Ctrl-C ends a run with the text its stop button writes, and exit code 130.
TEST_F(CliTest, CtrlCEndsWithTheStopText) {
  melo::bundled::BundledSiteOptions slow;
  slow.latencyMs = 100;  // so that the first row is far from the last
  melo::bundled::BundledSite site(slow);
  const struct {
    std::vector<std::string> args;
    const char* lastStatus;
  } cases[] = {
      {{"crawl", "chart", "--jobs", "1"}, "已停止解析"},
      {{"search", "song", "e", "--jobs", "1"}, "已停止"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--site", site.Host()});
    const CliRun run = InterruptAfterFirstRow(args);
    EXPECT_EQ(run.exitCode, 130) << run.err;
    ASSERT_FALSE(Lines(run.err).empty());
    EXPECT_EQ(Lines(run.err).back(), c.lastStatus);
    EXPECT_LT(Lines(run.out).size(), 20u);
  }
}

TEST_F(CliTest, UsageErrorsExitTwo) {
  for (const char* args :
       {"", "frobnicate", "parse", "crawl", "search song", "--site a --demo parse x",
        "parse x --site a --demo", "crawl chart --jobs 0"}) {
    EXPECT_EQ(Melodrift(args).exitCode, 2) << args;
  }
}

TEST_F(CliTest, VersionAndHelp) {
  EXPECT_EQ(Melodrift("--version").out, "v1.5\n");
  const CliRun help = Melodrift("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_THAT(help.out, HasSubstr("parse"));
}

}  // namespace
