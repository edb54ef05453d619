// bcu: the updater's command-line front end.
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "platform/ProgramFile.h"

int main(int argc, char** argv) {
  auto app = bcu::cli::MakeCommandLine();
  // The arguments as UTF-8 (file names with any character reach the files).
  const std::vector<std::string> args = bcu::platform::ProgramArguments(argc, argv);
  std::vector<const char*> pointers;
  for (const auto& a : args) pointers.push_back(a.c_str());
  pointers.push_back(nullptr);
  return bcu::cli::RunCommandLine(*app, static_cast<int>(args.size()), pointers.data());
}
