#include "link/DspDownload.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "link/SRecord.h"
#include "platform/FileOpen.h"
#include "platform/PrivateFile.h"

namespace bcu::link {
namespace {

constexpr std::uint32_t kDownloadTimeoutMs = 15000;
constexpr int kPieceWords = 16000;
constexpr int kPieceBytes = 2 * kPieceWords;

bool ReadAt(std::istream& in, std::uint64_t offset, void* out, std::size_t n) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(static_cast<char*>(out), static_cast<std::streamsize>(n));
  const bool ok = in.good() || static_cast<std::size_t>(in.gcount()) == n;
  in.clear();
  return ok;
}

bool ReadU16(std::istream& in, std::uint64_t offset, std::uint32_t& value) {
  std::uint8_t b[2];
  if (!ReadAt(in, offset, b, 2)) return false;
  value = b[0] | static_cast<std::uint32_t>(b[1]) << 8;
  return true;
}

bool ReadU32(std::istream& in, std::uint64_t offset, std::uint32_t& value) {
  std::uint8_t b[4];
  if (!ReadAt(in, offset, b, 4)) return false;
  value = b[0] | static_cast<std::uint32_t>(b[1]) << 8 | static_cast<std::uint32_t>(b[2]) << 16 |
          static_cast<std::uint32_t>(b[3]) << 24;
  return true;
}

}  // namespace

DspDownloader::DspDownloader(CommLink& link, int platformCode,
                             platform::StatusTextCallback statusText, void* form,
                             platform::ProgressBar& progressBar)
    : link_(link),
      platformCode_(platformCode),
      statusText_(statusText),
      form_(form),
      progressBar_(progressBar),
      blocks_(link, progressBar, DownloadBlocks::Mode::Dsp) {}

DspDownloader::~DspDownloader() {
  ClosePageFiles();
}

void DspDownloader::Status(const std::string& text) {
  if (statusText_) statusText_(form_, text);
}

void DspDownloader::DspReportStatus(int result) {
  if (result == kCommProblem) Status(kDspTextCommProblem);
  if (result == kCommTimedOut) Status(kDspTextTimedOut);
}

bool DspDownloader::PageWritten(int page) const {
  if (platformCode_ == 3) return page >= 0 && page <= 7;
  return page == 0 || page == 2 || (page >= 5 && page <= 8);
}

void DspDownloader::ClosePageFiles() {
  for (auto& f : pageFile_) {
    if (f) std::fclose(f);
    f = nullptr;
  }
}

bool DspDownloader::CreatePageFiles(const std::string& directory) {
  for (int page = 0; page < kDspPages; ++page) {
    pageName_[page] = directory + "Page" + std::to_string(page);
    // A symbolic link planted under a page file's name is not followed (its
    // target would be truncated): the open fails instead.
    pageFile_[page] = platform::CreatePrivateScratchFile(pageName_[page]);
    pageUsed_[page] = false;
    if (!pageFile_[page]) {
      ClosePageFiles();
      return false;
    }
  }
  pagesUsed_ = 0;
  return true;
}

int DspDownloader::Run(std::istream& loaderFile, std::istream& dspFile,
                       const std::string& directory) {
  CommSetTimeout(link_, kDownloadTimeoutMs);
  // Nothing goes out once a stop is requested before the loader. Once the
  // loader went, the pages follow unless the stop is at once: a DSP image is
  // short, and one cut short leaves the radio without working DSP code.
  const auto stopped = [this](bool atOnceOnly) {
    if (!(atOnceOnly ? CommStopRequested(link_) : CommStopAfterStepRequested(link_))) return false;
    DspReportStatus(kCommTimedOut);
    return true;
  };
  int result = stopped(false) ? kCommTimedOut : DspSendLoader(loaderFile);
  if (result == kCommSuccess) {
    CommSleep(link_, 1000);  // a plain pause: no pumping
    result = stopped(true) ? kCommTimedOut : DspSendPages(dspFile, directory);
  }
  CommEndExchange(link_);
  return result;
}

