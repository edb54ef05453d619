#pragma once
// The DSP download: streams a loader in S3 records, splits a DSP object file
// into memory-page images on disk (files "Page0" to "Page8") and streams each
// page that received data, with the block protocol of the flash download but
// without resends, verify reports or processor check.
//
// DSP object file (little-endian): section count at 2, optional header size at
// 16 (section headers start at 22 when it is 0, else at 50); section headers of
// 40 bytes (48 for platform code 3) with the start address in words at 12, the
// size in words at 16, the raw data offset at 20 and the memory page in the
// high byte of the word at 38 (platform code 3: page at 14, and a selector word
// at 46 whose low 8 bits, when any is set, skip the section). Pages 0, 2, 5, 6,
// 7 and 8 are written (platform code 3: 0 to 7).
#include <array>
#include <cstdint>
#include <cstdio>
#include <istream>
#include <string>

#include "link/CommLink.h"
#include "link/DownloadBlocks.h"
#include "platform/Host.h"

namespace bcu::link {

inline constexpr int kDspPages = 9;
inline constexpr const char* kDspTextCommProblem = "Communication problem during DSP download.";
inline constexpr const char* kDspTextTimedOut = "DSP download timed out or canceled by user.";
inline constexpr const char* kDspTextFinished = "Download finished";
inline constexpr const char* kDspTextLoader = "Downloading Loader code...";
inline constexpr const char* kDspTextPreparing = "Preparing to download ...";
// Start of the text for a DSP file that cannot be read whole; the reason and
// ")." follow.
inline constexpr const char* kDspTextFileDamaged = "DSP file cannot be used (";
// Largest page image accepted from a section header (a DSP page holds far
// less); a section reaching beyond it ends the download as a damaged file
// rather than blow up a page file.
inline constexpr std::uint64_t kDspPageLimitBytes = 16u * 1024 * 1024;

class DspDownloader {
 public:
  DspDownloader(CommLink& link, int platformCode, platform::StatusTextCallback statusText,
                void* form, platform::ProgressBar& progressBar);
  ~DspDownloader();
  DspDownloader(const DspDownloader&) = delete;
  DspDownloader& operator=(const DspDownloader&) = delete;

  // The whole download: 1, 2 or 4. `directory` (with its trailing separator,
  // or empty for the current directory) receives the page files.
  int Run(std::istream& loaderFile, std::istream& dspFile, const std::string& directory);

  int DspSendLoader(std::istream& loaderFile);
  int DspSendPages(std::istream& dspFile, const std::string& directory);
  // A section whose data the file does not hold, or that reaches beyond
  // kDspPageLimitBytes, is recorded as a read error (ReadError()); the
  // download then ends with 2 and says so.
  void DspCopySection(std::istream& dspFile, std::uint32_t sizeWords, std::uint64_t rawOffset,
                      std::uint64_t pageOffset, int page);
  // False when the page file could not be read whole (ReadError() tells
  // why): the page is then not finished and the download ends.
  bool DspSendPage(std::FILE* pageFile, int pageNumber);
  void DspPutWord(std::uint16_t word) { blocks_.PutWord(word); }
  void DspFlushBlock() { blocks_.FlushBlock(); }
  void DspFinishBlocks() { blocks_.FinishBlocks(); }
  void DspReportStatus(int result);

  // Where the page files went (after DspSendPages).
  const std::string& PageName(int page) const { return pageName_[page]; }
  int PagesUsed() const { return pagesUsed_; }
  // The first read error of the DSP file or a page file (empty: none).
  const std::string& ReadError() const { return readError_; }
  const DownloadBlocks& Blocks() const { return blocks_; }

 private:
  void Status(const std::string& text);
  bool PageWritten(int page) const;
  bool CreatePageFiles(const std::string& directory);
  void ClosePageFiles();

  CommLink& link_;
  int platformCode_;
  platform::StatusTextCallback statusText_;
  void* form_;
  platform::ProgressBar& progressBar_;
  DownloadBlocks blocks_;
  std::array<std::FILE*, kDspPages> pageFile_{};
  std::array<std::string, kDspPages> pageName_{};
  std::array<bool, kDspPages> pageUsed_{};
  int pagesUsed_ = 0;
  std::string writeError_;  // the first page file write that failed
  std::string readError_;   // the first read of the DSP file or a page file that failed
  int section_ = 0;         // section being copied (1-based), for the texts
};

// The download as one call (a DspDownloader of its own).
int DspDownload(CommLink& link, std::istream& loaderFile, std::istream& dspFile, int platformCode,
                platform::StatusTextCallback statusText, void* form, const std::string& directory,
                platform::ProgressBar& progressBar);

}  // namespace bcu::link
