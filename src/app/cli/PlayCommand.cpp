#include <CLI/CLI.hpp>

#include "app/cli/Commands.h"

namespace melo::cli {

// Placeholder until the command lands.
void RegisterPlayCommand(CLI::App&, CliContext&) {}

}  // namespace melo::cli
