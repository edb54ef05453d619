#pragma once
// The flash code download: streams a loader into the radio, checks the
// processor variant where the platform needs it, waits out the radio's flash
// erase and streams the application or boot code, all from S-record text, in
// acknowledged 128-byte blocks with a sum per pair of blocks
// (link/DownloadBlocks.h).
//
// The link must be open, framed and running. Status texts go through the
// callback; the progress bar is driven directly. Each download's state is its
// own FlashDownloader, so downloads on different links can run in different
// threads.
//
// Stopping (link/StopRequest.h): a stop after the step ends the loader
// between two pairs of blocks, before its end command, so the flash is not
// erased; it ends the application code between two pairs too (the radio is
// then in bootload mode without application code, and a new run completes
// it), and the erase wait before it. Boot code is never ended so: once the
// loader of a boot download has ended, its erase wait and the boot code run
// to their end, since a radio with part of its boot code may no longer
// start. A stop at once ends whatever runs.
#include <cstdint>
#include <functional>
#include <istream>
#include <string>

#include "link/CommLink.h"
#include "link/DownloadBlocks.h"
#include "platform/Host.h"

namespace bcu::link {

inline constexpr const char* kFlashTextPreparing = "Preparing to download ...";
inline constexpr const char* kFlashTextFinished = "Download finished.";
inline constexpr const char* kFlashTextCommProblem = "Communication problem during code download.";
inline constexpr const char* kFlashTextTimedOut = "Code download timed out or canceled by user.";
inline constexpr const char* kFlashTextVerifyFailed = "Flash Verify failed at address: 0x";

// Erase wait in ticks of 55 ms and its status text (empty: none) by platform
// code and kind of download.
struct FlashEraseWait {
  int ticks;
  const char* text;
};
FlashEraseWait FlashEraseWaitFor(std::uint8_t platformCode, bool isBoot);

// How far a download got, for what a stopped run says of the radio.
enum class FlashStage {
  kNotStarted,
  kLoader,     // the loader is going out; the flash is untouched
  kErase,      // the loader's end command went: the radio erases its flash
  kCode,       // the code is going out
  kCodeEnded,  // the code's end command went
};

class FlashDownloader {
 public:
  FlashDownloader(CommLink& link, platform::StatusTextCallback statusText, void* form,
                  std::uint8_t platformCode, platform::ProgressBar& progressBar, bool isBoot,
                  bool processor416);

  // The whole download: 1 on success, else 2, 4, 6 or 9.
  int Run(std::istream& loaderFile, std::istream& codeFile);

  // One S-record file: the loader (isCode false) or the code (isCode true).
  int FlashSendFile(std::istream& file, bool isCode);
  void FlashPutWord(std::uint16_t word) { blocks_.PutWord(word); }
  void FlashFlushBlock() { blocks_.FlushBlock(); }
  void FlashFinishBlocks() { blocks_.FinishBlocks(); }
  // Asks the radio for its processor variant (02 0B, reply 02 0C): 1 when it
  // matches the code, 9 when it is the other variant, and 2 or 4 (reported
  // with the download's failure text) when no answer came.
  int FlashCheckProcessor();
  void FlashReportStatus(int result);
  void FlashReportVerifyFailure(const std::uint8_t address[4]);

  const DownloadBlocks& Blocks() const { return blocks_; }
  FlashStage Stage() const { return stage_; }
  bool IsBoot() const { return isBoot_; }
  // Hears every change of stage (may be empty).
  std::function<void(FlashStage)> onStage;

 private:
  void Status(const std::string& text);
  void EnterStage(FlashStage stage);
  // A stop after the step may end this file (the loader, application code).
  bool MayStopInside(bool isCode) const { return !isCode || !isBoot_; }

  CommLink& link_;
  platform::StatusTextCallback statusText_;
  void* form_;
  std::uint8_t platformCode_;
  bool isBoot_;
  bool processor416_;
  DownloadBlocks blocks_;
  FlashStage stage_ = FlashStage::kNotStarted;
};

// The download as one call (a FlashDownloader of its own).
int FlashDownload(CommLink& link, std::istream& loaderFile, std::istream& codeFile,
                  platform::StatusTextCallback statusText, void* form, std::uint8_t platformCode,
                  platform::ProgressBar& progressBar, bool isBoot, bool processor416);

}  // namespace bcu::link
