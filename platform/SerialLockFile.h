#pragma once
// UUCP lock files: how terminal programs on Linux tell each other that a
// serial port is taken, besides (and often instead of) flock. The lock of
// /dev/ttyUSB0 is <folder>/LCK..ttyUSB0 and holds the owner's process id as
// ten characters and a newline. A lock whose process no longer runs is stale:
// the next program that wants the port removes it.
//
// The updater honours these locks and keeps one of its own while a port is
// open, so that a terminal program sees the port taken and the updater sees
// a port a terminal program has.
#include <string>

namespace bcu::platform {

inline constexpr const char* kSerialLockFolder = "/var/lock";

// The name after "LCK.." for a device: its real path (symbolic links
// followed) below /dev with each "/" replaced by "_" ("ttyUSB0", "pts_3"); for
// a device outside /dev, its file name.
std::string SerialLockName(const std::string& devicePath);

// The process that holds the lock of `devicePath` in `folder`: its id while
// it runs, 0 when there is no lock file or only a stale one (or a folder
// this user may not search, where no lock file counts).
long SerialLockHolder(const std::string& folder, const std::string& devicePath);
// The lock file of `devicePath` in `folder` ("/var/lock/LCK..ttyUSB0").
std::string SerialLockPath(const std::string& folder, const std::string& devicePath);

// One lock file, held from Acquire to Release (or destruction).
class SerialLockFile {
 public:
  SerialLockFile() = default;
  ~SerialLockFile();
  SerialLockFile(const SerialLockFile&) = delete;
  SerialLockFile& operator=(const SerialLockFile&) = delete;

  // Takes the lock of `devicePath` for this process. 0 on success; EBUSY
  // when a running process (this one included) holds it, its id in `holder`,
  // or when a lock file that names no running process cannot be removed;
  // `why` (when given) then names the lock file and what is wrong with it.
  // A stale lock is removed first. Where no lock file can be written or
  // looked for (no such folder, a folder this user may not search or write)
  // the result is 0 and nothing is held: the port's own lock (flock) still
  // keeps other updaters out.
  int Acquire(const std::string& folder, const std::string& devicePath, long* holder = nullptr,
              std::string* why = nullptr);
  // Removes the lock file, if it still names this process.
  void Release();
  bool Held() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace bcu::platform
