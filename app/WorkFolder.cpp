#include "app/WorkFolder.h"

#include <filesystem>
#include <fstream>

#include "link/SRecord.h"
#include "platform/FileOpen.h"
#include "platform/Folders.h"

namespace bcu::app {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFolderStem = "bcu-work-";

}  // namespace

std::string MakeRunWorkFolder(const std::string& base, std::string& error) {
  std::string why;
  const std::string first = base.empty() ? platform::WorkFolderBase() : base;
  std::string folder = platform::MakeUniqueFolder(first, kFolderStem, why);
  if (!folder.empty()) return folder;
  if (base.empty()) {
    // A program started from a folder it may not write into still runs.
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    std::string tempWhy;
    if (!ec) folder = platform::MakeUniqueFolder(platform::TextOf(temp), kFolderStem, tempWhy);
    if (!folder.empty()) return folder;
  }
  error = "The work folder cannot be made in " +
          (!base.empty()   ? base
           : first.empty() ? std::string("the current folder")
                           : first) +
          ": " + why + ".";
  return {};
}

void RemoveRunWorkFolder(const std::string& folder) {
  if (folder.empty()) return;
  std::error_code ec;
  fs::remove_all(platform::PathOf(folder),
                 ec);  // removes links themselves, never what they point to
}

std::string CheckWorkFile(const std::string& path, const std::string& name, WorkFileKind kind) {
  std::uint64_t size = 0;
  if (!platform::RegularFileSize(path, size)) {
    return "The work file " + name + " is missing; nothing was downloaded.";
  }
  if (size == 0) return "The work file " + name + " is empty; nothing was downloaded.";
  if (kind != WorkFileKind::SRecordCode) return {};
  std::ifstream in(platform::PathOf(path));
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
