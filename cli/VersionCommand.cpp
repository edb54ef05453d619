#include <cstdio>

#include "cli/CommandLine.h"
#include "cli/Commands.h"

namespace bcu::cli {

void RegisterVersionCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand("version", "Print the updater's version (as --version)");
  cmd->callback([] { std::fputs(VersionText().c_str(), stdout); });
}

}  // namespace bcu::cli
