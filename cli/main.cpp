// bcu: the updater's command-line front end.
#include "cli/CommandLine.h"

int main(int argc, char** argv) {
  auto app = bcu::cli::MakeCommandLine();
  return bcu::cli::RunCommandLine(*app, argc, argv);
}
