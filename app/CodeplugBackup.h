#pragma once
// A copy of the codeplug read from the radio, kept on disk while the radio's
// own copy is being rewritten, so that no radio configuration is ever lost: if
// the download back into the radio fails, the file stays and can be written
// again with `bcu codeplug write`.
#include <cstdint>
#include <ctime>
#include <string>

namespace bcu::app {

// "codeplug-backup-<serial>-<YYYYmmdd-HHMMSS>.bin". Characters of `serial`
// outside 0-9, A-Z, a-z are left out; an empty serial gives "unknown".
std::string CodeplugBackupFileName(const std::string& serial, std::time_t when);

// Writes `bytes` (the codeplug as uploaded, words high byte first) into a new
// file, mode 0600, in `directory` (empty: the current directory). A name that is taken
// gets "-2", "-3", ... before ".bin". Returns the path written, or an empty
// text when the file could not be written (a partial file is removed).
std::string WriteCodeplugBackup(const std::string& directory, const std::string& serial,
                                const std::uint8_t* bytes, std::size_t count, std::time_t when);

// Reads a whole codeplug file of at most `capacity` bytes. False when the file
// cannot be read or is larger.
bool ReadCodeplugBytes(const std::string& path, std::uint8_t* bytes, std::size_t capacity,
                       std::size_t& count);

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
  bool radioKeyRead = false;
  bool sumDiffered = false;
  bool conversionFailed = false;
  // The backup file that still holds the radio's codeplug (empty: none kept).
  std::string backupPath;
  // Text added to the outcome's status text (names the backup, says why).
  std::string note;
};

// Outcome beyond the five of the step: the image would not convert (it would
// not fit the buffer); nothing was written to the radio.
inline constexpr int kCodeplugConversionFailed = 6;

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
