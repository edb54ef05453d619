// The codeplug step against a scripted radio, for what the virtual radio
// cannot be made to do: withhold its serial number, or dispute block sums.
// Either way nothing that could corrupt the radio's codeplug is sent, the
// step fails, and the codeplug read stays in a backup file.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "app/CodeUpdater.h"
#include "app/CodeplugBackup.h"
#include "codeplug/CodeplugBuilder.h"
#include "tests/support/UpdatePeer.h"
#include "tests/support/UpdateRig.h"

namespace bcu::app {
namespace {

using testsupport::Group3;
using testsupport::Is;
using testsupport::Payload;
using testsupport::UpdatePeer;

std::vector<std::uint8_t> Codeplug59() {
  auto image = std::make_unique<codeplug::CodeplugImage>();
  std::size_t n = 0;
  codeplug::CodeplugShape shape;
  shape.seed = 3;
  EXPECT_TRUE(codeplug::BuildCodeplug(shape, *image, n));
  auto* bytes = reinterpret_cast<std::uint8_t*>(image->data());
  codeplug::ParmsImageSwapBytes(bytes, n);
  return {bytes, bytes + n};
}

struct ScriptLog {
  bool downloadStarted = false;
  int sumsDisputed = 0;
  bool ended = false;
};

// The radio after its restart: answers the serial number request unless
// `withholdSerial`, reports format 5.10, sends `image` for the upload, and for
// a download reports each pair's sum off by one. With `ackFirst` the serial
// number follows a 07 25 acknowledgement.
void RestartedRadio(UpdatePeer& p, const std::vector<std::uint8_t>& image, bool withholdSerial,
                    ScriptLog& log, bool ackFirst = false) {
  std::size_t sent = 0;
  int blocks = 0;
  while (auto packet = p.Next(1500)) {
    const Payload& m = *packet;
    if (Is(m, 4, 0x04)) {
      if (ackFirst) p.Send({7, 0x25});
      if (!withholdSerial) p.Send({4, 5, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70});
    } else if (Is(m, 4, 0x1C)) {
      p.Send({4, 0x1D, 5, 10});
    } else if (Is(m, 3, 0x07) || (Is(m, 3, 0x08) && !log.downloadStarted)) {
      if (Is(m, 3, 0x07)) p.Send(Group3(0x0D));
      std::vector<std::uint8_t> block(128, 0);
      for (std::size_t i = 0; i < 128 && sent + i < image.size(); ++i) block[i] = image[sent + i];
      sent += 128;
      p.Send(Group3(0x02, block));
    } else if (Is(m, 3, 0x00)) {
      log.downloadStarted = true;
      p.Send(Group3(0x0D));
      p.Send(Group3(0x08));
    } else if (Is(m, 3, 0x02) && log.downloadStarted) {
      if (++blocks % 2 == 0)
        p.Send(Group3(0x03, {0x12, 0x34}));
      else
        p.Send(Group3(0x08));
    } else if (Is(m, 3, 0x06)) {
      ++log.sumsDisputed;
      p.Send(Group3(0x08));
    } else if (Is(m, 3, 0x05)) {
      p.Send(Group3(0x08));
    } else if (Is(m, 3, 0x04) && log.downloadStarted) {
      log.ended = true;
      return;
    }
  }
}

class PreservationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeTempDir("bcu-preserve-test");
    testsupport::TestFirmware fw;
    fw.family = 0;  // portable: the system's serial device, no box probe
    resources_ = testsupport::MakeTestResources(fw);
    CodeUpdaterOptions options;
    options.extraDevicePaths = {peer_.DevicePath()};
    options.workDir = dir_;
    options.replyTimeoutScale = testsupport::kUpdateReplyTimeoutScale;
    updater_ = std::make_unique<CodeUpdater>(host_, view_, *resources_, "/opt/bcu/bcu", discovery_,
                                             options);
    updater_->SelectPortItem(0);
    ASSERT_TRUE(updater_->OpenSelectedPort(true));
  }
  void TearDown() override {
    updater_.reset();
    testsupport::RemoveTree(dir_);
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_))
      names.push_back(e.path().filename().string());
    return names;
  }

  UpdatePeer peer_;
  testsupport::RecordingHost host_{testsupport::kUpdateTimeScale};
  CodeUpdaterView view_;
  testsupport::NoSystemPorts discovery_;
  std::shared_ptr<platform::MemoryResources> resources_;
  std::unique_ptr<CodeUpdater> updater_;
  std::string dir_;
};

