#pragma once
// Command-line options that every command driving an updater shares: the
// ports the user names, and the radio the updater is for when the embedded
// attributes are to be overridden (or when the build embeds none).
#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "app/CodeUpdater.h"
#include "platform/Resources.h"

namespace bcu::cli {

struct UpdaterSetup {
  std::vector<std::string> ports;  // --port PATH (repeatable): the first port slots
  std::string family;              // --family portable|mobile; empty: as embedded
  int series = -1;                 // --series N; -1: as embedded
  int newPlatform = -1;            // --new-platform 0|1; -1: as embedded
  int upgradeType = -1;            // --upgrade-type 0..3; -1: as embedded
  std::string programPath;

  // The updater's resources: the embedded set with the overrides above.
  std::shared_ptr<const platform::ResourceSource> Resources() const;
  // The options above that change what the updater believes it carries, as
  // the user gave them ("--family mobile"); empty when none was given.
  std::vector<std::string> Overrides() const;
  app::CodeUpdaterOptions UpdaterOptions() const;
};

// Adds --port to a command.
void AddPortOption(CLI::App& cmd, UpdaterSetup& setup);
// Adds --family, --series, --new-platform and --upgrade-type.
void AddTargetOptions(CLI::App& cmd, UpdaterSetup& setup);
// A check for a numeric option: refuses "nan", "inf" and anything else that is
// not a finite number.
CLI::Validator FiniteNumber();
// A check that adds nothing to the option's placeholder in the help (the help
// text says what it takes), so that the placeholder reads as FILE, SECONDS ...
CLI::Validator Unnamed(CLI::Validator check);

// The running program's own file (its name and release are shown).
std::string ProgramPath();

}  // namespace bcu::cli
