#pragma once
// The programs run as a user runs them, from the shell: the exit code and
// what goes to stdout and to stderr.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

namespace melo::app::testing {

struct ProgramRun {
  int exitCode;
  std::string out;
  std::string err;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Runs `program` (after the environment it is to run in, if any) with `args`
// (already shell-quoted where needed); with `ctrlC`, sends it SIGINT once its
// first row is out, as Ctrl-C would.
inline ProgramRun RunProgram(const std::string& program, const std::string& args,
                             bool ctrlC = false) {
  // ctest runs the cases in parallel: each gets files of its own.
  std::string files = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::ranges::replace(files, '/', '_');
  files = ::testing::TempDir() + "run_" + files;
  std::string command = program + " " + args + " >" + files + ".out 2>" + files + ".err";
  if (ctrlC) {
    command = ": >" + files + ".out; " + command + " & p=$!; until [ -s " + files +
              ".out ] || ! kill -0 $p 2>/dev/null; do sleep 0.01; done; kill -INT $p; wait $p";
  }
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(files + ".out"),
          ReadFile(files + ".err")};
}

}  // namespace melo::app::testing
