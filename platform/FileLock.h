#pragma once
// An exclusive lock on a lock file beside a shared file (the update
// history), held while the object lives: two programs that append to the
// same file take turns.
#include <cstdint>
#include <string>

namespace bcu::platform {

class FileLock {
 public:
  // Creates `lockPath` when needed (owner-only) and waits for the lock.
  // Held() is false with `error` ("<lockPath>: <reason>") when it failed.
  FileLock(const std::string& lockPath, std::string& error);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const { return native_ != -1; }

 private:
  std::intptr_t native_ = -1;  // the lock file, open
};

}  // namespace bcu::platform
