// The codeplug step against the virtual radio: every word of the image goes
// in and comes back out (the 128 words after the blocks included), what was
// written is read back and compared, the codeplug as read stays in a backup,
// and a failure is shown so that it can be read.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/CodeUpdater.h"
#include "app/CodeplugBackup.h"
#include "codeplug/CodeplugBuilder.h"
#include "codeplug/CodeplugImage.h"
#include "codeplug/ParmsFormat510Fixup.h"
#include "codeplug/ParmsFormatChain.h"
#include "sim/VirtualRadio.h"
#include "tests/support/UpdateRig.h"

namespace bcu::app {
namespace {

using testsupport::MakeTempDir;
using testsupport::ReadBytes;
using testsupport::RemoveTree;
using testsupport::UpdateRig;

constexpr const char* kSerial = "001A2B3C4D5E6F70";
constexpr double kStepScale = 0.1;

// A built codeplug of format 5.`minor`, big-endian as the radio holds it,
// whose size ends `residue` bytes past a 128-byte boundary; its last 128
// words are set to a pattern of their own.
std::vector<std::uint8_t> Codeplug(std::uint8_t minor, std::size_t residue) {
  auto image = std::make_unique<codeplug::CodeplugImage>();
  for (std::uint32_t seed = 1; seed < 20000; ++seed) {
    codeplug::CodeplugShape shape;
    shape.version = {5, minor};
    shape.seed = seed;
    std::size_t n = 0;
    if (!codeplug::BuildCodeplug(shape, *image, n) || n % 128 != residue) continue;
    for (std::size_t w = n / 2 - 128; w < n / 2; ++w)
      (*image)[w] = static_cast<codeplug::Word>(0x5F5F ^ (w * 0x0101));
    codeplug::ParmsImageSwapBytes(*image, n);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(image->data());
    return {bytes, bytes + n};
  }
  ADD_FAILURE() << "no codeplug of that size";
  return {};
}

// What the converters make of a big-endian codeplug: the bytes to download.
std::vector<std::uint8_t> Converted(const std::vector<std::uint8_t>& wire, std::uint8_t from,
                                    std::uint8_t to) {
  auto image = std::make_unique<codeplug::CodeplugImage>();
  image->fill(0);
  auto* bytes = reinterpret_cast<std::uint8_t*>(image->data());
  std::copy(wire.begin(), wire.end(), bytes);
  codeplug::ParmsImageSwapBytes(bytes, wire.size());
  std::int32_t growth = 0;
  const bool ok = from < to ? codeplug::ParmsFormatUpgrade(growth, *image, from, to)
                            : codeplug::ParmsFormatDowngrade(growth, *image, to, from);
  EXPECT_TRUE(ok);
  if (to == 5) growth += codeplug::ParmsFormat510Fixup(*image);
  const std::size_t n = wire.size() + 2 * growth;
  codeplug::ParmsImageSwapBytes(bytes, n);
  return {bytes, bytes + n};
}

class CodeplugStepTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir("bcu-codeplug-step"); }
  void TearDown() override {
    if (HasFailure() && rig_) {
      for (const auto& t : rig_->Host().status) std::fprintf(stderr, "  status: %s\n", t.c_str());
    }
    rig_.reset();
    RemoveTree(dir_);
  }

  // A radio whose codeplug is `codeplug` and whose code wants format 5.`minor`.
  sim::RadioConfig Radio(const std::vector<std::uint8_t>& codeplug, std::uint8_t radioMinor) {
    const std::string path = dir_ + "/radio-" + std::to_string(files_++) + ".bin";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
      std::fwrite(codeplug.data(), 1, codeplug.size(), f);
      std::fclose(f);
    }
    sim::RadioConfig c;
    c.bootVersion = {4, 2};
    c.codeplugFile = path;
    c.formatBefore = {5, 9};
    c.formatAfter = {5, radioMinor};
    return c;
  }

  // An updater (portable: no interface box to probe) on its port to a radio
  // already running its new code. The clocks run at a tenth: the restart
  // waits take 2 s, reply time-outs 400 ms.
  UpdateRig& Rig(sim::RadioConfig c) {
    c.startMode = sim::RadioMode::kApplication;
    c.formatBefore = c.formatAfter;  // what its code reports
    testsupport::TestFirmware portable;
    portable.family = 0;
    rig_ = std::make_unique<UpdateRig>(c, portable, dir_, kStepScale);
    return *rig_;
  }

  // The step alone.
  CodeplugStepReport Step(const sim::RadioConfig& c) {
    UpdateRig& rig = Rig(c);
    EXPECT_TRUE(rig.Updater().OpenSelectedPort(true));
    const CodeplugStepReport report = PreserveCodeplugWithReport(rig.Updater());
    rig.Updater().ReleasePort();
    return report;
  }

  // The step as the update runs it, its outcome shown.
  void ShownStep(UpdateRig& rig) {
    ASSERT_TRUE(rig.Updater().OpenSelectedPort(true));
    rig.Updater().PreserveAndShowCodeplug();
    rig.Updater().ReleasePort();
  }

  std::vector<std::uint8_t> Stored() {
    return rig_->Radio().With([](sim::VirtualRadio& r) { return r.Codeplug(); });
  }

  std::string dir_;
  int files_ = 0;
  std::unique_ptr<UpdateRig> rig_;
};

