#include <CLI/CLI.hpp>
#include <iostream>

#include "app/cli/CliOutput.h"
#include "app/cli/Commands.h"
#include "core/scrape/AddLink.h"
#include "core/text/Gbk.h"

namespace melo::cli {

void RegisterParseCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand("parse", "Parse song pages as the URL box's OK does");
  auto addresses = std::make_shared<std::vector<std::string>>();
  command->add_option("URL", *addresses, "Song page address")->required();
  command->callback([&context, addresses] {
    context.EnsureSite();
    InterruptStop interrupt;
    ConsoleReporter reporter(std::cout, std::cerr, context.json, false);
    bool allParsed = true;
    for (const std::string& address : *addresses) {
      const int rowsBefore = reporter.Rows();
      scrape::RunAddLink(text::Utf8ToGbk(address), reporter, interrupt.Token());
      if (interrupt.Interrupted()) {
        context.exitCode = kInterruptedExit;
        return;
      }
      if (reporter.Rows() == rowsBefore)
        allParsed = false;
    }
    context.exitCode = allParsed ? 0 : 1;
  });
}

}  // namespace melo::cli
