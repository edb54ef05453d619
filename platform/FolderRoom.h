#pragma once
// Whether a folder can take new files: the folder exists or can be made, a
// file can be created in it, and its file system has room for `bytes` more.
// Asked before a run writes to a radio, so that a backup the run will need
// is known to fit before anything on the radio changes.
#include <cstdint>
#include <string>

namespace bcu::platform {

struct FolderRoom {
  bool writable = false;         // a file could be created (and removed) there
  std::uintmax_t freeBytes = 0;  // room for an unprivileged writer
  std::string error;             // why it is not writable: "<folder>: <reason>"
};

// Makes `folder` and its parents as needed (private: mode 0700, an owner-only ACL on Windows), creates and removes
// a probe file in it, and asks the file system for its free room.
FolderRoom QueryFolderRoom(const std::string& folder);

}  // namespace bcu::platform
