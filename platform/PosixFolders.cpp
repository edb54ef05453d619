#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/FileErrors.h"
#include "platform/Folders.h"

namespace bcu::platform {

namespace {

constexpr unsigned kFolderMode = 0700;
constexpr const char* kDataSubfolder = "brisant-code-updater";

}  // namespace

std::string ProgramDataFolderIn(const std::string& dataHome) {
  return dataHome + "/" + kDataSubfolder;
}

std::string ProgramDataFolder(std::string* why) {
  // Relative values are to be ignored, as the base directory rules say.
  const char* xdgDataHome = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (xdgDataHome != nullptr && xdgDataHome[0] == '/') return ProgramDataFolderIn(xdgDataHome);
  if (home != nullptr && home[0] == '/')
    return ProgramDataFolderIn(std::string(home) + "/.local/share");
  if (why != nullptr) *why = "neither XDG_DATA_HOME nor HOME is set";
  return {};
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder + "/" + name;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool MakePrivateFolders(const std::string& folder, std::string& error) {
  std::string partial;
  std::size_t from = 0;
  while (from <= folder.size()) {
    const std::size_t slash = folder.find('/', from);
    partial = folder.substr(0, slash == std::string::npos ? folder.size() : slash);
    from = slash == std::string::npos ? folder.size() + 1 : slash + 1;
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), kFolderMode) != 0 && errno != EEXIST) {
      error = partial + ": " + FileErrorText(errno);
      return false;
    }
  }
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = folder + ": not a folder";
    return false;
  }
  return true;
}

bool FolderIsUsersOwn(const std::string& folder, std::string& why) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    why = folder + ": " + FileErrorText(errno);
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    why = folder + " is a symbolic link (refused: it could lead the files elsewhere)";
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    why = folder + ": not a folder";
    return false;
  }
  if (st.st_uid != ::geteuid()) {
    why = folder + " is owned by another user (uid " + std::to_string(st.st_uid) + ")";
    return false;
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    why = folder + " is writable by others (mode " + mode + "; chmod 700 it)";
    return false;
  }
  return true;
}

std::string WorkFolderBase() {
  return {};
}

std::string MakeUniqueFolder(const std::string& base, const std::string& stem, std::string& error) {
  const std::string name = stem + "XXXXXX";
  std::string pattern = base.empty() ? name : (std::filesystem::path(base) / name).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) {  // mode 0700
    error = std::strerror(errno);
    return {};
  }
  return std::string(buffer.data());
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool RegularFileSize(const std::string& path, std::uint64_t& size) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

}  // namespace bcu::platform
