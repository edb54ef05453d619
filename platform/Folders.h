#pragma once
// Folders the program makes and the few facts about paths it asks: the
// folder of the program's own data, private folders (readable by their owner
// only: mode 0700, or an owner-only ACL on Windows), the private folder of
// one run, and whether a path names something.
//
// Paths are UTF-8 text inside the program; the Windows files turn them into
// wide paths at the system call.
#include <cstdint>
#include <string>

namespace bcu::platform {

// The folder that holds the program's data (backups, the update history):
// on Linux <XDG_DATA_HOME or ~/.local/share>/brisant-code-updater, on Windows
// %LOCALAPPDATA%\Brisant Code Updater. Empty when the system names no such
// place; `why` (when given) then says what is missing.
std::string ProgramDataFolder(std::string* why = nullptr);
// The program's data folder under `dataHome` (the user's data folder):
// "<dataHome>/brisant-code-updater" or "<dataHome>\Brisant Code Updater".
std::string ProgramDataFolderIn(const std::string& dataHome);
// `folder` joined with `name` by the system's separator.
std::string JoinPath(const std::string& folder, const std::string& name);

// The folder part of `path` ("." when it has none).
std::string FolderOf(const std::string& path);

// Makes `folder` and its missing parents, each new one private. False with
// `error` ("<the part that failed>: <reason>") otherwise, also when `folder`
// exists and is not a folder.
bool MakePrivateFolders(const std::string& folder, std::string& error);

// Where a run's work folder goes when the caller names no folder: the
// current folder (empty) on Linux, the temporary folder on Windows.
std::string WorkFolderBase();

// Makes a new private folder named `stem` followed by six random characters
// inside `base` (empty: the current folder) and returns its path (relative
// when `base` is empty). Empty with `error` (the system's reason) otherwise.
std::string MakeUniqueFolder(const std::string& base, const std::string& stem, std::string& error);

// A folder of the program's data is safe to write into when it is a real
// folder (not a symbolic link, which could lead one user's files into
// another's folder), owned by this user and not writable by others. False
// with `why` ("<folder> is a symbolic link", "... is owned by another user",
// "... is writable by others (mode 0777)") otherwise; a folder that does not
// exist is safe (it is made private). On Windows the folders below
// %LOCALAPPDATA% are the user's own: only links are refused.
bool FolderIsUsersOwn(const std::string& folder, std::string& why);

// The path names something (a file, a folder, a device; links not followed).
bool PathExists(const std::string& path);
// The path names a regular file (links followed); `size` receives its size.
bool RegularFileSize(const std::string& path, std::uint64_t& size);

}  // namespace bcu::platform
