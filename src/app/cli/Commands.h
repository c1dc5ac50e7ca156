#pragma once
// The subcommands of `melodrift`. Each registers itself on the CLI11 app;
// its callback runs after the whole command line has been parsed, calls
// `context.EnsureSite()` before its first page read and stores its exit code
// in `context.exitCode`.

#include <chrono>
#include <functional>
#include <string>

namespace CLI {
class App;
}

namespace melo::cli {

struct CliContext {
  bool json = false;  // one JSON object per line instead of TSV
  int exitCode = 0;
  // Sets the site host from --site, or starts the bundled site; idempotent.
  std::function<void()> EnsureSite = [] {};
  // How long the bundled site waits for its usual port (see SetUpSite).
  std::chrono::milliseconds sitePortPatience{0};
};

void RegisterParseCommand(CLI::App& app, CliContext& context);
void RegisterCrawlCommand(CLI::App& app, CliContext& context);
void RegisterSearchCommand(CLI::App& app, CliContext& context);
void RegisterCheckUpdateCommand(CLI::App& app, CliContext& context);
void RegisterPlayCommand(CLI::App& app, CliContext& context);
void RegisterDownloadCommand(CLI::App& app, CliContext& context);
void RegisterListCommand(CLI::App& app, CliContext& context);

}  // namespace melo::cli
