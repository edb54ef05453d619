#include "app/UpdateHistory.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

#include "app/HistoryLine.h"
#include "platform/AppendFile.h"
#include "platform/FileErrors.h"
#include "platform/FileLock.h"
#include "platform/FileOpen.h"
#include "platform/Folders.h"
#include "platform/TimeText.h"

namespace bcu::app {

namespace {

constexpr const char* kHistorySubpath = "brisant-code-updater/history.jsonl";
constexpr const char* kHistoryName = "history.jsonl";
constexpr std::size_t kReadChunk = 64u << 10;

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

// One line of the file into a record: the quick reader for the lines it is
// sure of, the full JSON parser for the rest.
bool RecordOfLine(std::string_view line, HistoryRecord& r) {
  if (ReadHistoryLineFast(line, r)) return true;
  const nlohmann::json j = nlohmann::json::parse(line.begin(), line.end(), nullptr, false);
  return !j.is_discarded() && HistoryRecordFromJson(j, r);
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
  if (month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 60)
    return false;
  // No 30 February: the days the month has, leap years counted.
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return false;
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
  std::string lines;
  for (const auto& r : records) lines += HistoryRecordToJson(r).dump() + "\n";
  platform::FileLock lock(path + ".lock", error);
  if (!lock.Held()) return false;
  return platform::AppendLines(path, lines, error);
}

bool ForEachHistoryRecord(const std::string& path, const std::function<void(HistoryRecord&)>& each,
                          int& skipped, std::string& error) {
  skipped = 0;
  errno = 0;
  std::FILE* raw = platform::OpenFile(path, "rb");
  if (raw == nullptr) {
    if (errno == ENOENT && !platform::PathExists(path)) return true;
    error = path + ": " + platform::FileErrorText(errno);
    return false;
  }
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(raw, &std::fclose);
  std::vector<char> chunk(kReadChunk);
  std::string pending;    // the start of a line that runs past the chunk
  bool overlong = false;  // the current line is past the bound: dropped
  HistoryRecord record;
  const auto line = [&](std::string_view text) {
    if (overlong) {
      ++skipped;
      overlong = false;
      return;
    }
    if (text.empty()) return;
    if (RecordOfLine(text, record))
      each(record);
    else
      ++skipped;
  };
  for (;;) {
    const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
    std::string_view rest(chunk.data(), got);
    while (!rest.empty()) {
      const std::size_t end = rest.find('\n');
      const std::string_view piece = rest.substr(0, end);
      if (end == std::string_view::npos) {
        if (!overlong) pending.append(piece);
        rest = {};
      } else {
        if (pending.empty()) {
          line(piece);
        } else {
          if (!overlong) pending.append(piece);
          line(pending);
          pending.clear();
        }
        rest.remove_prefix(end + 1);
      }
      if (pending.size() > kMaxHistoryLineBytes) {
        overlong = true;
        pending.clear();
        pending.shrink_to_fit();
      }
    }
    if (got < chunk.size()) break;
  }
  if (std::ferror(file.get())) {
    error = path + ": " + platform::FileErrorText(errno ? errno : EIO);
    return false;
  }
  // A last line without its line end (cut short by a crash, or written by
  // hand) is read like any other: a whole record still counts.
  if (!pending.empty() || overlong) line(pending);
  return true;
}

bool ReadHistory(const std::string& path, std::vector<HistoryRecord>& records, int& skipped,
                 std::string& error) {
  records.clear();
  return ForEachHistoryRecord(
      path, [&](HistoryRecord& r) { records.push_back(std::move(r)); }, skipped, error);
}

std::string HistoryCsvHeader() {
  return "startTime,port,serialNumber,exitCode,outcome,durationSeconds,firmwareSet,release,"
         "codeplugFormatBefore,codeplugFormatAfter,controllerVersionBefore,controllerVersionAfter,"
         "dspSoftwareVersionBefore,dspSoftwareVersionAfter,bootVersionBefore,bootVersionAfter,"
         "backupFile\n";
}

std::string HistoryCsvLine(const HistoryRecord& r) {
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
  std::string csv;
  bool first = true;
  for (const auto& f : fields) {
    if (!first) csv += ',';
    csv += CsvField(f);
    first = false;
  }
  csv += '\n';
  return csv;
}

std::string HistoryCsv(const std::vector<app::HistoryRecord>& records) {
  std::string csv = HistoryCsvHeader();
  for (const auto& r : records) csv += HistoryCsvLine(r);
  return csv;
}

}  // namespace bcu::app
