#pragma once
// The private folder of one update run, and the checks a work file passes
// before a download reads it.
//
// Every run writes its work files (chunk files, the joined loader and code,
// the DSP page files) into a private folder of its own (mode 0700, an
// owner-only ACL on Windows) inside the chosen folder, and removes the folder with everything in it
// when the run ends. Two copies of the updater started in one folder therefore never meet at the
// chunk files, never take or delete each other's files, and nobody else can plant a file or a link
// under a work file's name.
#include <string>

namespace bcu::app {

// Makes a new private folder "bcu-work-XXXXXX" inside `base` (empty: the
// current directory on Linux, the temporary folder on Windows). When `base`
// is empty and that folder takes no folder, the system's temporary folder is
// used instead. Returns the
// folder's path, or empty with `error` saying why.
std::string MakeRunWorkFolder(const std::string& base, std::string& error);

// Removes a folder made by MakeRunWorkFolder with everything in it (links
// inside are removed, never followed). Empty: nothing to do.
void RemoveRunWorkFolder(const std::string& folder);

enum class WorkFileKind {
  SRecordLoader,  // S-record text: must exist and not be empty
  SRecordCode,    // S-record text that holds at least one S1, S2 or S3 record
  Binary,         // raw bytes (a DSP image): must exist and not be empty
};

// Empty when the work file at `path` may be downloaded; otherwise the status
// text that names the file (by `name`) and says what is wrong with it.
std::string CheckWorkFile(const std::string& path, const std::string& name, WorkFileKind kind);

}  // namespace bcu::app
