// The update history as the updater records its Start runs against the
// virtual radio: one line per run, with what the run read from the radio, its
// backup and the code `bcu update` exits with; none for a refused start
// password or a Retrieve; a history that cannot be written shown, the run
// standing as it ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/ExitCode.h"
#include "app/RunHistory.h"
#include "app/UpdateHistory.h"
#include "codeplug/CodeplugBuilder.h"
#include "codeplug/CodeplugImage.h"
#include "tests/support/UpdateRig.h"

namespace bcu::app {
namespace {

using testsupport::MakeTempDir;
using testsupport::RemoveTree;
using testsupport::TestFirmware;
using testsupport::UpdateRig;

class RunHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("bcu-run-history-test");
    history_ = dir_ + "/data/history.jsonl";
  }
  void TearDown() override {
    if (HasFailure() && rig_) {
      for (const auto& t : rig_->Host().status) std::fprintf(stderr, "  status: %s\n", t.c_str());
    }
    rig_.reset();
    RemoveTree(dir_);
  }

  // A radio with current boot code whose codeplug (format 5.9) the new code
  // wants in 5.10.
  sim::RadioConfig Radio() {
    sim::RadioConfig c;
    c.bootVersion = {4, 2};
    c.formatBefore = {5, 9};
    c.formatAfter = {5, 10};
    c.codeplugFile = SampleCodeplug();
    return c;
  }

  std::string SampleCodeplug() {
    auto image = std::make_unique<codeplug::CodeplugImage>();
    std::size_t n = 0;
    codeplug::CodeplugShape shape;
    shape.version = {5, 9};
    shape.seed = 11;
    EXPECT_TRUE(codeplug::BuildCodeplug(shape, *image, n));
    auto* bytes = reinterpret_cast<std::uint8_t*>(image->data());
    codeplug::ParmsImageSwapBytes(bytes, n);
    const std::string path = dir_ + "/radio-codeplug.bin";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
      std::fwrite(bytes, 1, n, f);
      std::fclose(f);
    }
    return path;
  }

  UpdateRig& Rig(sim::RadioConfig c, std::string historyPath = {}) {
    CodeUpdaterOptions options;
    options.recordHistory = true;
    options.historyPath = historyPath.empty() ? history_ : historyPath;
    TestFirmware fw;
    fw.setName = "BrisantCodeUpdater_6700_Series_4";
    fw.setRelease = "4.2";
    std::filesystem::create_directories(dir_ + "/work");
    rig_ =
        std::make_unique<UpdateRig>(c, fw, dir_ + "/work", testsupport::kUpdateTimeScale, options);
    rig_->Host().startPasswords = {std::string("gablers")};
    return *rig_;
  }

  std::vector<HistoryRecord> Lines() {
    std::vector<HistoryRecord> records;
    int skipped = 0;
    std::string error;
    EXPECT_TRUE(ReadHistory(history_, records, skipped, error)) << error;
    EXPECT_EQ(skipped, 0);
    return records;
  }

  std::string dir_;
  std::string history_;
  std::unique_ptr<UpdateRig> rig_;
};

TEST_F(RunHistoryTest, ADoneRunIsOneLineWithTheVersionsAndTheBackup) {
  auto& rig = Rig(Radio());
  // Retrieve first, as a user does: the panel holds the radio's versions.
  rig.Updater().m_RetrieveVersionInfoButtonClick();
  const VersionPanelTexts panel = rig.Updater().m_VersionPanel;
  ASSERT_FALSE(panel.SerialNumberLabel.empty());
  EXPECT_TRUE(Lines().empty());  // a Retrieve is no run
  const std::time_t before = std::time(nullptr);
  rig.Updater().m_StartButtonClick();
  ASSERT_EQ(rig.Host().status.back(), "Done.");

  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  const HistoryRecord& r = lines[0];
  EXPECT_EQ(r.port, rig.Radio().DevicePath());
  EXPECT_EQ(r.serialNumber, "001A2B3C4D5E6F70");
  EXPECT_EQ(r.versionsBefore.fileFormatVersion, "5.9");
  EXPECT_EQ(r.versionsBefore.controllerVersion, panel.HWControllerVersionLabel);
  EXPECT_EQ(r.versionsBefore.dspVersion, panel.DSPVersionLabel);
  EXPECT_EQ(r.versionsBefore.bootVersion, panel.BootLoadVersionLabel);
  EXPECT_FALSE(r.versionsBefore.controllerVersion.empty());
  // After the run only what the new code told the codeplug step is known.
  EXPECT_EQ(r.versionsAfter.fileFormatVersion, "5.10");
  EXPECT_TRUE(r.versionsAfter.controllerVersion.empty());
  EXPECT_EQ(r.codeplugFormatBefore, "5.9");
  EXPECT_EQ(r.codeplugFormatAfter, "5.10");
  EXPECT_EQ(r.firmwareSetName, "BrisantCodeUpdater_6700_Series_4");
  EXPECT_EQ(r.firmwareSetRelease, "4.2");
  const auto backups = rig.BackupFiles();
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(r.backupPath, backups[0]);
  EXPECT_EQ(r.outcomeCode, kExitOk);
  EXPECT_EQ(r.outcomeText, "Done.");
  std::time_t start = 0;
  ASSERT_TRUE(ParseIsoUtcTime(r.startTime, start)) << r.startTime;
  EXPECT_GE(start, before);
  EXPECT_GE(r.durationSeconds, 0.0);
  EXPECT_FALSE(r.rehearsal);
  EXPECT_TRUE(rig.Updater().LastRunRecord().recorded);
  EXPECT_TRUE(rig.Host().messages.empty());

  // The panel was cleared by the new code: the next run (the radio now runs
  // its application, so the code download fails) knows no versions before,
  // and adds its own line.
  rig.Updater().m_StartButtonClick();
  const auto again = Lines();
  ASSERT_EQ(again.size(), 2u);
  EXPECT_TRUE(again[1].versionsBefore.Empty());
  EXPECT_EQ(again[1].outcomeCode, rig.Updater().LastRunRecord().outcomeCode);
  EXPECT_EQ(again[1].outcomeText, rig.Updater().RunResultText());
}

