#pragma once
// The whole command line of `bcu`: every subcommand, --version and
// --help-all. The program runs it; the build walks the same tree to write the
// manual page's command section and the shell completion, so that neither
// drifts from what `bcu --help` says.
#include <CLI/CLI.hpp>
#include <memory>

namespace bcu::cli {

std::unique_ptr<CLI::App> MakeCommandLine();

// Parses and runs one command line; returns the exit code. Without arguments
// it prints the help and returns the usage error code.
int RunCommandLine(CLI::App& app, int argc, const char* const* argv);

// The text of `bcu --version`.
std::string VersionText();

}  // namespace bcu::cli
