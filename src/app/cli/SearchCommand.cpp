#include <CLI/CLI.hpp>
#include <iostream>

#include "app/cli/CliOutput.h"
#include "app/cli/Commands.h"
#include "core/scrape/SiteSearch.h"
#include "core/scrape/StatusTexts.h"
#include "core/text/Gbk.h"

namespace melo::cli {
namespace {

struct SearchOptions {
  std::string mode;
  std::string keyword;
  int jobs = 4;
};

}  // namespace

void RegisterSearchCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand("search", "Search the site by song title or by singer");
  auto options = std::make_shared<SearchOptions>();
  command->add_option("MODE", options->mode, "song or singer")
      ->required()
      ->check(CLI::IsMember({"song", "singer"}));
  command->add_option("KEYWORD", options->keyword, "What to look for")->required();
  command->add_option("--jobs", options->jobs, "Song pages fetched at once")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  command->callback([&context, options] {
    context.EnsureSite();
    scrape::SearchRequest request;
    request.keyword = text::Utf8ToGbk(options->keyword);
    request.jobs = options->jobs;
    const auto mode =
        options->mode == "song" ? scrape::SearchMode::kSong : scrape::SearchMode::kSinger;
    request.readMode = [mode] { return mode; };
    const std::string nothingFound =
        text::Gbk(mode == scrape::SearchMode::kSong ? "没有找到歌曲:" : "没有找到歌手:") +
        request.keyword;
    context.exitCode = RunOnConsole(
        context.json, scrape::texts::kSearchStopped,
        [&](auto& reporter, std::stop_token stop) {
          scrape::RunSiteSearch(request, reporter, stop);
        },
        nothingFound);
  });
}

}  // namespace melo::cli
