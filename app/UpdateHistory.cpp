#include "app/UpdateHistory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/AtomicWrite.h"
#include "platform/FileErrors.h"

namespace bcu::app {

namespace {

constexpr const char* kHistorySubpath = "brisant-code-updater/history.jsonl";
constexpr unsigned kFolderMode = 0700;

bool MakeFolders(const std::string& folder, std::string& error) {
  std::size_t from = 0;
  while (from <= folder.size()) {
    const std::size_t slash = folder.find('/', from);
    const std::string partial =
        folder.substr(0, slash == std::string::npos ? folder.size() : slash);
    from = slash == std::string::npos ? folder.size() + 1 : slash + 1;
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), kFolderMode) != 0 && errno != EEXIST) {
      error = partial + ": " + platform::FileErrorText(errno);
      return false;
    }
  }
  return true;
}

// The whole file; false with errno set when it cannot be read (ENOENT: there
// is none).
bool ReadWholeFile(const std::string& path, std::string& content) {
  content.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      ::close(fd);
      errno = e;
      return false;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

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

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// An exclusive lock on "<path>.lock", held while the object lives.
class HistoryLock {
 public:
  HistoryLock(const std::string& path, std::string& error) {
    const std::string lockPath = path + ".lock";
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
      error = lockPath + ": " + platform::FileErrorText(errno);
      return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      error = lockPath + ": " + platform::FileErrorText(errno);
      ::close(fd_);
      fd_ = -1;
      return;
    }
  }
  ~HistoryLock() {
    if (fd_ >= 0) ::close(fd_);  // closing lets the lock go
  }
  HistoryLock(const HistoryLock&) = delete;
  HistoryLock& operator=(const HistoryLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

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
  return {{"port", r.port},
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
  std::tm tm{};
  ::gmtime_r(&when, &tm);
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
  when = ::timegm(&tm);
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
  return HistoryPathFrom(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
}

bool AppendHistory(const std::string& path, const std::vector<HistoryRecord>& records,
                   std::string& error) {
  if (path.empty()) {
    error = "no folder for the history (neither XDG_DATA_HOME nor HOME is set)";
    return false;
  }
  if (records.empty()) return true;
  if (!MakeFolders(FolderOf(path), error)) return false;
  HistoryLock lock(path, error);
  if (!lock.Held()) return false;
  std::string content;
  if (!ReadWholeFile(path, content) && errno != ENOENT) {
    error = path + ": " + platform::FileErrorText(errno);
    return false;
  }
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
  if (!ReadWholeFile(path, content)) {
    if (errno == ENOENT) return true;
    error = path + ": " + platform::FileErrorText(errno);
    return false;
  }
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
