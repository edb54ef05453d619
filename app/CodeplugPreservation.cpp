// The codeplug step of an application update: wait for the radio to restart
// into its new code, read its codeplug, convert it to the format the new code
// expects and write it back. Before anything is written to the radio the
// codeplug as read is saved to a backup file, which stays whenever the radio's
// copy may not be whole.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "app/CodeUpdater.h"
#include "app/CodeplugBackup.h"
#include "codeplug/CodeplugImage.h"
#include "codeplug/FormatVersion.h"
#include "codeplug/ParmsFormat510Fixup.h"
#include "codeplug/ParmsFormatChain.h"
#include "codeplug/Validity.h"
#include "link/CommLink.h"
#include "link/DelayTicks.h"
#include "transfer/VYXTransferParms.h"

namespace bcu::app {

namespace {

constexpr int kRestartTicks = 360;
constexpr std::uint32_t kTransferTimeoutMs = 4000;
constexpr int kConvertibleIndex = 3;  // 5.8 and later
constexpr int kUnknownIndex = 255;
constexpr int kIndex510 = 5;

bool SendTwoByteCommand(link::CommLink& link, std::uint8_t group, std::uint8_t code) {
  link::CommPacket packet;
  packet.length = 2;
  packet.data[0] = group;
  packet.data[1] = code;
  return link::CommSendPacket(link, packet) >= 0;
}

std::string BackupNote(const std::string& path) {
  return "The codeplug read from the radio is saved in " + path + ".";
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
  transfer.PassChecker().SetHost(&u.m_Host);

  // Step boundary: nothing is read from the radio once a stop is requested.
  if (u.StopRequested()) {
    report.outcome = kCodeplugStopped;
    return;
  }
  u.StartProgressAnimation(300);
  u.m_Host.ShowStatusText("Uploading codeplug...");
  const std::int32_t uploadResult = transfer.Upload();
  u.StopProgressAnimation();
  std::int32_t byteCount = transfer.GetLength();
  report.uploadedBytes = byteCount;
  // As the radio sent it, words high byte first: what the backup holds.
  const std::vector<std::uint8_t> asUploaded(bytes, bytes + byteCount);
  codeplug::ParmsImageSwapBytes(bytes, byteCount);

  if (uploadResult <= 0 || !codeplug::ParmsImageIsValid(image)) {
    report.outcome = kCodeplugUploadFailed;
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

  // From here on the radio's codeplug is going to be rewritten: keep a copy.
  report.backupPath = WriteCodeplugBackup(u.m_Options.workDir, key, asUploaded.data(),
                                          asUploaded.size(), std::time(nullptr));

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

  // The conversion is all or nothing: on failure the image is as uploaded.
  std::int32_t growth = 0;
  bool converted = true;
  const auto from = static_cast<std::uint8_t>(imageIndex);
  const auto to = static_cast<std::uint8_t>(targetIndex);
  auto scratch = std::make_unique<codeplug::CodeplugImage>();
  if (imageIndex < targetIndex) {
    converted = codeplug::ParmsFormatUpgrade(growth, image, from, to, *scratch);
  } else {
    converted = codeplug::ParmsFormatDowngrade(growth, image, to, from, *scratch);
  }
  // The 5.10 pass may shorten one table; the codeplug sent shrinks with it.
  if (converted && targetIndex == kIndex510) growth += codeplug::ParmsFormat510Fixup(image);
  const std::int32_t newCount = byteCount + 2 * growth;
  if (!converted || newCount < 0 || newCount > transfer::kCodeplugBufferSize) {
    report.conversionFailed = true;
    report.outcome = kCodeplugConversionFailed;
    if (!report.backupPath.empty()) std::remove(report.backupPath.c_str());
    report.backupPath.clear();
    return;
  }
  if (report.backupPath.empty()) {
    // Without a copy on disk a failed download would lose the configuration.
    report.outcome = kCodeplugDownloadFailed;
    report.note =
        "The codeplug could not be saved to a backup file, so it was not written back; the "
        "radio's codeplug is unchanged.";
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
  byteCount = newCount;
  transfer.SetLength(byteCount);
  codeplug::ParmsImageSwapBytes(bytes, byteCount);

  u.StartProgressAnimation(static_cast<std::uint32_t>(byteCount * 0.015));
  u.m_Host.ShowStatusText("Downloading codeplug...");
  transfer.SetBuffer(bytes, byteCount);
  const std::int32_t downloadResult = transfer.Download();
  u.StopProgressAnimation();
  report.sumDiffered = transfer.SumDiffered();
  if (downloadResult > 0) {
    report.outcome = kCodeplugConverted;
    report.downloadedBytes = byteCount;
    std::remove(report.backupPath.c_str());
    report.backupPath.clear();
  } else {
    report.outcome = kCodeplugDownloadFailed;
    report.note = BackupNote(report.backupPath);
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
    if (auto* observer = dynamic_cast<CodeplugStepObserver*>(&u.m_Host)) {
      observer->OnCodeplugStep(report);
    }
    return report;
  }

  link::CommSetTimeout(u.m_Link, kTransferTimeoutMs);
  std::string key;
  report.radioKeyRead = u.ReadRadioKey(key);

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
  if (auto* observer = dynamic_cast<CodeplugStepObserver*>(&u.m_Host)) {
    observer->OnCodeplugStep(report);
  }
  return report;
}

}  // namespace bcu::app
