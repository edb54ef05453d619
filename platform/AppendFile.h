#pragma once
// Adding whole lines at the end of a shared record file (the update history)
// without copying it: the cost of one append does not grow with the file.
//
// The caller serialises appends (a FileLock); the append itself is one write
// of all the new bytes at the file's end, then a sync, so a crash can leave at
// most a last line cut short, never a line mixed with another. A file whose
// last byte is not a line end (a line cut short, or one written by hand) gets
// one first, so the new lines always start on a line of their own.
#include <string>
#include <string_view>

namespace bcu::platform {

// Appends `lines` (whole lines, each ending in '\n') to the file at `path`,
// which is made owner-only when it does not exist; an existing file's access
// is narrowed to the owner's. False with `error` ("<path>: <reason>") when it
// could not be done; the file is then cut back to its length before.
bool AppendLines(const std::string& path, std::string_view lines, std::string& error);

}  // namespace bcu::platform
