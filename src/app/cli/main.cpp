// melodrift: the command line over the same core as the window.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <memory>
#include <span>
#include <string_view>

#include "app/SiteSetup.h"
#include "app/cli/Commands.h"
#include "core/net/PageReader.h"
#include "core/text/Gbk.h"
#include "core/text/TerminalText.h"

namespace {

constexpr int kUsageExit = 2;

// CLI11 only says that a command is missing when the first word names none:
// say which word that was and what the commands are. False when the error
// is another.
bool ReportUnknownCommand(const CLI::App& app, const CLI::ParseError& error) {
  const bool missingCommand = dynamic_cast<const CLI::RequiredError*>(&error) != nullptr ||
                              dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr;
  if (!missingCommand || !app.get_subcommands().empty())
    return false;
  const std::vector<std::string> words = app.remaining();
  const auto word = std::ranges::find_if(
      words, [](const std::string& w) { return !w.empty() && w.front() != '-'; });
  if (word == words.end())
    return false;
  std::string known;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
    known += (known.empty() ? "" : ", ") + command->get_name();
  std::cerr << "melodrift: unknown command \"" << *word << "\"; the commands are: " << known
            << '\n';
  return true;
}

// Whether the words name a command that reads the site.
bool ReadsTheSite(int argc, char** argv) {
  constexpr std::string_view kReaders[] = {"parse", "crawl",    "search",
                                           "play",  "download", "check-update"};
  const std::span<char*> words(argv + 1, static_cast<std::size_t>(std::max(argc - 1, 0)));
  return std::ranges::any_of(words, [&](const char* word) {
    return std::ranges::find(kReaders, std::string_view(word)) != std::end(kReaders);
  });
}

}  // namespace

int main(int argc, char** argv) {
  using namespace melo;
  // Loading libcurl, with the twenty libraries it brings, takes longer than
  // everything else before a command's first request. It is done first, on
  // this thread, while no other runs: beside another thread of the process,
  // each of the loader's many mappings has to be flushed from the other
  // processor too, which costs more than reading the command's words beside
  // it gains. For the same reason the command runs on this thread.
  if (ReadsTheSite(argc, argv)) {
    net::PrepareTransfers();
    text::PrepareConversions();
  }
  net::SetUserAgent("melodrift");

  CLI::App app{"melodrift: turns the site's song pages into songs"};
  app.set_version_flag("--version", "v1.5");
  app.require_subcommand(1);
  // The program-wide options below work after the subcommand's name too
  // (`melodrift crawl chart --json`); subcommands inherit this.
  app.fallthrough();
  app.footer("--site, --demo and --json may also follow the command's name.");

  std::string siteHost;
  bool demo = false;
  auto* siteOption = app.add_option("--site", siteHost, "Read this site (HOST[:PORT])");
  app.add_flag("--demo", demo, "Read the bundled site (the default)")->excludes(siteOption);

  cli::CliContext context;
  app.add_flag("--json", context.json, "One JSON object per line instead of TSV");

  std::unique_ptr<app::BundledSiteRun> bundledSite;
  bool siteSetUp = false;
  context.EnsureSite = [&] {
    if (siteSetUp)
      return;
    bundledSite = app::SetUpSite(siteHost, context.sitePortPatience);
    siteSetUp = true;
  };

  cli::RegisterParseCommand(app, context);
  cli::RegisterCrawlCommand(app, context);
  cli::RegisterSearchCommand(app, context);
  cli::RegisterCheckUpdateCommand(app, context);
  cli::RegisterPlayCommand(app, context);
  cli::RegisterDownloadCommand(app, context);
  cli::RegisterListCommand(app, context);

  int exitCode = 0;
  try {
    app.parse(argc, argv);
    exitCode = context.exitCode;
  } catch (const CLI::ParseError& e) {
    const int code = ReportUnknownCommand(app, e) ? kUsageExit : app.exit(e);
    exitCode = code == 0 ? 0 : kUsageExit;
  } catch (const std::exception& e) {
    std::cerr << "melodrift: " << melo::text::TerminalSafe(e.what()) << '\n';
    exitCode = 1;
  }
  // Page reads keep their connections open for the next ones: closed now, so
  // that the bundled site then stops without waiting for them to go idle.
  net::CloseThreadConnections();
  return exitCode;
}
