#pragma once
// What `--version` prints: the program, its version, and the firmware set it
// carries (the set's name and release, what it is for).
#include <string>

#include "platform/Resources.h"

namespace bcu::app {

// "1.3.2": the version of the updater itself.
const char* ProgramVersion();

// Two lines, the second one here cut in two:
//   bcu (Brisant Code Updater) 1.3.2
//   Firmware set: BrisantCodeUpdater_6700_Series_4, release 4.2
//     (Application/Boot, 6700 series 4, boot 4.2)
// A set without a name or release says "unnamed" or "no release"; one without
// an attributes record says so.
std::string VersionText(const std::string& program, const platform::ResourceSource& set);

}  // namespace bcu::app
