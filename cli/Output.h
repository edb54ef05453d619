#pragma once
// How every subcommand reports, the same way throughout:
// - -v/--verbose and -q/--quiet are options of `bcu` itself (given before or
//   after the subcommand). Quiet: only errors and the result; nothing on
//   success where the exit code is the answer. Verbose: status lines with a
//   time stamp, and detail lines (ports, firmware set, steps) on stderr.
// - --json: the result as one JSON document on stdout, nothing else there; a
//   failure as {"error": {"code": N, "name": "...", "text": "..."}}.
// - A failure thrown as CommandFailure is printed by the command line:
//   "bcu <command>: <text>" on stderr, or the JSON error object on stdout.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/ExitCodes.h"

namespace bcu::cli {

enum class Verbosity { kQuiet, kNormal, kVerbose };

// The verbosity given to `bcu`, seen from any of its subcommands.
Verbosity VerbosityOf(const CLI::App& cmd);

// A subcommand's failure with the text its plain output prints.
class CommandFailure : public CLI::RuntimeError {
 public:
  CommandFailure(int code, const std::string& text) : CLI::RuntimeError(text, code) {}
};
[[noreturn]] void Fail(int code, const std::string& text);
// A failure the plain output has shown already (a message box, a status
// line): under --json the error object is printed; the exit code is set
// either way.
[[noreturn]] void FailShown(bool json, int code, const std::string& text);

// {"code": N, "name": "...", "text": "..."}: the member "error" of a failure.
nlohmann::ordered_json ErrorObject(int code, const std::string& text);
// Prints {"error": ErrorObject(code, text)} on stdout.
void PrintJsonError(int code, const std::string& text);

// Adds --json, saying what it prints.
CLI::Option* AddJsonFlag(CLI::App& cmd, bool& json, const std::string& what);

// A detail line for --verbose, on stderr with a time stamp; nothing otherwise.
void Detail(Verbosity verbosity, const std::string& text);
// The time stamp of verbose lines: "[HH:MM:SS.mmm] ".
std::string TimeStamp();

// The verbose/quiet options of the program and their rule.
void AddVerbosityOptions(CLI::App& app);

}  // namespace bcu::cli
