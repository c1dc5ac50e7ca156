#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>

#include "app/cli/CliOutput.h"
#include "app/cli/Commands.h"
#include "core/net/PageReader.h"
#include "core/scrape/ListCrawl.h"
#include "core/scrape/StatusTexts.h"
#include "core/text/Gbk.h"

namespace melo::cli {
namespace {

constexpr const char* kListNames[] = {"chart", "listening", "recommended"};

// A list name, or a singer link the page reader would read.
std::string CheckTarget(const std::string& target) {
  if (std::ranges::find(kListNames, target) != std::end(kListNames))
    return {};
  const std::string refusal = net::AddressRefusal(text::Utf8ToGbk(target));
  if (refusal.empty())
    return {};
  return target + ": neither chart, listening, recommended nor a singer link (" + refusal + ")";
}

struct CrawlOptions {
  std::string target;
  int jobs = 4;
};

scrape::CrawlRequest RequestFor(const CrawlOptions& options) {
  using scrape::ListPage;
  scrape::CrawlRequest request;
  request.jobs = options.jobs;
  const auto listPage = [&](ListPage page) {
    request.address = scrape::ListPageAddress(page);
    request.pattern = scrape::PatternFor(page);
  };
  if (options.target == "chart") {
    listPage(ListPage::kChart);
  } else if (options.target == "listening") {
    listPage(ListPage::kListening);
  } else if (options.target == "recommended") {
    listPage(ListPage::kRecommended);
  } else {
    request.address = text::Utf8ToGbk(options.target);  // a singer link
  }
  return request;
}

}  // namespace

void RegisterCrawlCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand(
      "crawl", "List every song of a list page (chart, listening, recommended) or a singer page");
  auto options = std::make_shared<CrawlOptions>();
  command->add_option("PAGE", options->target, "chart, listening, recommended, or a singer link")
      ->required()
      ->check(CLI::Validator([](std::string& target) { return CheckTarget(target); }, ""));
  command->add_option("--jobs", options->jobs, "Song pages fetched at once")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  command->callback([&context, options] {
    context.EnsureSite();
    const scrape::CrawlRequest request = RequestFor(*options);
    context.exitCode = RunOnConsole(context.json, scrape::texts::kCrawlStopped,
                                    [&](auto& reporter, std::stop_token stop) {
                                      scrape::RunListCrawl(request, reporter, stop);
                                    });
  });
}

}  // namespace melo::cli
