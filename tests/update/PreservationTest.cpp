// The codeplug step against a scripted radio, for what the virtual radio
// cannot be made to do: withhold its serial number, or dispute block sums.
// Either way nothing that could corrupt the radio's codeplug is sent, the
// step fails, and the codeplug read stays in a backup file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <span>
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
  while (auto packet = p.Next(4000)) {  // longer than the PC's shortest time-out
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
    options.workDir = dir_ + "/work";
    options.backupRoot = dir_ + "/backups";
    std::filesystem::create_directory(options.workDir);
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
  // The backup files, as paths.
  std::vector<std::string> Files() const { return testsupport::FilesBelow(dir_ + "/backups"); }

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
  EXPECT_NE(files[0].find("/backups/unknown/"), std::string::npos);
  EXPECT_EQ(files[0].substr(files[0].size() - 8), "-5.9.bin");
  // The whole image as the radio sent it, up to the block it ends in.
  const auto saved = testsupport::ReadBytes(files[0]);
  ASSERT_EQ(saved.size(), (image.size() + 127) / 128 * 128);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), saved.begin()));
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
  EXPECT_NE(files[0].find("/backups/001A2B3C4D5E6F70/"), std::string::npos);
  EXPECT_EQ(report.backupPath, files[0]);

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
  EXPECT_NE(files[0].find("/backups/001A2B3C4D5E6F70/"), std::string::npos);
}

// Where backups go, what they are called, and that none is ever replaced.
TEST(CodeplugBackupTest, FolderNamesAndNoOverwrite) {
  EXPECT_EQ(BackupRootFrom("/data", "/home/t"), "/data/brisant-code-updater/backups");
  EXPECT_EQ(BackupRootFrom(nullptr, "/home/t"),
            "/home/t/.local/share/brisant-code-updater/backups");
  // A relative or empty XDG_DATA_HOME is ignored.
  EXPECT_EQ(BackupRootFrom("rel", "/home/t"), "/home/t/.local/share/brisant-code-updater/backups");
  EXPECT_EQ(BackupRootFrom("", "/home/t"), "/home/t/.local/share/brisant-code-updater/backups");
  EXPECT_EQ(BackupRootFrom(nullptr, nullptr), "");
  EXPECT_EQ(BackupSerialName("00:1A/2b"), "001A2b");
  EXPECT_EQ(BackupSerialName("--"), "unknown");

  const std::string dir = testsupport::MakeTempDir("bcu-backup-test");
  const std::string root = dir + "/deep/backups";  // made on demand
  const std::time_t when = 1700000000;
  const std::vector<std::uint8_t> bytes = {1, 2, 3, 4};
  std::string error;
  const std::string first = WriteCodeplugBackup(root, "AB", "5.9", bytes, when, error);
  const std::string second =
      WriteCodeplugBackup(root, "AB", "5.9", std::span(bytes).first(2), when, error);
  const std::string other = WriteCodeplugBackup(root, "CD", "5.10", bytes, when + 60, error);
  ASSERT_FALSE(first.empty()) << error;
  ASSERT_FALSE(second.empty()) << error;
  ASSERT_FALSE(other.empty()) << error;
  EXPECT_EQ(first, root + "/AB/" + CodeplugBackupFileName(when, "5.9"));
  EXPECT_EQ(second.substr(second.size() - 10), "-5.9-2.bin");
  EXPECT_EQ(testsupport::ReadBytes(first), bytes);  // the second went beside it
  EXPECT_EQ(testsupport::ReadBytes(second).size(), 2u);
  struct stat st {};
  ASSERT_EQ(::stat(first.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((root + "/AB").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  std::vector<CodeplugBackupEntry> entries;
  ASSERT_TRUE(ListCodeplugBackups(root, "", entries, error)) << error;
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].path, first);
  EXPECT_EQ(entries[1].path, second);
  EXPECT_EQ(entries[2].path, other);
  EXPECT_EQ(entries[0].serial, "AB");
  EXPECT_EQ(entries[0].format, "5.9");
  EXPECT_EQ(entries[0].bytes, 4u);
  EXPECT_EQ(entries[1].format, "5.9");
  EXPECT_EQ(entries[2].format, "5.10");
  ASSERT_TRUE(ListCodeplugBackups(root, "C:D", entries, error));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, other);
  ASSERT_TRUE(ListCodeplugBackups(dir + "/none", "", entries, error));
  EXPECT_TRUE(entries.empty());

  // A root that cannot be made (a file stands in the way) is reported.
  EXPECT_TRUE(WriteCodeplugBackup(first + "/x", "AB", "5.9", bytes, when, error).empty());
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(WriteCodeplugBackup("", "AB", "5.9", bytes, when, error).empty());
  testsupport::RemoveTree(dir);
}

// A backup never goes through a link planted at backups/<serial> (into
// another user's folder), nor into a backup folder others may write or that
// another user owns; the room check before a run says so too.
TEST(CodeplugBackupTest, RefusesLinksAndFoldersThatAreNotTheUsersOwn) {
  const std::string dir = testsupport::MakeTempDir("bcu-backup-safety");
  const std::string root = dir + "/backups";
  const std::string elsewhere = dir + "/elsewhere";
  ASSERT_EQ(::mkdir(root.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
  ASSERT_EQ(::symlink(elsewhere.c_str(), (root + "/AB").c_str()), 0);
  const std::vector<std::uint8_t> bytes = {1, 2, 3, 4};
  std::string error;
  EXPECT_TRUE(WriteCodeplugBackup(root, "AB", "5.9", bytes, 1700000000, error).empty());
  EXPECT_NE(error.find(root + "/AB is a symbolic link"), std::string::npos) << error;
  EXPECT_TRUE(testsupport::FilesBelow(elsewhere).empty());

  // Writable by others: refused, before the run and at the write.
  ASSERT_EQ(::chmod(root.c_str(), 0777), 0);
  std::string reason;
  EXPECT_FALSE(BackupCanBeKept(root, {}, reason));
  EXPECT_NE(reason.find("writable by others (mode 0777"), std::string::npos) << reason;
  EXPECT_TRUE(WriteCodeplugBackup(root, "CD", "5.9", bytes, 1700000000, error).empty());
  EXPECT_NE(error.find("writable by others"), std::string::npos) << error;
  ASSERT_EQ(::chmod(root.c_str(), 0700), 0);
  EXPECT_TRUE(BackupCanBeKept(root, {}, reason)) << reason;

  // Owned by another user (only root can make one to try).
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(root.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(BackupCanBeKept(root, {}, reason));
    EXPECT_NE(reason.find("owned by another user (uid 65534)"), std::string::npos) << reason;
    ASSERT_EQ(::chown(root.c_str(), 0, 0), 0);
  }
  testsupport::RemoveTree(dir);
}

}  // namespace
}  // namespace bcu::app
