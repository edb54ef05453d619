// The codeplug step of an application update: wait for the radio to restart
// into its new code, read its codeplug, convert it to the format the new code
// expects, write it back and read it back to compare. Every codeplug read
// whole from the radio is kept in a backup file first, success or not, and no
// codeplug is written without one.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "app/CodeUpdater.h"
#include "app/CodeplugBackup.h"
#include "codeplug/CodeplugConversion.h"
#include "codeplug/CodeplugImage.h"
#include "codeplug/FormatVersion.h"
#include "codeplug/Validity.h"
#include "link/CommLink.h"
#include "link/DelayTicks.h"
#include "platform/Clock.h"
#include "transfer/CodeplugReadBack.h"
#include "transfer/VYXTransferParms.h"

namespace bcu::app {

namespace {

constexpr int kRestartTicks = 360;
constexpr std::uint32_t kTransferTimeoutMs = 4000;
constexpr int kConvertibleIndex = 3;  // 5.8 and later
constexpr int kUnknownIndex = 255;

bool SendTwoByteCommand(link::CommLink& link, std::uint8_t group, std::uint8_t code) {
  link::CommPacket packet;
  packet.length = 2;
  packet.data[0] = group;
  packet.data[1] = code;
  return link::CommSendPacket(link, packet) >= 0;
}

// What a stop at once left when it cut a transfer.
constexpr const char* kNoteUploadCut =
    "Stopped at once during the codeplug upload: the radio runs its new code with its codeplug "
    "unchanged and not converted; no backup was kept.";
constexpr const char* kNoteDownloadCut =
    "Stopped at once during the codeplug download: the radio may hold an incomplete codeplug. ";
constexpr const char* kNoteReadBackCut =
    "Stopped at once during the read-back: the codeplug was written but not verified. ";

bool StoppedAtOnce(const CodeUpdater& u) {
  return u.m_Stop.AtOnce();
}

// The run's step while a transfer lasts.
class StepScope {
 public:
  StepScope(CodeUpdater& u, RunStep step) : u_(u) { u_.m_Step = step; }
  ~StepScope() { u_.m_Step = RunStep::Other; }
  StepScope(const StepScope&) = delete;
  StepScope& operator=(const StepScope&) = delete;

