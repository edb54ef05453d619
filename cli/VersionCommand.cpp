#include <cstdio>

#include "cli/Commands.h"

namespace bcu::cli {

void RegisterVersionCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand("version", "Print the updater's version");
  cmd->callback([] { std::printf("Brisant Code Updater 1.3.2\n"); });
}

}  // namespace bcu::cli
