#include "link/FlashDownload.h"

#include <algorithm>
#include <cstdio>

#include "link/DelayTicks.h"
#include "link/SRecord.h"
#include "platform/Pump.h"

namespace bcu::link {
namespace {
constexpr std::uint32_t kDownloadTimeoutMs = 15000;
}  // namespace

FlashEraseWait FlashEraseWaitFor(std::uint8_t platformCode, bool isBoot) {
  if (platformCode == 1 || isBoot) return {18, ""};
  if (platformCode == 4) return {720, "Erasing flash (40 seconds)..."};
  if (platformCode == 0 || platformCode == 8) return {36, "Erasing flash (2 seconds)..."};
  return {1440, "Erasing flash (80 seconds)..."};
}

FlashDownloader::FlashDownloader(CommLink& link, platform::StatusTextCallback statusText,
                                 void* form, std::uint8_t platformCode,
                                 platform::ProgressBar& progressBar, bool isBoot, bool processor416)
    : link_(link),
      statusText_(statusText),
      form_(form),
      platformCode_(platformCode),
      isBoot_(isBoot),
      processor416_(processor416),
      blocks_(link, progressBar, DownloadBlocks::Mode::Flash) {
  blocks_.onVerifyFailure = [this](const std::uint8_t* address) {
    FlashReportVerifyFailure(address);
  };
}

void FlashDownloader::Status(const std::string& text) {
  if (statusText_) statusText_(form_, text);
}

void FlashDownloader::EnterStage(FlashStage stage) {
  stage_ = stage;
  if (onStage) onStage(stage);
}

int FlashDownloader::Run(std::istream& loaderFile, std::istream& codeFile) {
  Status(kFlashTextPreparing);
  // The block dialogue reacts to every reply: under load it runs raised.
  CommExchangePriority priority(link_, [this](const std::string& text) { Status(text); });
  int result = kCommSuccess;
  CommSetTimeout(link_, kDownloadTimeoutMs);
  result = FlashSendFile(loaderFile, false);
  if (result == kCommSuccess && platformCode_ == 1) result = FlashCheckProcessor();
  if (result == kCommSuccess) {
    const FlashEraseWait wait = FlashEraseWaitFor(platformCode_, isBoot_);
    if (*wait.text) Status(wait.text);
    // The code may only follow a whole erase wait: a wait cut short ends the
    // download here. Before boot code only a stop at once cuts it (the
    // erased boot code must be written again); before application code any
    // stop does, and so does the program being told to quit.
    const bool waited =
        isBoot_ ? DelayTicksUnless(link_, wait.ticks, [this] { return CommStopRequested(link_); })
                : DelayTicksUnless(link_, wait.ticks, [this] {
                    return CommStopAfterStepRequested(link_) ||
                           (link_.pump != nullptr && link_.pump->QuitRequested());
                  });
    if (!waited) {
      result = kCommTimedOut;
      FlashReportStatus(result);
    } else {
      result = FlashSendFile(codeFile, true);
    }
    if (result == kCommSuccess) Status(kFlashTextFinished);
  }
  CommEndExchange(link_);
  return result;
}

int FlashDownloader::FlashSendFile(std::istream& file, bool isCode) {
  // Nothing of a file goes out once a stop is requested, not even its start
  // (a stop after the step does not hold back boot code after its loader).
  const bool mayStop = MayStopInside(isCode);
  if (CommStopRequested(link_) || (mayStop && CommStopAfterStepRequested(link_))) {
    FlashReportStatus(kCommTimedOut);
    return kCommTimedOut;
  }
  EnterStage(isCode ? FlashStage::kCode : FlashStage::kLoader);
  if (mayStop) {
    blocks_.stopBeforePair = [this] { return CommStopAfterStepRequested(link_); };
  } else {
    blocks_.stopBeforePair = nullptr;
  }
  const std::int64_t size = StreamSize(file);
  blocks_.StartProgress(size / 4 + 64);
  blocks_.result = kCommSuccess;

  // Start of download; the component transport repeats it while busy, as long
  // as the step's time-out allows.
  CommPacket start, ack, busy;
  CommMakeCommand(start, kKeyStartDownload, true);
  CommMakeCommand(ack, kKeyAck, true);
  CommMakeCommand(busy, kKeyBusy, true);
  const int ackLen = CommReplyLength(kKeyAck, true);
  const int busyLen = CommReplyLength(kKeyBusy, true);
  bool gotBusy = false;
  CommPacket reply;
  {
    CommStepTimeout step(link_);  // one time-out however often the radio is busy
    CommSendPacket(link_, start);
    reply = CommWaitReply(link_, ack, ackLen, false, busy, busyLen, gotBusy);
    if (link_.useComPort) {
      while (gotBusy && link_.running) {
        CommSendPacket(link_, start);
        reply = CommWaitReply(link_, ack, ackLen, false, busy, busyLen, gotBusy);
      }
    }
  }
  int result = CommGetResult(link_);
  if (result == kCommSuccess && reply.length == 0) result = kCommProblem;
  if (result != kCommSuccess) {
    FlashReportStatus(result);
    return result;
  }

  blocks_.Start();
  Status(std::string("Downloading ") +
         (!isCode ? "Loader " : (isBoot_ ? "Boot " : "Application ")) + "code ...");

  std::string line;
  while (blocks_.result == kCommSuccess && SRecordReadLine(file, line)) {
    if (SRecordIsEnd(line)) break;
    const int kind = SRecordKind(line);
    if (kind < kSRecordS1 || kind > kSRecordS3) continue;  // S0 and others are skipped
    blocks_.progress += SRecordWeight(kind);
    const int first = SRecordFirstData(kind);
    // Data bytes whose digits the line really holds: a cut-off record sends
    // only what it has, a record without its checksum still sends all its data.
    const int present = std::max(0, (static_cast<int>(line.size()) - first) / 2);
    const int n = std::min(SRecordDataLength(line), present);
    for (int i = 0; i < n && blocks_.result == kCommSuccess; ++i)
      blocks_.PutByte(SRecordHexByte(line, first + 2 * i));
  }
  result = blocks_.result;
  if (result == kCommSuccess) {
    blocks_.FinishBlocks();
    result = blocks_.result;
  }
  // The loader's end starts the erase: a stop after the step that came
  // during its last blocks keeps the flash as it is.
  if (result == kCommSuccess && !isCode && CommStopAfterStepRequested(link_))
    result = kCommTimedOut;
  if (result == kCommSuccess) {
    SendCommandKey(link_, kKeyEndDownload);
    EnterStage(isCode ? FlashStage::kCodeEnded : FlashStage::kErase);
    if (isCode) CommChangeBaud(link_, 19200);
    result = CommGetResult(link_);
  }
  if (result == kCommProblem || result == kCommTimedOut) FlashReportStatus(result);
  return result;
}

int FlashDownloader::FlashCheckProcessor() {
  CommSendCommand(link_, 0x02, 0x0B, nullptr, 0);
  CommPacket reply;
  const int received = CommReceive(link_, reply, 255, -1);
  if (received == 1 && reply.length >= 2 && reply.data[0] == 0x02 && reply.data[1] == 0x0C) {
    const std::uint8_t variant = reply.length >= 4 ? reply.data[3] : 0;
    const bool matches = processor416_ ? variant == 4 : variant == 8;
    return matches ? kCommSuccess : kCommWrongProcessor;
  }
  // No answer, or not the processor answer: a communication failure.
  int result = CommGetResult(link_);
  if (result == kCommSuccess) result = kCommProblem;
  FlashReportStatus(result);
  return result;
}

void FlashDownloader::FlashReportStatus(int result) {
  if (result == kCommProblem) Status(kFlashTextCommProblem);
  if (result == kCommTimedOut) Status(kFlashTextTimedOut);
}

void FlashDownloader::FlashReportVerifyFailure(const std::uint8_t address[4]) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X", address[0], address[1], address[2],
                address[3]);
  Status(std::string(kFlashTextVerifyFailed) + hex);
}

int FlashDownload(CommLink& link, std::istream& loaderFile, std::istream& codeFile,
                  platform::StatusTextCallback statusText, void* form, std::uint8_t platformCode,
                  platform::ProgressBar& progressBar, bool isBoot, bool processor416) {
  FlashDownloader download(link, statusText, form, platformCode, progressBar, isBoot, processor416);
  return download.Run(loaderFile, codeFile);
}

}  // namespace bcu::link