 private:
  CodeUpdater& u_;
};

std::string BackupNote(const std::string& path) {
  return "The codeplug read from the radio is saved in " + path + ".";
}

// "5.9" for a known format, the version word's bytes otherwise.
std::string FormatText(const codeplug::CodeplugImage& image) {
  if (image[0] != codeplug::kBlockMark) return "unknown";
  const codeplug::FormatVersion v = codeplug::ImageFormatVersion(image);
  return std::to_string(v.major) + "." + std::to_string(v.minor);
}

// The progress animation of a transfer of `bytes`: 1.5 s per 1,000 bytes.
std::uint32_t TransferInterval(std::int32_t bytes) {
  return static_cast<std::uint32_t>(bytes * 0.015);
}

}  // namespace

bool CodeUpdater::ReadRadioKey(std::string& text) {
  SendTwoByteCommand(m_Link, 0x04, 0x04);
  link::CommPacket reply;
  if (link::CommReceive(m_Link, reply, 255, -1) <= 0) return false;
  if (reply.length >= 2 && reply.data[0] == 0x07 && reply.data[1] == 0x25) {
    reply = link::CommPacket{};
    if (link::CommReceive(m_Link, reply, 255, -1) <= 0) return false;
  }
  if (reply.length < 10 || reply.data[0] != 0x04 || reply.data[1] != 0x05) return false;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string key;
  for (int i = 2; i < 10; ++i) {
    key += kHex[reply.data[i] >> 4];
    key += kHex[reply.data[i] & 0x0F];
  }
  text = key;
  return true;
}

int CodeUpdater::PreserveCodeplug() {
  return PreserveCodeplugWithReport(*this).outcome;
}

namespace {

// Writes the codeplug back (`bytes`, words high byte first) and, unless told
// not to, reads it back to compare. Sets the outcome.
void DownloadAndVerify(CodeUpdater& u, transfer::VYXTransferParms& transfer, std::uint8_t* bytes,
                       std::int32_t byteCount, const std::string* password,
                       CodeplugStepReport& report) {
  u.StartProgressAnimation(TransferInterval(byteCount));
  u.m_Host.ShowStatusText("Downloading codeplug...");
  transfer.SetBuffer(bytes, byteCount);
  // What was sent, before the transfer pads the buffer after it.
  const std::vector<std::uint8_t> sent(bytes, bytes + byteCount);
  report.downloadAttempted = true;
  std::int32_t downloadResult = 0;
  {
    StepScope step(u, RunStep::CodeplugDownload);
    downloadResult = transfer.Download();
  }
  u.StopProgressAnimation();
  report.sumDiffered = transfer.SumDiffered();
  if (downloadResult <= 0) {
    report.outcome = kCodeplugDownloadFailed;
    report.note = (StoppedAtOnce(u) ? std::string(kNoteDownloadCut) : std::string()) +
                  BackupNote(report.backupPath);
    return;
  }
  report.downloadedBytes = byteCount;
  if (!u.m_Options.verifyCodeplug) {
    report.verifySkipped = true;
    report.outcome = kCodeplugConverted;
    return;
  }

  u.StartProgressAnimation(TransferInterval(byteCount));
  u.m_Host.ShowStatusText("Verifying codeplug...");
  const std::uint64_t startUs = platform::RealMicros();
  transfer::ReadBackResult readBack;
  {
    StepScope step(u, RunStep::CodeplugReadBack);
    readBack = transfer::ReadBackCodeplug(u.m_Link, &u.m_Host, password, sent);
  }
  report.verifySeconds = static_cast<double>(platform::RealMicros() - startUs) / 1e6;
  u.StopProgressAnimation();
  switch (readBack.verdict) {
    case transfer::ReadBackVerdict::kSame:
      report.verified = true;
      report.outcome = kCodeplugConverted;
      break;
    case transfer::ReadBackVerdict::kDiffers:
      report.verifyDifferentWord = readBack.firstDifferentWord;
      report.outcome = kCodeplugDownloadFailed;
      report.note = "Reading the codeplug back found word " +
                    std::to_string(readBack.firstDifferentWord) +
                    " different from what was written. " + BackupNote(report.backupPath);
      break;
    case transfer::ReadBackVerdict::kNotRead:
      report.outcome = kCodeplugNotVerified;
      report.note = (StoppedAtOnce(u) ? std::string(kNoteReadBackCut) : std::string()) +
                    BackupNote(report.backupPath);
      break;
  }
}

// The steps after the format question, with the transfer object and buffer.
void TransferAndConvert(CodeUpdater& u, std::uint8_t major, std::uint8_t minor,
                        const std::string& key, CodeplugStepReport& report) {
  transfer::VYXTransferParms transfer;
  // The buffer is the image's own storage; the transfer sees its bytes.
  auto imageStorage = std::make_unique<codeplug::CodeplugImage>();
  codeplug::CodeplugImage& image = *imageStorage;
  image.fill(0);
  std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(image.data());
  const int targetIndex = codeplug::ParmsFormatIndexOf(major, minor);
  report.targetFormatIndex = targetIndex;
  transfer.SetBuffer(bytes, 0);
  transfer.SetRadioKey(key);
  transfer.SetLink(&u.m_Link);
  // The password the user gives (if the radio asks) is kept for the read-back.
  bool passwordGiven = false;
  std::string password;
  transfer::VYXTransferParmsPassChecker& checker = transfer.PassChecker();
  checker.SetHost(&u.m_Host);
  checker.SetPrompt([&](std::string& text) {
    if (!checker.PromptCodeplugPassword(text)) return false;
    password = text;
    passwordGiven = true;
    return true;
  });

  // Step boundary: nothing is read from the radio once a stop is requested.
  if (u.StopRequested()) {
    report.outcome = kCodeplugStopped;
    return;
  }
  u.StartProgressAnimation(300);
  u.m_Host.ShowStatusText("Uploading codeplug...");
  std::int32_t uploadResult = 0;
  {
    StepScope step(u, RunStep::CodeplugUpload);
    uploadResult = transfer.Upload();
  }
  u.StopProgressAnimation();
  std::int32_t byteCount = transfer.GetLength();
  report.uploadedBytes = byteCount;
  if (uploadResult <= 0) {
    report.outcome = kCodeplugUploadFailed;
    if (StoppedAtOnce(u)) report.note = kNoteUploadCut;
    return;
  }

  // Whatever happens next, the codeplug as the radio sent it stays on disk.
  const std::string root =
      u.m_Options.backupRoot.empty() ? DefaultBackupRoot() : u.m_Options.backupRoot;
  {
    codeplug::CodeplugImage asRead = image;
    codeplug::ParmsImageSwapBytes(asRead, static_cast<std::size_t>(byteCount));
    report.backupPath = WriteCodeplugBackup(
        root, key, FormatText(asRead),
        std::span<const std::uint8_t>(bytes, static_cast<std::size_t>(byteCount)),
        std::time(nullptr), report.backupError);
  }
  if (!report.backupPath.empty()) u.m_Host.ShowStatusText(BackupNote(report.backupPath));
  codeplug::ParmsImageSwapBytes(bytes, byteCount);
  // Step boundary: a stop that let the upload finish ends the step here, the
  // radio's codeplug unchanged and kept.
  if (u.StopRequested()) {
    report.outcome = kCodeplugStopped;
    if (!report.backupPath.empty()) report.note = BackupNote(report.backupPath);
    return;
  }

  const codeplug::ImageCheck check = codeplug::CheckParmsImage(image);
  if (!check.valid) {
    report.outcome = kCodeplugUploadFailed;
    if (!report.backupPath.empty())
      report.note = "The codeplug read from the radio is invalid (" + check.reason +
                    "); it is saved in " + report.backupPath + ".";
    return;
  }
  const int imageIndex = codeplug::ParmsFormatIndex(image);
  report.imageFormatIndex = imageIndex;
  if (imageIndex < kConvertibleIndex || targetIndex < kConvertibleIndex ||
      imageIndex == kUnknownIndex || targetIndex == kUnknownIndex) {
    report.outcome = kCodeplugNotConvertible;
    return;
  }
  if (imageIndex == targetIndex) {
    report.outcome = kCodeplugNoConversion;
    return;
  }

  u.StartProgressAnimation(200);
  u.m_Host.ShowStatusText("Resetting radio and converting codeplug...");
  const bool waited = link::DelayTicks(u.m_Host.GetClock(), &u.m_Host, kRestartTicks);
  u.StopProgressAnimation();
  // Step boundary: a stop during the wait (which runs to its end) is honoured
  // here, before the conversion and the download; the radio's codeplug is
  // unchanged and the backup stays.
  if (!waited || u.StopRequested()) {
    report.outcome = kCodeplugStopped;
    if (!report.backupPath.empty()) report.note = BackupNote(report.backupPath);
    return;
  }

  // The conversion is all or nothing, and what it gives must pass the
  // validity check: on failure the image is as uploaded and nothing is sent.
  auto scratch = std::make_unique<codeplug::CodeplugImage>();
  const codeplug::ConversionResult conversion = codeplug::ConvertCodeplugImage(
      image, static_cast<std::size_t>(byteCount), static_cast<std::uint8_t>(imageIndex),
      static_cast<std::uint8_t>(targetIndex), *scratch);
  if (!conversion.converted) {
    report.conversionFailed = true;
    report.outcome = kCodeplugConversionFailed;
    report.note = "The conversion failed: " + conversion.failure + ".";
    if (!report.backupPath.empty()) report.note += " " + BackupNote(report.backupPath);
    return;
  }
  if (report.backupPath.empty()) {
    // Without a copy on disk a failed download would lose the configuration.
    report.outcome = kCodeplugDownloadFailed;
    report.note = "The codeplug could not be saved to a backup file (" + report.backupError +
                  "), so it was not written back; the radio's codeplug is unchanged.";
    return;
  }
  if (!report.radioKeyRead) {
    // Blocks scrambled with a wrong key would corrupt the radio's codeplug.
    report.outcome = kCodeplugDownloadFailed;
    report.note =
        "The radio's serial number could not be read, so the codeplug was not written "
        "back. " +
        BackupNote(report.backupPath);
    return;
  }
  byteCount = static_cast<std::int32_t>(conversion.byteCount);
  transfer.SetLength(byteCount);
  codeplug::ParmsImageSwapBytes(bytes, byteCount);
  DownloadAndVerify(u, transfer, bytes, byteCount, passwordGiven ? &password : nullptr, report);
}

// The step's report goes into the run's record, and to a front end that
// observes the codeplug step.
void Announce(CodeUpdater& u, const CodeplugStepReport& report) {
  u.m_CodeplugReport = report;
  if (auto* observer = dynamic_cast<CodeplugStepObserver*>(&u.m_RunResult.Inner())) {
    observer->OnCodeplugStep(report);
  }
}

}  // namespace

CodeplugStepReport PreserveCodeplugWithReport(CodeUpdater& u) {
  CodeplugStepReport report;
  u.StartProgressAnimation(200);
  u.m_Host.ShowStatusText("Resetting radio...");
  const bool waited = link::DelayTicks(u.m_Host.GetClock(), &u.m_Host, kRestartTicks);
  u.StopProgressAnimation();
  // A stop during the restart wait (which runs to its end) is honoured here.
  if (!waited || u.StopRequested()) {
    report.outcome = kCodeplugStopped;
    Announce(u, report);
    return report;
  }

  link::CommSetTimeout(u.m_Link, kTransferTimeoutMs);
  std::string key;
  report.radioKeyRead = u.ReadRadioKey(key);
  if (report.radioKeyRead) report.serialNumber = key;

  SendTwoByteCommand(u.m_Link, 0x04, 0x1C);
  link::CommSetRunning(u.m_Link, true);
  link::CommPacket reply;
  const int received = link::CommReceive(u.m_Link, reply, 255, -1);
  if (received > 0 && reply.length >= 4 && reply.data[0] == 0x04 && reply.data[1] == 0x1D) {
    TransferAndConvert(u, reply.data[2], reply.data[3], key, report);
  } else {
    report.outcome = kCodeplugNoAnswer;
  }
  link::CommEndExchange(u.m_Link);
  Announce(u, report);
  return report;
}

}  // namespace bcu::app
