#include <CLI/CLI.hpp>
#include <iostream>
#include <nlohmann/json.hpp>

#include "app/cli/CliOutput.h"
#include "app/cli/Commands.h"
#include "core/net/PageReader.h"
#include "core/text/Gbk.h"
#include "core/text/TerminalText.h"
#include "core/update/UpdateCheck.h"

namespace melo::cli {
namespace {

void PrintFinding(const update::UpdateFinding& finding, bool json) {
  const bool newer = finding.verdict == update::UpdateVerdict::kNewer;
  const std::string address = finding.downloadAddress.value_or("");
  if (json) {
    nlohmann::json line{{"latest", text::GbkToUtf8(finding.latestVersion)},
                        {"running", update::kRunningVersion},
                        {"newer", newer}};
    if (newer && finding.downloadAddress) {
      line["address"] = text::GbkToUtf8(address);
    }
    std::cout << text::TerminalSafeJson(line.dump()) << '\n';
    return;
  }
  if (!newer) {
    std::cout << "当前版本已是最新版\n";
    return;
  }
  std::cout << "发现有新版本\n";
  if (finding.downloadAddress) {
    std::cout << text::TerminalSafe(text::GbkToUtf8(address)) << '\n';
  }
}

int CheckForUpdate(const CliContext& context) {
  InterruptStop interrupt;
  try {
    const update::UpdateFinding finding =
        update::EvaluateUpdatePage(update::ReadUpdatePage(interrupt.Token()));
    if (finding.verdict == update::UpdateVerdict::kNoVersion) {
      std::cerr << "melodrift: the update page names no version\n";
      return 1;
    }
    PrintFinding(finding, context.json);
    return 0;
  } catch (const net::TransferStopped&) {
    return kInterruptedExit;
  } catch (const net::InternetError& error) {
    std::cerr << text::TerminalSafe(error.what()) << '\n';
    return 1;
  }
}

}  // namespace

void RegisterCheckUpdateCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand(
      "check-update", "Check the program's update page for a newer version, as the About box does");
  command->callback([&context] {
    context.EnsureSite();
    context.exitCode = CheckForUpdate(context);
  });
}

}  // namespace melo::cli
