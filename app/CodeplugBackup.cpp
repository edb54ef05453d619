#include "app/CodeplugBackup.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <vector>

#include "platform/AtomicWrite.h"
#include "platform/Folders.h"
#include "platform/TimeText.h"

namespace bcu::app {

namespace {

namespace fs = std::filesystem;

constexpr const char* kBackupSubfolder = "brisant-code-updater/backups";
constexpr int kMaxSameNameBackups = 1000;

std::string Absolute(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

std::string NoBackupFolderText() {
  std::string why;
  platform::ProgramDataFolder(&why);
  return "no folder for backups (" + why + ")";
}

// The program's data folder (when `root` is below it), the backup root and,
// when given, the radio's own folder: each a real folder of this user's that
// nobody else may write into. False with `why` otherwise.
bool BackupFoldersSafe(const std::string& root, const std::string& serialFolder, std::string& why) {
  const std::string data = platform::ProgramDataFolder();
  std::vector<std::string> folders;
  if (!data.empty() && Absolute(platform::FolderOf(root)) == Absolute(data))
    folders.push_back(Absolute(data));
  folders.push_back(Absolute(root));
  if (!serialFolder.empty()) folders.push_back(serialFolder);
  for (const auto& folder : folders)
    if (!platform::FolderIsUsersOwn(folder, why)) return false;
  return true;
}

}  // namespace

std::string BackupRootFrom(const char* xdgDataHome, const char* home) {
  // Relative values are to be ignored, as the base directory rules say.
  if (xdgDataHome != nullptr && xdgDataHome[0] == '/')
    return std::string(xdgDataHome) + "/" + kBackupSubfolder;
  if (home != nullptr && home[0] == '/')
    return std::string(home) + "/.local/share/" + kBackupSubfolder;
  return {};
}

std::string DefaultBackupRoot() {
  const std::string data = platform::ProgramDataFolder();
  return data.empty() ? std::string() : platform::JoinPath(data, "backups");
}

std::string BackupSerialName(const std::string& serial) {
  std::string clean;
  for (const char c : serial) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) clean += c;
  }
  return clean.empty() ? std::string("unknown") : clean;
}

std::string CodeplugBackupFileName(std::time_t when, const std::string& format) {
  const std::tm local = platform::LocalCalendar(when);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return std::string(stamp) + "-" + (format.empty() ? std::string("unknown") : format) + ".bin";
}

std::string WriteCodeplugBackup(const std::string& root, const std::string& serial,
                                const std::string& format, std::span<const std::uint8_t> bytes,
                                std::time_t when, std::string& error) {
  if (root.empty()) {
    error = NoBackupFolderText();
    return {};
  }
  const std::string folder = platform::JoinPath(Absolute(root), BackupSerialName(serial));
  // A link planted at backups/<serial> (or a shared data folder) would put
  // this user's codeplug where another can read or replace it.
  if (!BackupFoldersSafe(root, folder, error)) return {};
  if (!platform::MakePrivateFolders(folder, error)) return {};
  if (!platform::FolderIsUsersOwn(folder, error)) return {};
  const std::string name = CodeplugBackupFileName(when, format);
  const std::string stem = name.substr(0, name.size() - 4);
  platform::AtomicWriteOptions options;
  options.mode = platform::kPrivateFileMode;
  options.existing = platform::ExistingFile::kKeep;
  for (int attempt = 1; attempt <= kMaxSameNameBackups; ++attempt) {
    const std::string path = platform::JoinPath(
        folder, attempt == 1 ? name : stem + "-" + std::to_string(attempt) + ".bin");
    std::string why;
    if (platform::WriteFileAtomically(path, bytes, options, why)) return path;
    if (!platform::PathExists(path)) {  // failed for another reason than a taken name
      error = why;
      return {};
    }
  }
  error = folder + ": too many backups with the name " + name;
  return {};
}

bool ListCodeplugBackups(const std::string& root, const std::string& serial,
                         std::vector<CodeplugBackupEntry>& entries, std::string& error) {
  entries.clear();
  if (root.empty()) {
    error = NoBackupFolderText();
    return false;
  }
  std::error_code ec;
  const fs::path base = Absolute(root);
  if (!fs::exists(base, ec)) return true;
  // <YYYYmmdd>-<HHMMSS>-<format>[-<n>].bin
  static const std::regex kName(
      R"(^(\d{4})(\d{2})(\d{2})-(\d{2})(\d{2})(\d{2})-(.+?)(-\d+)?\.bin$)");
  std::vector<std::pair<std::string, CodeplugBackupEntry>> found;
  for (fs::directory_iterator serials(base, ec), end; !ec && serials != end;
       serials.increment(ec)) {
    if (!serials->is_directory(ec)) continue;
    const std::string serialName = serials->path().filename().string();
    if (!serial.empty() && serialName != BackupSerialName(serial)) continue;
    std::error_code fileEc;
    for (fs::directory_iterator files(serials->path(), fileEc), fileEnd;
         !fileEc && files != fileEnd; files.increment(fileEc)) {
      if (!files->is_regular_file(fileEc)) continue;
      const std::string name = files->path().filename().string();
      std::smatch m;
      if (!std::regex_match(name, m, kName)) continue;
      CodeplugBackupEntry e;
      e.path = files->path().string();
      e.serial = serialName;
      e.time = m[1].str() + "-" + m[2].str() + "-" + m[3].str() + " " + m[4].str() + ":" +
               m[5].str() + ":" + m[6].str();
      e.format = m[7].str();
      e.bytes = files->file_size(fileEc);
      // Sorted by time, then by the number of a same-second backup.
      const std::string suffix = m[8].matched ? m[8].str().substr(1) : "1";
      const std::string key =
          m[1].str() + m[2].str() + m[3].str() + m[4].str() + m[5].str() + m[6].str() +
          std::string(8 - std::min<std::size_t>(8, suffix.size()), '0') + suffix + serialName;
      found.emplace_back(key, std::move(e));
    }
    if (fileEc) {
      error = serials->path().string() + ": " + fileEc.message();
      return false;
    }
  }
  if (ec) {
    error = base.string() + ": " + ec.message();
    return false;
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [key, e] : found) entries.push_back(std::move(e));
  return true;
}

bool BackupCanBeKept(const std::string& root,
                     const std::function<platform::FolderRoom(const std::string&)>& room,
                     std::string& reason) {
  if (root.empty()) {
    std::string why;
    platform::ProgramDataFolder(&why);
    reason = "no data folder (" + (why.empty() ? std::string("none is named") : why) + ")";
    return false;
  }
  if (!BackupFoldersSafe(root, {}, reason)) return false;
  const platform::FolderRoom r = room ? room(root) : platform::QueryFolderRoom(root);
  if (!r.writable) {
    reason = r.error;
    return false;
  }
  if (r.freeBytes < kBackupRoomBytes) {
    reason = root + " has " + std::to_string(r.freeBytes) + " bytes free; a backup needs " +
             std::to_string(kBackupRoomBytes);
    return false;
  }
  return true;
}

}  // namespace bcu::app
