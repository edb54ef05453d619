#pragma once
// Writing a file so that it is never found half written.
//
// The bytes go into a temporary file in the target's own folder, which is
// flushed to the disk and then renamed over the target; the folder is synced
// too. A reader, a crash or a full disk therefore sees either the old file or
// the whole new one. On any failure the target is left as it was and the
// temporary file is removed.
//
// Every file the program writes that holds a radio's codeplug (codeplug files,
// backups, converted images) or a report goes through here; files holding a
// radio's configuration are written with kPrivateFileMode.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/FileModes.h"

namespace bcu::platform {

// What to do when the target exists already.
enum class ExistingFile {
  kReplace,  // the new file takes its place
  kKeep,     // the write fails ("already exists") and the old file stays
};

struct AtomicWriteOptions {
  unsigned mode = kPublicFileMode;  // permissions of the new file (the umask still applies)
  ExistingFile existing = ExistingFile::kReplace;
};

// Writes `bytes` to `path`. True when the whole file is in place; false with
// `error` reading "<path>: <reason>" otherwise.
bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         const AtomicWriteOptions& options, std::string& error);
bool WriteFileAtomically(const std::string& path, std::string_view text,
                         const AtomicWriteOptions& options, std::string& error);

}  // namespace bcu::platform
