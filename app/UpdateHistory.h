#pragma once
// The record of every radio an update touched: one JSON object per line in
//
//   $XDG_DATA_HOME/brisant-code-updater/history.jsonl
//
// (~/.local/share when XDG_DATA_HOME is not set), readable by the owner only.
// A shop files it: which radio (serial number) went from which versions to
// which, with which codeplug backup, and how the run ended.
//
// Several updaters (threads of one program, or programs side by side) may
// append at once. An append takes an exclusive lock on "history.jsonl.lock"
// beside the file and adds its lines at the end in one write, then syncs the
// file: its cost does not grow with the file, and no line is lost to a
// concurrent append or mixed with another. A crash can leave at most a last
// line cut short; readers skip it (and count it), and the next append starts
// on a fresh line.
//
// Reading goes line by line: memory stays bounded by the longest line (a
// line longer than kMaxHistoryLineBytes is skipped and counted), whatever
// the length of the file.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace bcu::app {

// What the radio reported about itself (the version panel's values).
struct RadioVersions {
  std::string fileFormatVersion;  // the codeplug format the code expects
  std::string dspVersion;
  std::string controllerVersion;
  std::string hardwareRevision;
  std::string bootVersion;
  std::string semVersion;
  bool Empty() const;
};

struct HistoryRecord {
  std::string port;
  std::string serialNumber;
  RadioVersions versionsBefore;
  RadioVersions versionsAfter;
  std::string codeplugFormatBefore;  // "5.9"; empty: not read
  std::string codeplugFormatAfter;
  std::string firmwareSetName;
  std::string firmwareSetRelease;
  std::string backupPath;   // empty: no codeplug backup was kept
  int outcomeCode = 0;      // the exit code a single update of the radio returns
  std::string outcomeText;  // the last status text
  std::string startTime;    // ISO 8601, UTC: "2026-12-08T14:03:05Z"
  double durationSeconds = 0;
  // A rehearsal (`bcu update --rehearse`): nothing was written to the radio;
  // the outcome is the one the real run would have. Its line carries
  // "kind": "rehearsal"; an update's line carries no kind.
  bool rehearsal = false;
};

nlohmann::json HistoryRecordToJson(const HistoryRecord& record);
// Missing keys stay empty; false only for a line that is no JSON object.
bool HistoryRecordFromJson(const nlohmann::json& j, HistoryRecord& record);

// "YYYY-mm-ddTHH:MM:SSZ" of a time.
std::string IsoUtcTime(std::time_t when);
// Reads an ISO 8601 date or time ("2026-12-08", "2026-12-08T14:03",
// "2026-12-08T14:03:05Z", "2026-12-08 14:03:05"; times are UTC). False when
// the text is none of these.
bool ParseIsoUtcTime(const std::string& text, std::time_t& when);

// The history file from the values of XDG_DATA_HOME and HOME (either may be
// null), beside the codeplug backups; empty when neither gives a folder.
std::string HistoryPathFrom(const char* xdgDataHome, const char* home);
std::string DefaultHistoryPath();

// Appends one line per record (the folders are made as needed, mode 0700; the
// file is mode 0600). False with `error` when the file could not be written;
// it is then as it was.
bool AppendHistory(const std::string& path, const std::vector<HistoryRecord>& records,
                   std::string& error);

// Longer lines are no record this program wrote.
inline constexpr std::size_t kMaxHistoryLineBytes = 1u << 20;

// Reads the file line by line, oldest first, and hands each record to
// `each` as it is read. A file that does not exist holds none; lines that
// cannot be read are counted in `skipped`. False with `error` when the file
// cannot be read.
bool ForEachHistoryRecord(const std::string& path, const std::function<void(HistoryRecord&)>& each,
                          int& skipped, std::string& error);

// Reads every line of the file, oldest first. A file that does not exist
// holds none; lines that cannot be read are counted in `skipped`. False with
// `error` when the file cannot be read.
bool ReadHistory(const std::string& path, std::vector<HistoryRecord>& records, int& skipped,
                 std::string& error);

// The records as CSV, one line per record after a header line.
std::string HistoryCsv(const std::vector<HistoryRecord>& records);
// The same a line at a time: the header line, and one record's line (each
// with its line end).
std::string HistoryCsvHeader();
std::string HistoryCsvLine(const HistoryRecord& record);

}  // namespace bcu::app
