#include "app/UpdateHistory.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "platform/AtomicWrite.h"
#include "platform/BoundedRead.h"
#include "platform/FileLock.h"
#include "platform/Folders.h"
#include "platform/TimeText.h"

namespace bcu::app {

namespace {

constexpr const char* kHistorySubpath = "brisant-code-updater/history.jsonl";
constexpr const char* kHistoryName = "history.jsonl";
// Far more than years of updates; a file larger than this is not the
// history.
constexpr std::size_t kMaxHistoryBytes = 256u << 20;

// A CSV field: quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// The whole file; an empty one when there is none. False with `error`
// ("<path>: <reason>") when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& content, std::string& error) {
  content.clear();
  if (!platform::PathExists(path)) return true;
  std::vector<std::uint8_t> bytes;
  if (!platform::ReadFileBounded(path, kMaxHistoryBytes, bytes, error)) return false;
  content.assign(bytes.begin(), bytes.end());
  return true;
}

std::string NoHistoryFolderText() {
  std::string why;
  platform::ProgramDataFolder(&why);
  return "no folder for the history (" + why + ")";
}

nlohmann::json VersionsToJson(const RadioVersions& v) {
  return {{"fileFormatVersion", v.fileFormatVersion},
          {"dspSoftwareVersion", v.dspVersion},
          {"controllerVersion", v.controllerVersion},
          {"hardwareRevision", v.hardwareRevision},
          {"bootVersion", v.bootVersion},
          {"semVersion", v.semVersion}};
}

std::string Text(const nlohmann::json& j, const char* key) {
  const auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

RadioVersions VersionsFromJson(const nlohmann::json& j) {
  RadioVersions v;
  if (!j.is_object()) return v;
  v.fileFormatVersion = Text(j, "fileFormatVersion");
  v.dspVersion = Text(j, "dspSoftwareVersion");
  v.controllerVersion = Text(j, "controllerVersion");
  v.hardwareRevision = Text(j, "hardwareRevision");
  v.bootVersion = Text(j, "bootVersion");
  v.semVersion = Text(j, "semVersion");
  return v;
}

}  // namespace

bool RadioVersions::Empty() const {
  return fileFormatVersion.empty() && dspVersion.empty() && controllerVersion.empty() &&
         hardwareRevision.empty() && bootVersion.empty() && semVersion.empty();
}

nlohmann::json HistoryRecordToJson(const HistoryRecord& r) {
  nlohmann::json j = {
      {"port", r.port},
      {"serialNumber", r.serialNumber},
      {"versionsBefore", VersionsToJson(r.versionsBefore)},
      {"versionsAfter", VersionsToJson(r.versionsAfter)},
      {"codeplugFormatBefore", r.codeplugFormatBefore},
      {"codeplugFormatAfter", r.codeplugFormatAfter},
      {"firmwareSet", {{"name", r.firmwareSetName}, {"release", r.firmwareSetRelease}}},
      {"backupFile", r.backupPath},
      {"outcome", {{"code", r.outcomeCode}, {"text", r.outcomeText}}},
      {"startTime", r.startTime},
      {"durationSeconds", r.durationSeconds}};
  if (r.rehearsal) j["kind"] = "rehearsal";
  return j;
}

bool HistoryRecordFromJson(const nlohmann::json& j, HistoryRecord& r) {
  if (!j.is_object()) return false;
  r = HistoryRecord{};
  r.port = Text(j, "port");
  r.serialNumber = Text(j, "serialNumber");
  if (j.contains("versionsBefore")) r.versionsBefore = VersionsFromJson(j["versionsBefore"]);
  if (j.contains("versionsAfter")) r.versionsAfter = VersionsFromJson(j["versionsAfter"]);
  r.codeplugFormatBefore = Text(j, "codeplugFormatBefore");
  r.codeplugFormatAfter = Text(j, "codeplugFormatAfter");
  if (const auto set = j.find("firmwareSet"); set != j.end() && set->is_object()) {
    r.firmwareSetName = Text(*set, "name");
    r.firmwareSetRelease = Text(*set, "release");
  }
  r.backupPath = Text(j, "backupFile");
  r.rehearsal = Text(j, "kind") == "rehearsal";
  if (const auto outcome = j.find("outcome"); outcome != j.end() && outcome->is_object()) {
    if (const auto code = outcome->find("code"); code != outcome->end() && code->is_number())
      r.outcomeCode = code->get<int>();
    r.outcomeText = Text(*outcome, "text");
  }
  r.startTime = Text(j, "startTime");
  if (const auto d = j.find("durationSeconds"); d != j.end() && d->is_number())
    r.durationSeconds = d->get<double>();
  return true;
}

std::string IsoUtcTime(std::time_t when) {
  const std::tm tm = platform::UtcCalendar(when);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

bool ParseIsoUtcTime(const std::string& text, std::time_t& when) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char sep = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used) != 3 || used != 10)
    return false;
  std::size_t at = 10;
  if (at < text.size()) {
    sep = text[at];
    if (sep != 'T' && sep != ' ') return false;
    int n = 0;
    const int got =
        std::sscanf(text.c_str() + at + 1, "%2d:%2d%n:%2d%n", &hour, &minute, &n, &second, &n);
    if (got < 2) return false;
    at += 1 + static_cast<std::size_t>(n);
    if (at < text.size() && text[at] == 'Z') ++at;
    if (at != text.size()) return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return false;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  when = platform::TimeFromUtc(tm);
  return true;
}