// Every format pair, codeplugs ending at, just after or just before a
// 128-byte boundary (each size in two pairs; the conversions of every pair at
// every size are covered without a radio in WholeImageTest): the radio ends up
// with exactly the converters' result of the whole image (the trailing words
// as they were), read back the same, and the codeplug it held before is kept
// whole in the backup folder.
struct PairCase {
  int from;
  int to;
  std::size_t residue;
};

class CodeplugPairTest : public CodeplugStepTest, public ::testing::WithParamInterface<PairCase> {};

TEST_P(CodeplugPairTest, EveryWordSurvivesTheConversion) {
  const auto from = static_cast<std::uint8_t>(GetParam().from);
  const auto to = static_cast<std::uint8_t>(GetParam().to);
  const std::size_t residue = GetParam().residue;
  const auto before = Codeplug(from, residue);
  const CodeplugStepReport report = Step(Radio(before, to));
  EXPECT_EQ(report.outcome, kCodeplugConverted) << report.note;
  EXPECT_TRUE(report.verified);
  EXPECT_EQ(report.uploadedBytes, static_cast<std::int32_t>((before.size() + 127) / 128 * 128));
  const auto stored = Stored();
  EXPECT_EQ(stored, Converted(before, from - 5, to - 5));
  ASSERT_GE(stored.size(), 256u);
  EXPECT_TRUE(std::equal(before.end() - 256, before.end(), stored.end() - 256));
  const auto backups = rig_->BackupFiles();
  ASSERT_EQ(backups.size(), 1u);
  const auto kept = ReadBytes(backups[0]);
  ASSERT_GE(kept.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), kept.begin()));
  EXPECT_EQ(report.backupPath, backups[0]);
}

INSTANTIATE_TEST_SUITE_P(FormatPairs, CodeplugPairTest,
                         ::testing::Values(PairCase{8, 9, 0}, PairCase{8, 10, 2},
                                           PairCase{9, 8, 126}, PairCase{9, 10, 0},
                                           PairCase{10, 8, 2}, PairCase{10, 9, 126}),
                         [](const auto& info) {
                           return "From5_" + std::to_string(info.param.from) + "To5_" +
                                  std::to_string(info.param.to) + "Ending" +
                                  std::to_string(info.param.residue) + "PastABlock";
                         });

// A radio that stores one word other than it was sent (every block sum right):
// the read-back finds that word, the download counts as failed, and the
// window's failure display names the backup in full and empties the bar.
TEST_F(CodeplugStepTest, ReadBackCatchesAWordTheRadioStoredDifferently) {
  sim::RadioConfig c = Radio(Codeplug(9, 0), 10);
  c.faults.alterStoredWord = 777;
  UpdateRig& rig = Rig(c);
  ShownStep(rig);
  const std::string last = rig.Host().status.back();
  EXPECT_EQ(last.rfind("An error occurred while downloading the codeplug.", 0), 0u) << last;
  EXPECT_NE(last.find("word 777"), std::string::npos) << last;
  const auto backups = rig.BackupFiles();
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_NE(last.find(backups[0]), std::string::npos);
  EXPECT_EQ(rig.Host().progress.Position(), 0);
  ASSERT_FALSE(rig.Host().messages.empty());
  const testsupport::ShownMessage& box = rig.Host().messages.back();
  EXPECT_EQ(box.caption, "Brisant Code Updater");
  EXPECT_NE(box.text.find(backups[0]), std::string::npos);
  // The radio's new code expects 5.10 and `codeplug write` refuses a 5.9
  // file for it: the hint converts the backup first.
  EXPECT_NE(box.text.find("bcu codeplug convert \"" + backups[0] + "\" codeplug-"),
            std::string::npos)
      << box.text;
  EXPECT_NE(box.text.find("-5.10.bin --to 5.10\nbcu codeplug write --port DEVICE codeplug-"),
            std::string::npos)
      << box.text;
  // And how to see what the radio holds now against the backup.
  EXPECT_NE(box.text.find("bcu codeplug diff \"" + backups[0] + "\" now.bin"), std::string::npos)
      << box.text;
  EXPECT_EQ(backups[0].front(), '/');  // a full path
}

