#include <CLI/CLI.hpp>

#include "app/cli/Commands.h"

namespace melo::cli {

// Placeholder until the command lands.
void RegisterCheckUpdateCommand(CLI::App&, CliContext&) {}

}  // namespace melo::cli