TEST_F(PreservationTest, UnknownRadioKeyWritesNothingAndKeepsTheBackup) {
  const auto image = Codeplug59();
  ScriptLog log;
  peer_.Run([&](UpdatePeer& p) { RestartedRadio(p, image, true, log); });
  const CodeplugStepReport report = PreserveCodeplugWithReport(*updater_);
  peer_.Join();
  EXPECT_EQ(report.outcome, kCodeplugDownloadFailed);
  EXPECT_FALSE(report.radioKeyRead);
  EXPECT_FALSE(log.downloadStarted);
  EXPECT_EQ(report.imageFormatIndex, 4);
  EXPECT_EQ(report.targetFormatIndex, 5);
  const auto files = Files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].rfind("codeplug-backup-unknown-", 0), 0u);
  EXPECT_NE(report.note.find(files[0]), std::string::npos);
  EXPECT_NE(report.note.find("serial number"), std::string::npos);
}

TEST_F(PreservationTest, DisputedBlockSumFailsTheDownloadAndKeepsTheBackup) {
  const auto image = Codeplug59();
  ScriptLog log;
  peer_.Run([&](UpdatePeer& p) { RestartedRadio(p, image, false, log); });
  const CodeplugStepReport report = PreserveCodeplugWithReport(*updater_);
  peer_.Join();
  EXPECT_TRUE(log.downloadStarted);
  EXPECT_TRUE(log.ended);  // the dialogue ran to its end
  EXPECT_GT(log.sumsDisputed, 0);
  EXPECT_TRUE(report.sumDiffered);
  EXPECT_EQ(report.outcome, kCodeplugDownloadFailed);
  const auto files = Files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].rfind("codeplug-backup-001A2B3C4D5E6F70-", 0), 0u);
  EXPECT_EQ(report.backupPath, dir_ + "/" + files[0]);

  // The note that the runner adds to the outcome text names the backup.
  EXPECT_NE(report.note.find(files[0]), std::string::npos);
  updater_->ShowCodeplugOutcome(report.outcome);
  EXPECT_EQ(host_.status.back(), "An error occurred while downloading the codeplug.");
}

TEST_F(PreservationTest, SerialNumberAfterAnAcknowledgementIsRead) {
  const auto image = Codeplug59();
  ScriptLog log;
  peer_.Run([&](UpdatePeer& p) { RestartedRadio(p, image, false, log, true); });
  const CodeplugStepReport report = PreserveCodeplugWithReport(*updater_);
  peer_.Join();
  EXPECT_TRUE(report.radioKeyRead);
  EXPECT_TRUE(log.downloadStarted);
  const auto files = Files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].rfind("codeplug-backup-001A2B3C4D5E6F70-", 0), 0u);
}

TEST(CodeplugBackupTest, NamesAndNoOverwrite) {
  const std::string dir = testsupport::MakeTempDir("bcu-backup-test");
  const std::time_t when = 1700000000;
  const std::string name = CodeplugBackupFileName("00:1A/2b", when);
  EXPECT_EQ(name.rfind("codeplug-backup-001A2b-", 0), 0u);
  EXPECT_EQ(CodeplugBackupFileName("", when).rfind("codeplug-backup-unknown-", 0), 0u);
  const std::uint8_t bytes[4] = {1, 2, 3, 4};
  const std::string first = WriteCodeplugBackup(dir, "AB", bytes, 4, when);
  const std::string second = WriteCodeplugBackup(dir, "AB", bytes, 2, when);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  std::uint8_t back[8] = {};
  std::size_t n = 0;
  ASSERT_TRUE(ReadCodeplugBytes(first, back, sizeof back, n));
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(back[3], 4);
  EXPECT_FALSE(ReadCodeplugBytes(first, back, 3, n));  // larger than allowed
  EXPECT_TRUE(WriteCodeplugBackup(dir + "/missing-folder", "AB", bytes, 4, when).empty());
  testsupport::RemoveTree(dir);
}

}  // namespace
}  // namespace bcu::app
