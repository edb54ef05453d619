#pragma once
// Backups of the codeplugs read from radios. Every image read whole from a
// radio before the radio's copy may be rewritten is kept, success or not, in
// the user's data folder, one folder per radio serial number:
//
//   $XDG_DATA_HOME/brisant-code-updater/backups/<serial>/<time>-<format>.bin
//
// (~/.local/share when XDG_DATA_HOME is not set). The files hold the image as
// the radio sent it (words high byte first), readable by the owner only, and
// are never overwritten; `bcu codeplug write` puts one back.
#include <cstdint>
#include <ctime>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/FolderRoom.h"

namespace bcu::app {

// The backup folder from the values of XDG_DATA_HOME and HOME (either may be
// null): <data>/brisant-code-updater/backups, where <data> is XDG_DATA_HOME
// when it is an absolute path and HOME/.local/share otherwise. Empty when
// neither gives a folder.
std::string BackupRootFrom(const char* xdgDataHome, const char* home);
// The same from this process's environment.
std::string DefaultBackupRoot();

// The folder name of a serial number: its characters 0-9, A-Z, a-z; "unknown"
// when none is left.
std::string BackupSerialName(const std::string& serial);
// "<YYYYmmdd-HHMMSS>-<format>.bin", local time.
std::string CodeplugBackupFileName(std::time_t when, const std::string& format);

// Writes `bytes` as a new backup of the radio `serial` (its folders made as
// needed, mode 0700; the file mode 0600). The data folder, the backup root
// and the radio's folder must each be a real folder of this user's that
// nobody else may write into (a symbolic link planted at backups/<serial> is
// refused). A name that is taken gets "-2",
// "-3", ... before ".bin"; an earlier backup is never replaced. Returns the
// file's absolute path, or an empty text with `error` set.
std::string WriteCodeplugBackup(const std::string& root, const std::string& serial,
                                const std::string& format, std::span<const std::uint8_t> bytes,
                                std::time_t when, std::string& error);

struct CodeplugBackupEntry {
  std::string path;    // absolute
  std::string serial;  // the folder name
  std::string time;    // "YYYY-mm-dd HH:MM:SS", local time of the backup
  std::string format;  // "5.9", or what the name says
  std::uintmax_t bytes = 0;
};

// The backups under `root`, of one serial number when `serial` is not empty,
// oldest first. A root that does not exist holds none. False with `error`
// when the folder cannot be read.
bool ListCodeplugBackups(const std::string& root, const std::string& serial,
                         std::vector<CodeplugBackupEntry>& entries, std::string& error);

// Room a run needs in the data folder before it writes to a radio: the
// largest codeplug backup and the run's line in the update history.
inline constexpr std::uintmax_t kBackupRoomBytes = 65536 + 4096;

// Whether a backup can be kept under `root`, asked with `room` (the
// platform's QueryFolderRoom, or a test's): the folder (and the data folder
// above it) is this user's own, not writable by others, writable and has
// kBackupRoomBytes free. False with `reason` ("<folder>: Permission denied",
// "<folder> has 1024 bytes free; ...") otherwise.
bool BackupCanBeKept(const std::string& root,
                     const std::function<platform::FolderRoom(const std::string&)>& room,
                     std::string& reason);

}  // namespace bcu::app

namespace bcu::app {

class CodeUpdater;

// What one codeplug preservation step did, beyond its outcome.
struct CodeplugStepReport {
  int outcome = 0;
  int imageFormatIndex = 255;   // of the codeplug read from the radio
  int targetFormatIndex = 255;  // the format the radio's new code expects
  std::int32_t uploadedBytes = 0;
  std::int32_t downloadedBytes = 0;  // 0 when nothing was written to the radio
  bool downloadAttempted = false;    // the download began: the radio's copy may have changed
  bool radioKeyRead = false;
  std::string serialNumber;  // as read from the radio (hex digits); empty: not read
  bool sumDiffered = false;
  bool conversionFailed = false;
  // After a download: whether it was read back and compared, and how long
  // that took (real time).
  bool verified = false;
  bool verifySkipped = false;             // the caller asked for no read-back
  std::int32_t verifyDifferentWord = -1;  // first word that read back differently
  double verifySeconds = 0;
  // The backup file that holds the codeplug as read (empty: none was kept).
  std::string backupPath;
  std::string backupError;  // why no backup could be written
  // Text added to the outcome's status text (names the backup, says why).
  std::string note;
};

// Outcome beyond the five of the step: the image would not convert (it would
// not fit the buffer, or the result failed the validity check); nothing was
// written to the radio.
inline constexpr int kCodeplugConversionFailed = 6;
// The codeplug was written, but reading it back to compare failed: the radio
// may or may not hold what was sent.
inline constexpr int kCodeplugNotVerified = 7;
// Outcome beyond the five of the step: the run was asked to stop before the
// codeplug was read or written back; the radio's codeplug is as it was.
inline constexpr int kCodeplugStopped = 8;

// The preservation step with its report (CodeUpdater::PreserveCodeplug returns
// only the outcome).
CodeplugStepReport PreserveCodeplugWithReport(CodeUpdater& updater);

// A host that also implements this hears of every codeplug step.
class CodeplugStepObserver {
 public:
  virtual ~CodeplugStepObserver() = default;
  virtual void OnCodeplugStep(const CodeplugStepReport& report) = 0;
};

}  // namespace bcu::app