std::string HistoryPathFrom(const char* xdgDataHome, const char* home) {
  // Relative values are to be ignored, as the base directory rules say.
  if (xdgDataHome != nullptr && xdgDataHome[0] == '/')
    return std::string(xdgDataHome) + "/" + kHistorySubpath;
  if (home != nullptr && home[0] == '/')
    return std::string(home) + "/.local/share/" + kHistorySubpath;
  return {};
}

std::string DefaultHistoryPath() {
  const std::string data = platform::ProgramDataFolder();
  return data.empty() ? std::string() : platform::JoinPath(data, kHistoryName);
}

bool AppendHistory(const std::string& path, const std::vector<HistoryRecord>& records,
                   std::string& error) {
  if (path.empty()) {
    error = NoHistoryFolderText();
    return false;
  }
  if (records.empty()) return true;
  if (!platform::MakePrivateFolders(platform::FolderOf(path), error)) return false;
  platform::FileLock lock(path + ".lock", error);
  if (!lock.Held()) return false;
  std::string content;
  if (!ReadWholeFile(path, content, error)) return false;
  // A last line left without its end (written by hand) is closed first.
  if (!content.empty() && content.back() != '\n') content += '\n';
  for (const auto& r : records) content += HistoryRecordToJson(r).dump() + "\n";
  platform::AtomicWriteOptions options;
  options.mode = platform::kPrivateFileMode;
  return platform::WriteFileAtomically(path, std::string_view(content), options, error);
}

bool ReadHistory(const std::string& path, std::vector<HistoryRecord>& records, int& skipped,
                 std::string& error) {
  records.clear();
  skipped = 0;
  std::string content;
  if (!ReadWholeFile(path, content, error)) return false;
  std::istringstream in(content);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    HistoryRecord r;
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_discarded() || !HistoryRecordFromJson(j, r)) {
      ++skipped;
      continue;
    }
    records.push_back(std::move(r));
  }
  return true;
}

std::string HistoryCsv(const std::vector<app::HistoryRecord>& records) {
  std::string csv =
      "startTime,port,serialNumber,exitCode,outcome,durationSeconds,firmwareSet,release,"
      "codeplugFormatBefore,codeplugFormatAfter,controllerVersionBefore,controllerVersionAfter,"
      "dspSoftwareVersionBefore,dspSoftwareVersionAfter,bootVersionBefore,bootVersionAfter,"
      "backupFile\n";
  for (const auto& r : records) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", r.durationSeconds);
    const std::string fields[] = {r.startTime,
                                  r.port,
                                  r.serialNumber,
                                  std::to_string(r.outcomeCode),
                                  r.outcomeText,
                                  seconds,
                                  r.firmwareSetName,
                                  r.firmwareSetRelease,
                                  r.codeplugFormatBefore,
                                  r.codeplugFormatAfter,
                                  r.versionsBefore.controllerVersion,
                                  r.versionsAfter.controllerVersion,
                                  r.versionsBefore.dspVersion,
                                  r.versionsAfter.dspVersion,
                                  r.versionsBefore.bootVersion,
                                  r.versionsAfter.bootVersion,
                                  r.backupPath};
    bool first = true;
    for (const auto& f : fields) {
      if (!first) csv += ',';
      csv += CsvField(f);
      first = false;
    }
    csv += '\n';
  }
  return csv;
}

}  // namespace bcu::app
