#include "app/WorkFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "link/SRecord.h"

namespace bcu::app {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFolderPattern = "bcu-work-XXXXXX";

std::string TryMake(const std::string& base, int& err) {
  std::string pattern =
      base.empty() ? std::string(kFolderPattern) : (fs::path(base) / kFolderPattern).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) {
    err = errno;
    return {};
  }
  return std::string(buffer.data());
}

}  // namespace

std::string MakeRunWorkFolder(const std::string& base, std::string& error) {
  int err = 0;
  std::string folder = TryMake(base, err);
  if (!folder.empty()) return folder;
  if (base.empty()) {
    // A program started from a folder it may not write into still runs.
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    int tempErr = 0;
    if (!ec) folder = TryMake(temp.string(), tempErr);
    if (!folder.empty()) return folder;
  }
  error = "The work folder cannot be made in " +
          (base.empty() ? std::string("the current folder") : base) + ": " + std::strerror(err) +
          ".";
  return {};
}

void RemoveRunWorkFolder(const std::string& folder) {
  if (folder.empty()) return;
  std::error_code ec;
  fs::remove_all(folder, ec);  // removes links themselves, never what they point to
}

std::string CheckWorkFile(const std::string& path, const std::string& name, WorkFileKind kind) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return "The work file " + name + " is missing; nothing was downloaded.";
  }
  if (st.st_size == 0) return "The work file " + name + " is empty; nothing was downloaded.";
  if (kind != WorkFileKind::SRecordCode) return {};
  std::ifstream in(path);
  if (!in) return "The work file " + name + " cannot be read; nothing was downloaded.";
  std::string line;
  while (link::SRecordReadLine(in, line)) {
    if (link::SRecordIsEnd(line)) break;
    const int recordKind = link::SRecordKind(line);
    if (recordKind >= link::kSRecordS1 && recordKind <= link::kSRecordS3 &&
        link::SRecordDataLength(line) > 0)
      return {};
  }
  return "The work file " + name + " holds no code records; nothing was downloaded.";
}

}  // namespace bcu::app