// The read-back cannot be done (the radio stops answering once the download
// is through): "written, not verified", never "Done." alone.
TEST_F(CodeplugStepTest, ReadBackThatCannotBeDoneIsNotVerified) {
  UpdateRig& rig = Rig(Radio(Codeplug(9, 2), 10));
  bool silenced = false;
  rig.Host().onPump = [&] {
    const auto& s = rig.Host().status;
    if (!silenced && !s.empty() && s.back() == "Verifying codeplug...") {
      silenced = true;
      rig.Radio().With([](sim::VirtualRadio& r) { r.Faults().silentAfterBlocks = r.DataBlocks(); });
    }
  };
  ShownStep(rig);
  ASSERT_TRUE(silenced);
  const std::string last = rig.Host().status.back();
  EXPECT_EQ(last.rfind("The codeplug was written, but it could not be read back to verify it.", 0),
            0u)
      << last;
  const auto backups = rig.BackupFiles();
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_NE(last.find(backups[0]), std::string::npos);
  EXPECT_EQ(std::count(rig.Host().status.begin(), rig.Host().status.end(), "Done."), 0);
  EXPECT_EQ(rig.Host().progress.Position(), 0);
  ASSERT_FALSE(rig.Host().messages.empty());
  EXPECT_NE(rig.Host().messages.back().text.find(backups[0]), std::string::npos);
  // The radio did take the codeplug.
  EXPECT_EQ(rig.Radio().With([](sim::VirtualRadio& r) { return r.Counters().downloads; }), 1);
}

// After success the backup stays, readable by its owner only, named in a
// status text and listed with serial number, time, format and size; the
// version panel no longer shows the versions from before the update.
TEST_F(CodeplugStepTest, BackupIsKeptAfterSuccessAndListed) {
  const auto before = Codeplug(9, 126);
  UpdateRig& rig = Rig(Radio(before, 10));
  rig.Updater().m_RetrieveVersionInfoButtonClick();
  ASSERT_EQ(rig.Updater().m_VersionPanel.FileVersionLabel, "5.10");
  ShownStep(rig);
  EXPECT_EQ(rig.Host().status.back(), "Done.");

  const auto backups = rig.BackupFiles();
  ASSERT_EQ(backups.size(), 1u);
  struct stat st {};
  ASSERT_EQ(::stat(backups[0].c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const auto& status = rig.Host().status;
  EXPECT_NE(std::find(status.begin(), status.end(),
                      "The codeplug read from the radio is saved in " + backups[0] + "."),
            status.end());
  std::vector<CodeplugBackupEntry> entries;
  std::string error;
  ASSERT_TRUE(ListCodeplugBackups(rig.BackupRoot(), kSerial, entries, error)) << error;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, backups[0]);
  EXPECT_EQ(entries[0].serial, kSerial);
  EXPECT_EQ(entries[0].format, "5.9");
  EXPECT_EQ(entries[0].bytes, (before.size() + 127) / 128 * 128);
  EXPECT_EQ(entries[0].time.size(), 19u);

  EXPECT_TRUE(rig.Updater().m_VersionPanelOutOfDate);
  EXPECT_EQ(rig.Updater().m_VersionPanel.FileVersionLabel, "");
  EXPECT_EQ(rig.Updater().m_VersionPanel.BootLoadVersionLabel, "");
  EXPECT_TRUE(rig.Host().messages.empty());
}

// A radio with a codeplug password: the read-back gives the password the
// download used; the user is asked only for the upload and the download.
TEST_F(CodeplugStepTest, PasswordIsNotAskedAgainForTheReadBack) {
  sim::RadioConfig c = Radio(Codeplug(9, 0), 10);
  c.password = "2468";
  UpdateRig& rig = Rig(c);
  rig.Host().codeplugPasswords = {std::string("2468"), std::string("2468")};
  ShownStep(rig);
  EXPECT_EQ(rig.Host().status.back(), "Done.");
  EXPECT_EQ(rig.Host().codeplugPrompts, 2);
  EXPECT_TRUE(rig.WaitForRadio([](sim::VirtualRadio& r) { return r.Counters().uploads == 2; }));
  EXPECT_EQ(rig.Radio().With([](sim::VirtualRadio& r) { return r.Counters().passwordsRefused; }),
            0);
}

// A codeplug that fails the validity check is not converted, but it is what
// the radio holds: it is kept and named.
TEST_F(CodeplugStepTest, InvalidCodeplugIsKeptAndNamed) {
  auto broken = Codeplug(9, 0);
  broken[2 * 200] ^= 0x55;  // a word inside the chain: some block's header or field
  broken[3] ^= 0x01;        // the radio block's length: the chain no longer ends where it should
  UpdateRig& rig = Rig(Radio(broken, 10));
  ShownStep(rig);
  const std::string last = rig.Host().status.back();
  EXPECT_EQ(last.rfind("An error occurred while uploading the codeplug.", 0), 0u) << last;
  const auto backups = rig.BackupFiles();
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_NE(last.find(backups[0]), std::string::npos);
  EXPECT_NE(last.find("invalid"), std::string::npos);
  EXPECT_EQ(Stored(), broken);  // nothing written
  ASSERT_FALSE(rig.Host().messages.empty());
  EXPECT_NE(rig.Host().messages.back().text.find(backups[0]), std::string::npos);
  EXPECT_NE(rig.Host().messages.back().text.find("was not changed"), std::string::npos);
}

}  // namespace
}  // namespace bcu::app
