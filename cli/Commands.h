#pragma once
// The subcommands of `bcu`, one file each; main.cpp registers them in order.
#include <CLI/CLI.hpp>

#include "ExitCodes.h"

namespace bcu::cli {

// Each Register* adds one subcommand (or a group of them) to the program.
// A subcommand's callback throws CLI::RuntimeError(code) to set the exit code.
void RegisterVersionCommand(CLI::App& app);
// Returns the `codeplug` group so that further codeplug subcommands can join it.
CLI::App* RegisterCodeplugCommand(CLI::App& app);
// `codeplug diff`, into the `codeplug` group (registered before it).
void RegisterCodeplugDiffCommand(CLI::App& app);
void RegisterUpdateCommand(CLI::App& app);
void RegisterCodeplugTransferCommands(CLI::App& app);
void RegisterFirmwareCommand(CLI::App& app);
void RegisterPortsCommand(CLI::App& app);
void RegisterInfoCommand(CLI::App& app);
void RegisterDoctorCommand(CLI::App& app);
void RegisterHistoryCommand(CLI::App& app);

}  // namespace bcu::cli
