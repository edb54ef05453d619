#include "tests/cli/InProcessBcu.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "cli/CommandLine.h"

namespace bcu::testsupport {

BcuRun RunBcuInProcess(const std::vector<std::string>& args) {
  auto app = cli::MakeCommandLine();
  std::vector<const char*> argv = {"bcu"};
  for (const auto& a : args) argv.push_back(a.c_str());
  BcuRun r;
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  r.code = cli::RunCommandLine(*app, static_cast<int>(argv.size()), argv.data());
  std::fflush(stdout);
  r.out = ::testing::internal::GetCapturedStdout();
  r.err = ::testing::internal::GetCapturedStderr();
  return r;
}

std::string DescribeRun(const std::vector<std::string>& args, const BcuRun& run) {
  std::string text = "bcu";
  for (const auto& a : args) text += " " + a;
  return text + " -> " + std::to_string(run.code) + "\n--- stdout:\n" + run.out + "--- stderr:\n" +
         run.err;
}

}  // namespace bcu::testsupport
