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

// The table, each column as wide as its widest entry: a first pass over the
// history measures the columns, a second prints the rows, so that the listing
// holds one record at a time however long the history.
struct TableRow {
  std::string started, serial, port, formats, release;
};

TableRow RowOf(const app::HistoryRecord& r) {
  return TableRow{
      r.startTime, r.serialNumber.empty() ? "?" : r.serialNumber, r.port,
      r.codeplugFormatBefore.empty() ? "-" : r.codeplugFormatBefore + ">" + r.codeplugFormatAfter,
      r.firmwareSetRelease.empty() ? "-" : r.firmwareSetRelease};
}

struct TableWidths {
  std::size_t w[5] = {std::string("Started (UTC)").size(), std::string("Serial").size(),
                      std::string("Port").size(), std::string("Codeplug").size(),
                      std::string("Firmware").size()};
  void Fit(const TableRow& row) {
    w[0] = std::max(w[0], row.started.size());
    w[1] = std::max(w[1], row.serial.size());
    w[2] = std::max(w[2], row.port.size());
    w[3] = std::max(w[3], row.formats.size());
    w[4] = std::max(w[4], row.release.size());
  }
  void Print(const TableRow& row, const std::string& code, const std::string& time,
             const std::string& result) const {
    std::printf("%-*s %-*s %-*s %-*s %-*s %4s %7s  %s\n", static_cast<int>(w[0]),
                row.started.c_str(), static_cast<int>(w[1]), row.serial.c_str(),
                static_cast<int>(w[2]), row.port.c_str(), static_cast<int>(w[3]),
                row.formats.c_str(), static_cast<int>(w[4]), row.release.c_str(), code.c_str(),
                time.c_str(), result.c_str());
  }
  void PrintHead() const {
    Print(TableRow{"Started (UTC)", "Serial", "Port", "Codeplug", "Firmware"}, "Code", "Time",
          "Result");
  }
  void PrintRecord(const app::HistoryRecord& r) const {
    char time[32];
    std::snprintf(time, sizeof time, "%.0fs", r.durationSeconds);
    Print(RowOf(r), std::to_string(r.outcomeCode), time,
          r.rehearsal ? "rehearsal, nothing written; the real run would end: " + r.outcomeText
                      : r.outcomeText);
    if (!r.backupPath.empty())
      std::printf("%-*s backup: %s\n", static_cast<int>(w[0]), "", r.backupPath.c_str());
  }
};

int RunHistory(const HistoryArgs& args) {
  std::time_t since = 0;
  if (!args.since.empty() && !app::ParseIsoUtcTime(args.since, since))
    Fail(kExitUsage, "--since: not a date: " + args.since +
                         " (give a day that exists, 2026-12-08, or a time, 2026-12-08T14:00:00Z)");
  // What the date was taken as, so that a day without a time is no surprise.
  if (!args.since.empty() && !args.json && !args.csv)
    std::fprintf(stderr, "bcu history: updates started at or after %s (UTC)\n",
                 app::IsoUtcTime(since).c_str());
  const std::string path = app::DefaultHistoryPath();
  const std::string serial = SerialKey(args.serial);
  const auto matches = [&](const app::HistoryRecord& r) {
    if (!serial.empty() && SerialKey(r.serialNumber) != serial) return false;
    if (!args.since.empty()) {
      std::time_t start = 0;
      if (!app::ParseIsoUtcTime(r.startTime, start) || start < since) return false;
    }
    return true;
  };
  int skipped = 0;
  std::string error;
  const bool table = !args.csv && !args.json;
  TableWidths widths;
  int matched = 0;
  if (table) {
    const bool measured = app::ForEachHistoryRecord(
        path,
        [&](app::HistoryRecord& r) {
          if (!matches(r)) return;
          widths.Fit(RowOf(r));
          ++matched;
        },
        skipped, error);
    if (!measured) Fail(kExitFileError, error);
    skipped = 0;
  }
  // Each record is filtered and shown as it is read.
  int shown = 0;
  const auto show = [&](const app::HistoryRecord& r) {
    if (args.csv) {
      if (shown == 0) std::fputs(app::HistoryCsvHeader().c_str(), stdout);
      std::fputs(app::HistoryCsvLine(r).c_str(), stdout);
    } else if (args.json) {
      std::printf("%s\n", app::HistoryRecordToJson(r).dump().c_str());
    } else {
      if (shown == 0) widths.PrintHead();
      widths.PrintRecord(r);
    }
    ++shown;
  };
  if (!table || matched > 0) {
    const bool read = app::ForEachHistoryRecord(
        path,
        [&](app::HistoryRecord& r) {
          // Lines appended since the first pass are left for the next listing.
          if (!matches(r) || (table && shown >= matched)) return;
          show(r);
        },
        skipped, error);
    if (!read) Fail(kExitFileError, error);
  }
  if (skipped > 0)
    std::fprintf(stderr, "bcu history: %d line%s of %s could not be read\n", skipped,
                 skipped == 1 ? "" : "s", path.c_str());
  if (shown == 0 && args.csv) std::fputs(app::HistoryCsvHeader().c_str(), stdout);
  if (shown == 0 && table)
    std::printf("No update recorded%s in %s\n",
                serial.empty() && args.since.empty() ? "" : " that matches", path.c_str());
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
  auto* csv = cmd->add_flag("--csv", args->csv,
                            "Print CSV (a header line, then one line each; not with --json)");
  auto* json = AddJsonFlag(*cmd, args->json, "Print each record on a line");
  csv->excludes(json);
  cmd->callback([args] {
    const int code = RunHistory(*args);
    if (code != kExitOk) throw CLI::RuntimeError(code);
  });
}

}  // namespace bcu::cli
