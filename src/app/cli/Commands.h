#pragma once
// The subcommands of `melodrift`. Each registers itself on the CLI11 app;
// its callback stores the exit code in `context.exitCode`.

#include <string>

namespace CLI {
class App;
}

namespace melo::cli {

struct CliContext {
  bool json = false;  // one JSON object per line instead of TSV
  int exitCode = 0;
};

void RegisterParseCommand(CLI::App& app, CliContext& context);
void RegisterCrawlCommand(CLI::App& app, CliContext& context);
void RegisterSearchCommand(CLI::App& app, CliContext& context);
void RegisterCheckUpdateCommand(CLI::App& app, CliContext& context);
void RegisterPlayCommand(CLI::App& app, CliContext& context);

}  // namespace melo::cli
