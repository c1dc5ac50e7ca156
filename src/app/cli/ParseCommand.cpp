#include <CLI/CLI.hpp>

#include "app/cli/CliOutput.h"
#include "app/cli/Commands.h"
#include "core/net/PageReader.h"
#include "core/scrape/AddLink.h"
#include "core/text/Gbk.h"

namespace melo::cli {

void RegisterParseCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand("parse", "Parse song pages as the URL box's OK does");
  auto addresses = std::make_shared<std::vector<std::string>>();
  // An address the page reader would refuse unread is a usage error.
  const CLI::Validator pageAddress(
      [](std::string& address) {
        const std::string refusal = net::AddressRefusal(text::Utf8ToGbk(address));
        return refusal.empty() ? refusal : address + ": " + refusal;
      },
      "");
  command->add_option("URL", *addresses, "Song page address")->required()->check(pageAddress);
  command->callback([&context, addresses] {
    context.EnsureSite();
    // Every failed parse ends in a failure text, so the run's exit code says
    // whether all addresses parsed.
    context.exitCode = RunOnConsole(context.json, {}, [&](auto& reporter, std::stop_token stop) {
      for (const std::string& address : *addresses) {
        if (stop.stop_requested())
          return;
        scrape::RunAddLink(text::Utf8ToGbk(address), reporter, stop);
      }
    });
  });
}

}  // namespace melo::cli
