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
#include <cstdint>
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

 private:
  void Status(const std::string& text);

  CommLink& link_;
  platform::StatusTextCallback statusText_;
  void* form_;
  std::uint8_t platformCode_;
  bool isBoot_;
  bool processor416_;
  DownloadBlocks blocks_;
};

// The download as one call (a FlashDownloader of its own).
int FlashDownload(CommLink& link, std::istream& loaderFile, std::istream& codeFile,
                  platform::StatusTextCallback statusText, void* form, std::uint8_t platformCode,
                  platform::ProgressBar& progressBar, bool isBoot, bool processor416);

}  // namespace bcu::link
