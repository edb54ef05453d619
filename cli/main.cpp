// bcu: the updater's command-line front end.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "cli/Commands.h"

int main(int argc, char** argv) {
  CLI::App app{"Brisant Code Updater: puts new code into a radio and keeps its codeplug", "bcu"};
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Show help for every subcommand");
  bcu::cli::RegisterUpdateCommand(app);
  bcu::cli::RegisterInfoCommand(app);
  bcu::cli::RegisterPortsCommand(app);
  bcu::cli::RegisterDoctorCommand(app);
  bcu::cli::RegisterCodeplugCommand(app);
  bcu::cli::RegisterCodeplugTransferCommands(app);
  bcu::cli::RegisterFirmwareCommand(app);
  bcu::cli::RegisterVersionCommand(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::RuntimeError& e) {
    return e.get_exit_code();
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return bcu::cli::kExitUsage;
  }
  return bcu::cli::kExitOk;
}