int DspDownloader::DspSendLoader(std::istream& loaderFile) {
  const std::int64_t size = StreamSize(loaderFile);
  blocks_.StartProgress(size / 4 + 64);
  blocks_.result = kCommSuccess;

  CommPacket start, ack, busy;
  CommMakeCommand(start, kKeyStartDownload, true);
  CommMakeCommand(ack, kKeyAck, true);
  CommMakeCommand(busy, kKeyBusy, true);
  bool gotBusy = false;
  CommSendPacket(link_, start);
  CommPacket reply = CommWaitReply(link_, ack, CommReplyLength(kKeyAck, true), false, busy,
                                   CommReplyLength(kKeyBusy, true), gotBusy);
  if (CommGetResult(link_) == kCommSuccess && reply.length > 0) {
    blocks_.Start();
    Status(kDspTextLoader);
    std::string line;
    while (blocks_.result == kCommSuccess && SRecordReadLine(loaderFile, line)) {
      if (line.size() >= 2 && line[0] == 'S' && line[1] == '9') break;
      // Every other line counts as an S3 record.
      blocks_.progress += 4;
      // Only data digits the line holds (a missing checksum takes nothing away).
      const int present = std::max(0, (static_cast<int>(line.size()) - 12) / 2);
      const int n = std::min(SRecordHexByte(line, 2) - 5, present);
      for (int i = 0; i < n && blocks_.result == kCommSuccess; ++i)
        blocks_.PutByte(SRecordHexByte(line, 12 + 2 * i));
    }
    if (blocks_.result == kCommSuccess) {
      blocks_.FinishBlocks();
      if (blocks_.result == kCommSuccess) SendCommandKey(link_, kKeyEndDownload);
    }
  }
  int result = CommGetResult(link_);
  if (result == kCommSuccess && (reply.length == 0 || blocks_.result != kCommSuccess))
    result = blocks_.result != kCommSuccess ? blocks_.result : kCommProblem;
  if (result != kCommSuccess) DspReportStatus(result);
  return result;
}

void DspDownloader::DspCopySection(std::istream& dspFile, std::uint32_t sizeWords,
                                   std::uint64_t rawOffset, std::uint64_t pageOffset, int page) {
  if (page < 0 || page >= kDspPages || !PageWritten(page) || !pageFile_[page]) return;
  if (!readError_.empty()) return;
  if (pageOffset + 2ull * sizeWords > kDspPageLimitBytes) {
    readError_ = "section " + std::to_string(section_) + " reaches beyond the " +
                 std::to_string(kDspPageLimitBytes / (1024 * 1024)) + " MB a page image may hold";
    return;
  }
  std::vector<std::uint8_t> piece(kPieceBytes);
  for (std::int64_t n = sizeWords; n >= 0; n -= kPieceWords) {
    const std::size_t chunk = n <= kPieceWords ? static_cast<std::size_t>(2 * n) : kPieceBytes;
    if (chunk > 0) {
      if (!ReadAt(dspFile, rawOffset, piece.data(), chunk)) {
        // A cut-off file: the page would go out with a hole in it.
        readError_ = "section " + std::to_string(section_) + " needs " + std::to_string(chunk) +
                     " bytes at offset " + std::to_string(rawOffset) +
                     " and the file ends before them";
        return;
      }
      std::FILE* f = pageFile_[page];
      if (std::fseek(f, static_cast<long>(pageOffset), SEEK_SET) != 0 ||
          std::fwrite(piece.data(), 1, chunk, f) != chunk) {
        if (writeError_.empty())
          writeError_ = pageName_[page] + ": " + std::strerror(errno ? errno : EIO);
      }
    }
    if (!pageUsed_[page]) {
      pageUsed_[page] = true;
      ++pagesUsed_;
    }
    rawOffset += kPieceBytes;
    pageOffset += kPieceBytes;
  }
}

bool DspDownloader::DspSendPage(std::FILE* pageFile, int pageNumber) {
  long size = -1;
  if (std::fseek(pageFile, 0, SEEK_END) == 0) size = std::ftell(pageFile);
  if (size < 0 || std::fseek(pageFile, 0, SEEK_SET) != 0) {
    readError_ = std::strerror(errno ? errno : EIO);
    return false;
  }
  blocks_.StartProgress(static_cast<std::int64_t>(size) / 2 + 128);
  Status("Downloading page " + std::to_string(pageNumber) + " of " + std::to_string(pagesUsed_) +
         " from input DSP file ...");
  std::vector<std::uint8_t> piece(kPieceBytes);
  long left = size;
  while (left > 0 && blocks_.result == kCommSuccess) {
    const std::size_t want = static_cast<std::size_t>(std::min<long>(left, kPieceBytes));
    errno = 0;
    const std::size_t got = std::fread(piece.data(), 1, want, pageFile);
    if (got < want) {
      // The page ends early: never send a part of it as the whole.
      readError_ = std::ferror(pageFile) ? std::strerror(errno ? errno : EIO)
                                         : std::to_string(left - static_cast<long>(got)) +
                                               " bytes missing at its end";
      return false;
    }
    left -= static_cast<long>(got);
    for (std::size_t i = 0; i < got && blocks_.result == kCommSuccess; ++i)
      blocks_.PutByte(piece[i]);
  }
  blocks_.FinishBlocks();
  return true;
}

