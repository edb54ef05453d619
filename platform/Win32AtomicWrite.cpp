// The temporary file beside the target is written, flushed to the disk and
// moved over the target in one step (MoveFileExW with REPLACE_EXISTING and
// WRITE_THROUGH). Another program that holds the target open without
// letting it be deleted (an editor, a virus scanner for a moment) blocks the
// replace: it is tried again for a second, then the write fails and the
// target stays as it was.
#include <windows.h>

#include <chrono>
#include <random>
#include <thread>

#include "platform/AtomicWrite.h"
#include "platform/FileErrors.h"
#include "platform/Win32Private.h"
#include "platform/Win32Text.h"

namespace bcu::platform {

namespace {

constexpr std::size_t kMaxTempStem = 64;  // of the target's name, in the temporary's
constexpr int kReplaceAttempts = 20;
constexpr auto kReplacePause = std::chrono::milliseconds(50);

bool HeldByAnother(DWORD e) {
  return e == ERROR_SHARING_VIOLATION || e == ERROR_ACCESS_DENIED || e == ERROR_LOCK_VIOLATION;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         const AtomicWriteOptions& options, std::string& error) {
  const auto fail = [&](const std::string& reason) {
    error = path + ": " + reason;
    return false;
  };
  if (path.empty()) return fail("no file name");
  if (path.back() == '/' || path.back() == '\\') return fail(FileErrorText(EISDIR));
  const std::size_t cut = path.find_last_of("\\/");
  const std::string folder = cut == std::string::npos ? std::string(".") : path.substr(0, cut);
  const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  const std::string prefix = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  const std::wstring target = Widen(path);
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return fail(FileErrorText(EISDIR));

  PrivateSecurity security;
  SECURITY_ATTRIBUTES* sa = nullptr;
  if (options.mode == kPrivateFileMode) {
    sa = security.Attributes();
    if (sa == nullptr) return fail("cannot make an owner-only file");
  }
  std::random_device entropy;
  std::wstring temp;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".tmp-%lu-%08x",
                  static_cast<unsigned long>(::GetCurrentProcessId()),
                  static_cast<unsigned>(entropy()));
    temp = Widen(prefix + "." + name.substr(0, kMaxTempStem) + suffix);
    h = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, sa, CREATE_NEW,
                      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) {
      const DWORD e = ::GetLastError();
      if (e == ERROR_PATH_NOT_FOUND) return fail("the folder " + folder + " does not exist");
      if (e == ERROR_ACCESS_DENIED)
        return fail("permission denied (cannot create files in " + folder + ")");
      return fail(FileErrorTextOf(e));
    }
  }
  if (h == INVALID_HANDLE_VALUE) return fail("no free temporary name in " + folder);

  const auto discard = [&](DWORD e) {
    ::DeleteFileW(temp.c_str());
    return fail(FileErrorTextOf(e));
  };
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    if (!::WriteFile(h, bytes.data() + done, ask, &n, nullptr) || n == 0) {
      const DWORD e = ::GetLastError();
      ::CloseHandle(h);
      return discard(e == 0 ? ERROR_WRITE_FAULT : e);
    }
    done += n;
  }
  if (!::FlushFileBuffers(h)) {
    const DWORD e = ::GetLastError();
    ::CloseHandle(h);
    return discard(e);
  }
  ::CloseHandle(h);
  // The temporary file was hidden only while it was being written.
  ::SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);

  const DWORD flags = MOVEFILE_WRITE_THROUGH |
                      (options.existing == ExistingFile::kReplace ? MOVEFILE_REPLACE_EXISTING : 0);
  for (int attempt = 1;; ++attempt) {
    if (::MoveFileExW(temp.c_str(), target.c_str(), flags)) return true;
    const DWORD e = ::GetLastError();
    if (options.existing == ExistingFile::kKeep &&
        (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS))
      return discard(ERROR_FILE_EXISTS);
    if (!HeldByAnother(e) || attempt >= kReplaceAttempts) {
      if (HeldByAnother(e)) {
        ::DeleteFileW(temp.c_str());
        return fail("in use by another program (it could not be replaced)");
      }
      return discard(e);
    }
    std::this_thread::sleep_for(kReplacePause);
  }
}

bool WriteFileAtomically(const std::string& path, std::string_view text,
                         const AtomicWriteOptions& options, std::string& error) {
  return WriteFileAtomically(path,
                             std::span<const std::uint8_t>(
                                 reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                             options, error);
}

}  // namespace bcu::platform
