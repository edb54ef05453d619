#pragma once
// Runs one `bcu` command line in the test's own process, as main() runs it,
// and keeps what it printed on stdout and stderr.
#include <string>
#include <vector>

namespace bcu::testsupport {

struct BcuRun {
  int code = -1;
  std::string out, err;
};

BcuRun RunBcuInProcess(const std::vector<std::string>& args);

// The command line, its exit code and what it printed, for a failure message.
std::string DescribeRun(const std::vector<std::string>& args, const BcuRun& run);

}  // namespace bcu::testsupport
