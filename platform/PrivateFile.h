#pragma once
// Files that hold a radio's configuration or secrets (codeplug files, their
// backups, traces of the radio link) are readable and writable by their owner
// only, whatever the umask says.
#include <cstdio>
#include <string>

#include "platform/FileModes.h"

namespace bcu::platform {

// Creates `path`, or truncates it when it exists, with mode 0600 (an existing
// file's mode is narrowed to it), and returns a stream to write it. Null with
// `error` ("path: reason") when the file cannot be made or its mode cannot be
// narrowed (then it is left as it was found, unwritten).
std::FILE* OpenPrivateFile(const std::string& path, std::string& error);

// Creates `path` for reading and writing (emptied when it exists) with mode
// 0600, and never through a symbolic link planted under its name (the open
// fails instead). Null when it cannot be made.
std::FILE* CreatePrivateScratchFile(const std::string& path);

}  // namespace bcu::platform
