#include <CLI/CLI.hpp>
#include <iostream>

#include "app/cli/CliOutput.h"
#include "app/cli/Commands.h"
#include "core/store/ListStore.h"

namespace melo::cli {

// Reads the window's store without taking its lock: a reader of a WAL file
// never stands in the way of the window writing it.
void RegisterListCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand("list", "Print the window's song list, as parse prints songs");
  command->callback([&context] {
    ConsoleReporter reporter(std::cout, std::cerr, context.json, false);
    const std::filesystem::path file = store::DefaultStorePath();
    try {
      store::ReadSavedSongs(file, [&](scrape::SongRecord&& song) { reporter.SongRow(song); });
      context.exitCode = 0;
    } catch (const std::exception& error) {
      std::cerr << "melodrift: cannot read the song list " << file.string() << ": " << error.what()
                << '\n';
      context.exitCode = 1;
    }
  });
}

}  // namespace melo::cli
