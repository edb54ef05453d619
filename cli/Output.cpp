#include "cli/Output.h"

#include <cstdio>
#include <ctime>

#include "platform/TimeText.h"

namespace bcu::cli {

Verbosity VerbosityOf(const CLI::App& cmd) {
  const CLI::App* root = &cmd;
  while (root->get_parent() != nullptr) root = root->get_parent();
  const CLI::Option* verbose = root->get_option_no_throw("--verbose");
  const CLI::Option* quiet = root->get_option_no_throw("--quiet");
  if (quiet != nullptr && quiet->count() > 0) return Verbosity::kQuiet;
  if (verbose != nullptr && verbose->count() > 0) return Verbosity::kVerbose;
  return Verbosity::kNormal;
}

void Fail(int code, const std::string& text) {
  throw CommandFailure(code, text);
}

void FailShown(bool json, int code, const std::string& text) {
  if (json) PrintJsonError(code, text);
  throw CLI::RuntimeError(code);
}

nlohmann::ordered_json ErrorObject(int code, const std::string& text) {
  return {{"code", code}, {"name", ExitCodeName(code)}, {"text", text}};
}

void PrintJsonError(int code, const std::string& text) {
  const nlohmann::ordered_json j{{"error", ErrorObject(code, text)}};
  std::printf("%s\n", j.dump(2).c_str());
  std::fflush(stdout);
}

CLI::Option* AddJsonFlag(CLI::App& cmd, bool& json, const std::string& what) {
  return cmd.add_flag("--json", json,
                      what + " as JSON; a failure as {\"error\": {\"code\", \"name\", \"text\"}}");
}

std::string TimeStamp() {
  std::time_t seconds = 0;
  int milliseconds = 0;
  platform::WallClockNow(seconds, milliseconds);
  const std::tm local = platform::LocalCalendar(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "[%02d:%02d:%02d.%03d] ", local.tm_hour, local.tm_min,
                local.tm_sec, milliseconds);
  return text;
}

void Detail(Verbosity verbosity, const std::string& text) {
  if (verbosity != Verbosity::kVerbose) return;
  std::fprintf(stderr, "%s%s\n", TimeStamp().c_str(), text.c_str());
  std::fflush(stderr);
}

void AddVerbosityOptions(CLI::App& app) {
  static const std::string kVerboseHelp =
      "More detail: status lines with a time stamp, and the port, the firmware set and each "
      "step on stderr (not with -q)";
  static const std::string kQuietHelp =
      "Only errors and the result; nothing on success where the exit code says it (not "
      "with -v)";
  CLI::Option* verbose = app.add_flag("-v,--verbose", kVerboseHelp);
  CLI::Option* quiet = app.add_flag("-q,--quiet", kQuietHelp);
  verbose->excludes(quiet);
  quiet->excludes(verbose);
}

}  // namespace bcu::cli