TEST_F(RunHistoryTest, AFailedRunCarriesItsTextAndCode) {
  sim::RadioConfig c = Radio();
  c.faults.alterStoredWord = 500;  // the read-back finds the word changed
  auto& rig = Rig(c);
  rig.Updater().m_StartButtonClick();
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  const HistoryRecord& r = lines[0];
  EXPECT_EQ(r.outcomeCode, kExitCodeplugDownload);
  EXPECT_EQ(r.outcomeCode, rig.Updater().LastRunRecord().outcomeCode);
  EXPECT_EQ(r.outcomeText.rfind("An error occurred while downloading the codeplug.", 0), 0u)
      << r.outcomeText;
  EXPECT_EQ(r.outcomeText, rig.Updater().RunResultText());
  const auto backups = rig.BackupFiles();
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(r.backupPath, backups[0]);
  EXPECT_NE(r.outcomeText.find(backups[0]), std::string::npos);
  EXPECT_EQ(r.serialNumber, "001A2B3C4D5E6F70");
  EXPECT_TRUE(r.versionsBefore.Empty());  // no Retrieve before the run
}

TEST_F(RunHistoryTest, AStoppedAndARefusedRunAreRecordedWithTheirCodes) {
  auto& rig = Rig(Radio());
  bool pressed = false;
  rig.Host().onPump = [&] {
    auto& s = rig.Host().status;
    if (!pressed && !s.empty() && s.back() == "Downloading Application code ...") {
      pressed = true;
      rig.Updater().m_StartButtonClick();  // Stop
    }
  };
  rig.Updater().m_StartButtonClick();
  ASSERT_TRUE(pressed);
  rig.Host().onPump = nullptr;
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].outcomeCode, kExitStopped);
  EXPECT_EQ(lines[0].outcomeText.rfind("Stopped", 0), 0u) << lines[0].outcomeText;
  EXPECT_TRUE(lines[0].backupPath.empty());

  // A radio check refuses the next run before anything is written: the
  // radio is a portable one, the updater for mobile radios. The status line
  // reads "Idle"; the line says why.
  rig_.reset();
  sim::RadioConfig other = Radio();
  other.family = sim::RadioFamily::kPortable;
  auto& refusing = Rig(other);
  refusing.Updater().m_StartButtonClick();
  ASSERT_EQ(refusing.Host().status.back(), "Idle");
  lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].outcomeCode, kExitRefused);
  EXPECT_EQ(lines[1].outcomeText,
            "This Brisant Code Updater is intended for a mobile radio, and cannot be used with "
            "the connected portable radio.");
}

TEST_F(RunHistoryTest, ARefusedStartPasswordRunsNothingAndRecordsNothing) {
  auto& rig = Rig(Radio());
  rig.Host().startPasswords = {std::nullopt, std::string("wrong")};
  rig.Updater().m_StartButtonClick();
  rig.Updater().m_StartButtonClick();
  EXPECT_EQ(rig.Host().startPrompts, 2);
  EXPECT_TRUE(Lines().empty());
  EXPECT_FALSE(rig.Updater().LastRunRecord().ran);
}

TEST_F(RunHistoryTest, VersionsOfAnotherRadioInThePanelAreNotThisRadios) {
  auto& rig = Rig(Radio());
  rig.Updater().m_RetrieveVersionInfoButtonClick();
  // The radio was swapped after the Retrieve: the panel shows the first.
  rig.Updater().m_VersionPanel.SerialNumberLabel = "00-00-00-00-00-00-00-99";
  rig.Updater().m_StartButtonClick();
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].serialNumber, "001A2B3C4D5E6F70");
  EXPECT_TRUE(lines[0].versionsBefore.Empty());
}

TEST_F(RunHistoryTest, AHistoryThatCannotBeWrittenIsShownAndTheRunStands) {
  // The history's folder is a file: nothing can be made below it.
  const std::string blocker = dir_ + "/blocker";
  std::FILE* f = std::fopen(blocker.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  auto& rig = Rig(Radio(), blocker + "/history.jsonl");
  rig.Updater().m_StartButtonClick();
  EXPECT_EQ(rig.Host().status.back(), "Done.");
  EXPECT_EQ(rig.Updater().RunResultText(), "Done.");
  EXPECT_EQ(rig.Updater().m_RunState, RunState::Idle);
  EXPECT_EQ(rig.Updater().m_StartButtonCaption, "Start");
  const LastRun& run = rig.Updater().LastRunRecord();
  EXPECT_TRUE(run.ran);
  EXPECT_FALSE(run.recorded);
  EXPECT_FALSE(run.historyError.empty());
  EXPECT_EQ(run.outcomeCode, kExitOk);
  ASSERT_EQ(rig.Host().messages.size(), 1u);
  const auto& box = rig.Host().messages[0];
  EXPECT_EQ(box.caption, "Brisant Code Updater");
  EXPECT_EQ(box.text.rfind("The run could not be recorded in the update history: ", 0), 0u)
      << box.text;
  EXPECT_NE(box.text.find(run.historyError), std::string::npos);
  EXPECT_EQ(rig.BackupFiles().size(), 1u);  // the backup is kept all the same
}

}  // namespace
}  // namespace bcu::app