int DspDownloader::DspSendPages(std::istream& dspFile, const std::string& directory) {
  std::uint32_t sections = 0, optionalHeader = 0;
  readError_.clear();
  if (!ReadU16(dspFile, 2, sections) || !ReadU16(dspFile, 16, optionalHeader)) {
    Status(kDspTextFileDamaged + std::string("it ends before its section table)."));
    return kCommProblem;
  }
  const std::uint64_t headersAt = optionalHeader == 0 ? 22 : 50;
  const std::uint64_t headerSize = platformCode_ == 3 ? 48 : 40;

  writeError_.clear();
  if (!CreatePageFiles(directory)) {
    const std::string reason = std::strerror(errno);
    if (directory.empty() || !CreatePageFiles("")) {
      Status("DSP page files cannot be written (" + pageName_[0] + ": " + reason + ").");
      return kCommProblem;
    }
    Status("The folder " + directory + " cannot take the DSP page files (" + reason +
           "); they are written to the current folder.");
  }
  Status(kDspTextPreparing);

  CommPacket start, ack, busy, written;
  CommMakeCommand(start, kKeyStartDsp, true);
  CommMakeCommand(ack, kKeyAck, true);
  CommMakeCommand(busy, kKeyBusy, true);
  CommMakeCommand(written, kKeyDspPageWritten, true);
  const int busyLen = CommReplyLength(kKeyBusy, true);
  bool gotBusy = false;
  CommSendPacket(link_, start);
  CommPacket reply =
      CommWaitReply(link_, ack, CommReplyLength(kKeyAck, true), false, busy, busyLen, gotBusy);
  int result = CommGetResult(link_);
  if (result == kCommSuccess && reply.length == 0) result = kCommProblem;
  if (result != kCommSuccess) {
    DspReportStatus(result);
    return result;
  }

  blocks_.Start();
  blocks_.result = kCommSuccess;
  blocks_.progress = 0;
  progressBar_.SetPosition(0);

  for (std::uint32_t s = 0; s < sections && readError_.empty(); ++s) {
    const std::uint64_t h = headersAt + s * headerSize;
    section_ = static_cast<int>(s) + 1;
    // The whole header must be there, whichever of its fields are used.
    std::uint8_t last = 0;
    std::uint32_t startWords = 0, sizeWords = 0, rawOffset = 0, pageField = 0;
    if (!ReadAt(dspFile, h + headerSize - 1, &last, 1) || !ReadU32(dspFile, h + 12, startWords) ||
        !ReadU32(dspFile, h + 16, sizeWords) || !ReadU32(dspFile, h + 20, rawOffset)) {
      readError_ = "its section table ends after " + std::to_string(s) + " of " +
                   std::to_string(sections) + " sections";
      break;
    }
    int page;
    if (platformCode_ == 3) {
      std::uint32_t selector = 0;
      ReadU16(dspFile, h + 14, pageField);
      ReadU16(dspFile, h + 46, selector);
      if (selector & 0xFF) continue;
      page = static_cast<int>(pageField);
    } else {
      ReadU16(dspFile, h + 38, pageField);
      page = static_cast<int>(pageField >> 8);
    }
    DspCopySection(dspFile, sizeWords, rawOffset, 2ull * startWords, page);
  }
  ClosePageFiles();
  if (!readError_.empty()) {
    Status(kDspTextFileDamaged + readError_ + ").");
    return kCommProblem;
  }
  if (!writeError_.empty()) {
    Status("DSP page file cannot be written (" + writeError_ + ").");
    return kCommProblem;
  }

  int pageNumber = 1;
  for (int page = 0; page < kDspPages; ++page) {
    if (!pageUsed_[page]) continue;
    std::FILE* f = platform::OpenFile(pageName_[page], "rb");
    if (!f) {
      Status("DSP page file cannot be read (" + pageName_[page] + ": " + std::strerror(errno) +
             ").");
      return kCommProblem;
    }
    const bool whole = DspSendPage(f, pageNumber);
    std::fclose(f);
    if (!whole && blocks_.result == kCommSuccess) {
      Status("DSP page file cannot be read (" + pageName_[page] + ": " + readError_ + ").");
      return kCommProblem;
    }
    SendCommandKey(link_, kKeyEndDspPage);
    reply = CommWaitReply(link_, written, CommReplyLength(kKeyDspPageWritten, true), false, busy,
                          busyLen, gotBusy);
    result = CommGetResult(link_);
    if (result == kCommSuccess && blocks_.result != kCommSuccess) result = blocks_.result;
    if (result == kCommSuccess && reply.length == 0) result = kCommProblem;
    if (result != kCommSuccess) {
      DspReportStatus(result);
      return result;
    }
    ++pageNumber;
  }
  SendCommandKey(link_, kKeyEndDownload);
  for (const auto& name : pageName_) platform::RemoveFile(name);
  Status(kDspTextFinished);
  return kCommSuccess;
}

int DspDownload(CommLink& link, std::istream& loaderFile, std::istream& dspFile, int platformCode,
                platform::StatusTextCallback statusText, void* form, const std::string& directory,
                platform::ProgressBar& progressBar) {
  DspDownloader download(link, platformCode, statusText, form, progressBar);
  return download.Run(loaderFile, dspFile, directory);
}

}  // namespace bcu::link
