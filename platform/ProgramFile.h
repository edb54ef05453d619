#pragma once
// The program's own file and its command line, as UTF-8 text.
#include <string>
#include <vector>

namespace bcu::platform {

// The full path of the running program; `fallback` when the system cannot
// tell.
std::string ProgramFilePath(const std::string& fallback);
// The program's arguments (argv[0] first) in UTF-8: on Linux `argv` as it
// came, on Windows the wide command line (argv there is in the ANSI code
// page, which cannot hold every name).
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace bcu::platform
