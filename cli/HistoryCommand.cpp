// `bcu history`: the record of every radio an update touched, as a table, as
// CSV or as JSON lines, of one radio or since a date.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/UpdateHistory.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "platform/HelpWords.h"

namespace bcu::cli {

namespace {

struct HistoryArgs {
  std::string serial;
  std::string since;
  bool csv = false;
  bool json = false;
};

// Serial numbers compare by their letters and digits, whatever the case and
// separators: "00-1a-2b" finds "001A2B".
std::string SerialKey(const std::string& serial) {
  std::string key;
  for (char c : serial)
    if (std::isalnum(static_cast<unsigned char>(c)))
      key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

int RunHistory(const HistoryArgs& args) {
  std::time_t since = 0;
  if (!args.since.empty() && !app::ParseIsoUtcTime(args.since, since))
    Fail(kExitUsage,
         "--since: not a date: " + args.since + " (give 2026-12-08 or 2026-12-08T14:00:00Z)");
  const std::string path = app::DefaultHistoryPath();
  std::vector<app::HistoryRecord> records;
  int skipped = 0;
  std::string error;
  if (!app::ReadHistory(path, records, skipped, error)) Fail(kExitFileError, error);
  const std::string serial = SerialKey(args.serial);
  std::vector<app::HistoryRecord> shown;
  for (auto& r : records) {
    if (!serial.empty() && SerialKey(r.serialNumber) != serial) continue;
    if (!args.since.empty()) {
      std::time_t start = 0;
      if (!app::ParseIsoUtcTime(r.startTime, start) || start < since) continue;
    }
    shown.push_back(std::move(r));
  }
  if (skipped > 0)
    std::fprintf(stderr, "bcu history: %d line%s of %s could not be read\n", skipped,
                 skipped == 1 ? "" : "s", path.c_str());
  if (args.csv) {
    std::fputs(app::HistoryCsv(shown).c_str(), stdout);
  } else if (args.json) {
    for (const auto& r : shown) std::printf("%s\n", app::HistoryRecordToJson(r).dump().c_str());
  } else if (shown.empty()) {
    std::printf("No update recorded%s in %s\n",
                serial.empty() && args.since.empty() ? "" : " that matches", path.c_str());
  } else {
    std::printf("%-20s %-16s %-16s %-9s %-9s %4s %7s  %s\n", "Started (UTC)", "Serial", "Port",
                "Codeplug", "Firmware", "Code", "Time", "Result");
    for (const auto& r : shown) {
      const std::string formats = r.codeplugFormatBefore.empty()
                                      ? std::string("-")
                                      : r.codeplugFormatBefore + ">" + r.codeplugFormatAfter;
      std::printf("%-20s %-16s %-16s %-9s %-9s %4d %6.0fs  %s\n", r.startTime.c_str(),
                  r.serialNumber.empty() ? "?" : r.serialNumber.c_str(), r.port.c_str(),
                  formats.c_str(),
                  r.firmwareSetRelease.empty() ? "-" : r.firmwareSetRelease.c_str(), r.outcomeCode,
                  r.durationSeconds, r.outcomeText.c_str());
      if (!r.backupPath.empty()) std::printf("%-20s backup: %s\n", "", r.backupPath.c_str());
    }
  }
  return kExitOk;
}

}  // namespace

void RegisterHistoryCommand(CLI::App& app) {
  auto args = std::make_shared<HistoryArgs>();
  CLI::App* cmd = app.add_subcommand(
      "history", "List the radios updated so far: versions, codeplug backup, outcome");
  cmd->footer("The record is kept in " + platform::DataFolderWords("history.jsonl") +
              platform::DataFolderDefaultWords("...") + ", one JSON object per radio and update.");
  cmd->add_option("--serial", args->serial, "Only the radio with this serial number")
      ->type_name("SERIAL");
  cmd->add_option("--since", args->since,
                  "Only updates started at or after DATE (2026-12-08 or 2026-12-08T14:00:00Z, "
                  "UTC)")
      ->type_name("DATE");
  auto* csv = cmd->add_flag("--csv", args->csv, "Print CSV (a header line, then one line each)");
  auto* json = AddJsonFlag(*cmd, args->json, "Print each record on a line");
  csv->excludes(json);
  cmd->callback([args] {
    const int code = RunHistory(*args);
    if (code != kExitOk) throw CLI::RuntimeError(code);
  });
}

}  // namespace bcu::cli
