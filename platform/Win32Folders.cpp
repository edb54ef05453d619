#include <windows.h>

#include <cstdlib>
#include <random>

#include "platform/Folders.h"
#include "platform/Win32Private.h"
#include "platform/Win32Text.h"

namespace bcu::platform {

namespace {

constexpr const char* kDataSubfolder = "Brisant Code Updater";

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

DWORD Attributes(const std::string& path) {
  return ::GetFileAttributesW(Widen(path).c_str());
}

}  // namespace

std::string ProgramDataFolderIn(const std::string& dataHome) {
  return JoinPath(dataHome, kDataSubfolder);
}

std::string ProgramDataFolder(std::string* why) {
  std::wstring value(32768, L'\0');
  const DWORD n =
      ::GetEnvironmentVariableW(L"LOCALAPPDATA", value.data(), static_cast<DWORD>(value.size()));
  if (n == 0 || n >= value.size()) {
    if (why != nullptr) *why = "LOCALAPPDATA is not set";
    return {};
  }
  value.resize(n);
  return ProgramDataFolderIn(Narrow(value));
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return IsSeparator(folder.back()) ? folder + name : folder + "\\" + name;
}

std::string FolderOf(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/");
  if (cut == std::string::npos) return ".";
  if (cut == 0 || (cut == 2 && path[1] == ':')) return path.substr(0, cut + 1);
  return path.substr(0, cut);
}

bool MakePrivateFolders(const std::string& folder, std::string& error) {
  PrivateSecurity security;
  std::size_t from = 0;
  // A drive ("C:\") or a share ("\\server\share\") is not made.
  if (folder.size() >= 2 && folder[1] == ':') from = 3;
  if (folder.rfind("\\\\", 0) == 0) {
    const std::size_t server = folder.find_first_of("\\/", 2);
    const std::size_t share =
        server == std::string::npos ? server : folder.find_first_of("\\/", server + 1);
    from = share == std::string::npos ? folder.size() : share + 1;
  }
  while (from <= folder.size()) {
    std::size_t cut = folder.find_first_of("\\/", from);
    if (cut == std::string::npos) cut = folder.size();
    const std::string partial = folder.substr(0, cut);
    from = cut + 1;
    if (partial.empty() || IsSeparator(partial.back())) continue;
    const DWORD a = Attributes(partial);
    if (a != INVALID_FILE_ATTRIBUTES) continue;
    if (security.Attributes() == nullptr) {
      error = partial + ": cannot make an owner-only folder";
      return false;
    }
    if (!::CreateDirectoryW(Widen(partial).c_str(), security.Attributes()) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
      error = partial + ": " + FileErrorTextOf(::GetLastError());
      return false;
    }
  }
  const DWORD a = Attributes(folder);
  if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    error = folder + ": not a folder";
    return false;
  }
  return true;
}

std::string WorkFolderBase() {
  wchar_t buffer[MAX_PATH + 2] = {};
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH + 1) return {};
  return Narrow(std::wstring(buffer, n));
}

std::string MakeUniqueFolder(const std::string& base, const std::string& stem, std::string& error) {
  PrivateSecurity security;
  if (security.Attributes() == nullptr) {
    error = "cannot make an owner-only folder";
    return {};
  }
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device entropy;
  DWORD last = ERROR_ALREADY_EXISTS;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = stem;
    for (int i = 0; i < 6; ++i) name += kLetters[entropy() % (sizeof kLetters - 1)];
    const std::string path = base.empty() ? name : JoinPath(base, name);
    if (::CreateDirectoryW(Widen(path).c_str(), security.Attributes())) return path;
    last = ::GetLastError();
    if (last != ERROR_ALREADY_EXISTS) break;
  }
  error = FileErrorTextOf(last);
  return {};
}

bool FolderIsUsersOwn(const std::string& folder, std::string& why) {
  const DWORD attributes = Attributes(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    why = folder + " is a link (refused: it could lead the files elsewhere)";
    return false;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    why = folder + ": not a folder";
    return false;
  }
  return true;
}

bool PathExists(const std::string& path) {
  return Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool RegularFileSize(const std::string& path, std::uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) return false;
  size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

}  // namespace bcu::platform
