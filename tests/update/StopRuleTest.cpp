// A stop in the middle of every transfer, against the virtual radio: a first
// stop lets the boot code, a codeplug upload, download and read-back run to
// their end and stops the loader and the application code at their next
// block; a second stop cuts whatever runs. Each case checks what the radio
// holds afterwards and what the status line says of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/CodeplugBackup.h"
#include "sim/VirtualRadio.h"
#include "tests/support/UpdateRig.h"

namespace bcu::app {
namespace {

using testsupport::MakeTempDir;
using testsupport::RemoveTree;
using testsupport::TestFirmware;
using testsupport::UpdateRig;

constexpr const char* kBeforeErase =
    "Stopped before the flash was erased; the radio's code is unchanged.";
constexpr const char* kWithoutApplication =
    "Stopped. The radio is in bootload mode without application code; running the update again "
    "completes it.";
constexpr const char* kBootCut = "Stopped at once. The boot code download was cut short";
constexpr const char* kAfterBoot =
    "Stopped. The boot code was updated; the application code was not written.";
constexpr const char* kCodeplugStoppedText =
    "Stopped. The radio runs its new code; its codeplug was not converted.";

// An application updater for a series-6 mobile (platform code 8) and its
// radio, whose codeplug goes from 5.9 to 5.10.
TestFirmware ApplicationFirmware() {
  TestFirmware fw;
  fw.upgradeType = kUpgradeApplication;
  fw.series = 6;
  fw.bootMajor = 6;
  fw.newPlatform = 1;
  return fw;
}
sim::RadioConfig ApplicationRadio() {
  sim::RadioConfig c;
  c.bootVersion = {6, 2};
  return c;
}
// The automatic updater of the tests and a radio with old boot code.
sim::RadioConfig OldBootRadio() {
  sim::RadioConfig c;
  c.bootVersion = {4, 1};
  return c;
}

enum class Stops { First, FirstThenSecond };

struct Case {
  const char* name;
  bool automatic;  // the boot-first updater and radio, else the application ones
  // The moment: the `nth` frame with this code sent, while the status line
  // reads `status` (empty: any).
  int group, code, nth;
  const char* status;
  Stops stops;
  std::function<void(UpdateRig&, const std::string& last)> check;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

int CountSent(UpdateRig& rig, int group, int code) {
  int n = 0;
  for (long at = rig.Sent().Find(group, code); at >= 0;
       at = rig.Sent().Find(group, code, static_cast<std::size_t>(at) + 1))
    ++n;
  return n;
}

template <class F>
auto Radio(UpdateRig& rig, F f) {
  return rig.Radio().With(f);
}

bool Holds(UpdateRig& rig, sim::ReceivedFile::Kind kind) {
  return Radio(rig, [&](sim::VirtualRadio& r) { return r.LastFile(kind) != nullptr; });
}

bool Starts(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

bool Shown(UpdateRig& rig, const std::string& text) {
  const auto& s = rig.Host().status;
  return std::find(s.begin(), s.end(), text) != s.end();
}

class StopRule : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override { dir_ = MakeTempDir("bcu-stop-rule"); }
  void TearDown() override {
    if (HasFailure() && rig_) {
      for (const auto& t : rig_->Host().status) std::fprintf(stderr, "  status: %s\n", t.c_str());
    }
    rig_.reset();
    RemoveTree(dir_);
  }
  std::string dir_;
  std::unique_ptr<UpdateRig> rig_;
};

TEST_P(StopRule, WhatTheRadioHoldsAfterTheStop) {
  const Case& c = GetParam();
  rig_ = c.automatic ? std::make_unique<UpdateRig>(OldBootRadio(), TestFirmware{}, dir_)
                     : std::make_unique<UpdateRig>(ApplicationRadio(), ApplicationFirmware(), dir_);
  UpdateRig& rig = *rig_;
  rig.Host().startPasswords = {std::string("gablers")};
  CodeUpdater& u = rig.Updater();
  bool acted = false;
  rig.Host().onPump = [&] {
    if (acted || CountSent(rig, c.group, c.code) < c.nth) return;
    if (*c.status && (rig.Host().status.empty() || rig.Host().status.back() != c.status)) return;
    acted = true;
    u.m_StartButtonClick();  // Stop
    EXPECT_EQ(u.m_RunState, RunState::Stopping);
    EXPECT_EQ(u.m_StartButtonCaption, "Stop Now");
    EXPECT_TRUE(u.m_StartButtonEnabled);
    if (c.stops == Stops::FirstThenSecond) {
      u.m_StartButtonClick();  // Stop Now (Yes to its question, if it asks)
      EXPECT_EQ(u.m_StartButtonCaption, "Stopping...");
      EXPECT_FALSE(u.m_StartButtonEnabled);
    }
  };
  u.m_StartButtonClick();
  rig.Host().onPump = nullptr;
  ASSERT_TRUE(acted);
  ASSERT_FALSE(rig.Host().status.empty());
  // The radio may take the last frame a moment after the run returned.
  rig.WaitForRadio([](sim::VirtualRadio& r) { return !r.IsBusy(); });
  c.check(rig, rig.Host().status.back());
  EXPECT_EQ(u.m_RunState, RunState::Idle);
  EXPECT_EQ(u.m_StartButtonCaption, "Start");
  EXPECT_EQ(u.m_Link.serialDevice, nullptr);
}

// The application download: the loader, then 16 pairs of application code.
const Case kCases[] = {
    {"FirstStopInTheLoaderKeepsTheFlash", false, 0x02, 0x09, 1, "Downloading Loader code ...",
     Stops::First,
     [](UpdateRig& rig, const std::string& last) {
       EXPECT_EQ(last, kBeforeErase);
       EXPECT_FALSE(Holds(rig, sim::ReceivedFile::Kind::kLoader));
       EXPECT_EQ(CountSent(rig, 0x02, 0x04), 0);  // no end command: no erase
     }},
    {"SecondStopInTheLoaderKeepsTheFlash", false, 0x02, 0x09, 1, "Downloading Loader code ...",
     Stops::FirstThenSecond,
     [](UpdateRig& rig, const std::string& last) {
       EXPECT_EQ(last, kBeforeErase);
       EXPECT_EQ(CountSent(rig, 0x02, 0x04), 0);
     }},
    {"FirstStopInTheEraseWaitSendsNoApplication", false, 0x02, 0x04, 1,
     "Erasing flash (2 seconds)...", Stops::First,
     [](UpdateRig& rig, const std::string& last) {
       EXPECT_EQ(last, kWithoutApplication);
       EXPECT_TRUE(Holds(rig, sim::ReceivedFile::Kind::kLoader));
       EXPECT_EQ(CountSent(rig, 0x02, 0x01), 1);  // the loader's start only
     }},
    {"FirstStopInTheApplicationEndsAtTheNextPair", false, 0x02, 0x09, 5,
     "Downloading Application code ...", Stops::First,
     [](UpdateRig& rig, const std::string& last) {
       EXPECT_EQ(last, kWithoutApplication);
       EXPECT_FALSE(Holds(rig, sim::ReceivedFile::Kind::kApplication));
       // Loader (2 blocks) + 3 application blocks sent when the stop came;
       // the pair in progress is finished, no further one is started.
       EXPECT_EQ(CountSent(rig, 0x02, 0x09), 2 + 4);
       EXPECT_EQ(CountSent(rig, 0x02, 0x04), 1);  // the loader's end only
       EXPECT_FALSE(Shown(rig, "Resetting radio..."));
     }},
    {"SecondStopInTheApplicationCutsIt", false, 0x02, 0x09, 5, "Downloading Application code ...",
     Stops::FirstThenSecond,
     [](UpdateRig& rig, const std::string& last) {
       EXPECT_EQ(last, kWithoutApplication);
       EXPECT_FALSE(Holds(rig, sim::ReceivedFile::Kind::kApplication));
       EXPECT_LE(CountSent(rig, 0x02, 0x09), 2 + 4);
     }},
    {"FirstStopInTheUploadKeepsTheWholeCodeplug", false, 0x03, 0x08, 2, "Uploading codeplug...",
     Stops::First,
     [](UpdateRig& rig, const std::string& last) {
       EXPECT_TRUE(Starts(last, kCodeplugStoppedText)) << last;
       ASSERT_EQ(rig.BackupFiles().size(), 1u);
       EXPECT_NE(last.find(rig.BackupFiles()[0]), std::string::npos);
       EXPECT_EQ(Radio(rig, [](sim::VirtualRadio& r) { return r.Counters().uploads; }), 1);
       EXPECT_EQ(CountSent(rig, 0x03, 0x00), 0);  // no download began
     }},
    {"SecondStopInTheUploadCutsIt", false, 0x03, 0x08, 2, "Uploading codeplug...",
     Stops::FirstThenSecond,
     [](UpdateRig& rig, const std::string& last) {
       EXPECT_TRUE(Starts(last, "An error occurred while uploading the codeplug.")) << last;
       EXPECT_NE(last.find("Stopped at once during the codeplug upload"), std::string::npos);
       EXPECT_TRUE(rig.BackupFiles().empty());
       EXPECT_EQ(CountSent(rig, 0x03, 0x00), 0);
     }},
    {"FirstStopInTheDownloadWritesAndVerifiesIt", false, 0x03, 0x02, 2, "Downloading codeplug...",
     Stops::First,
     [](UpdateRig& rig, const std::string& last) {
       EXPECT_EQ(last, "Done.");
       EXPECT_EQ(Radio(rig, [](sim::VirtualRadio& r) { return r.Counters().downloads; }), 1);
       EXPECT_TRUE(Shown(rig, "Verifying codeplug..."));
       EXPECT_EQ(Radio(rig, [](sim::VirtualRadio& r) { return r.Counters().uploads; }), 2);
     }},
    {"SecondStopInTheDownloadSaysWhatTheRadioMayHold", false, 0x03, 0x02, 2,
     "Downloading codeplug...", Stops::FirstThenSecond,
     [](UpdateRig& rig, const std::string& last) {
       EXPECT_TRUE(Starts(last, "An error occurred while downloading the codeplug.")) << last;
       EXPECT_NE(last.find("the radio may hold an incomplete codeplug"), std::string::npos);
       ASSERT_EQ(rig.BackupFiles().size(), 1u);
       EXPECT_NE(last.find(rig.BackupFiles()[0]), std::string::npos);
       EXPECT_FALSE(Shown(rig, "Verifying codeplug..."));
     }},
    {"FirstStopInTheReadBackFinishesIt", false, 0x03, 0x08, 3, "Verifying codeplug...",
     Stops::First,
     [](UpdateRig& rig, const std::string& last) {
       EXPECT_EQ(last, "Done.");
       EXPECT_EQ(Radio(rig, [](sim::VirtualRadio& r) { return r.Counters().uploads; }), 2);
     }},
    {"SecondStopInTheReadBackSaysItIsNotVerified", false, 0x03, 0x08, 3, "Verifying codeplug...",
     Stops::FirstThenSecond,
     [](UpdateRig& rig, const std::string& last) {
       EXPECT_TRUE(Starts(last, "The codeplug was written, but it could not be read back")) << last;
       EXPECT_NE(last.find("Stopped at once during the read-back"), std::string::npos);
       ASSERT_EQ(rig.BackupFiles().size(), 1u);
       EXPECT_NE(last.find(rig.BackupFiles()[0]), std::string::npos);
     }},
    // The boot-first updater: boot loader (2 blocks), boot code (4 blocks).
    {"FirstStopInTheBootLoaderKeepsTheFlash", true, 0x02, 0x09, 1, "Downloading Loader code ...",
     Stops::First,
     [](UpdateRig& rig, const std::string& last) {
       EXPECT_EQ(last, kBeforeErase);
       EXPECT_EQ(CountSent(rig, 0x02, 0x04), 0);
       EXPECT_FALSE(Holds(rig, sim::ReceivedFile::Kind::kBoot));
     }},
    {"FirstStopInTheBootEraseWaitStillWritesTheBootCode", true, 0x02, 0x04, 1, "", Stops::First,
     [](UpdateRig& rig, const std::string& last) {
       EXPECT_EQ(last, kAfterBoot);
       EXPECT_TRUE(Holds(rig, sim::ReceivedFile::Kind::kBoot));
       EXPECT_FALSE(Holds(rig, sim::ReceivedFile::Kind::kApplication));
       EXPECT_TRUE(rig.Host().messages.empty());  // no bootload-mode box
     }},
    {"FirstStopInTheBootCodeFinishesIt", true, 0x02, 0x09, 4, "Downloading Boot code ...",
     Stops::First,
     [](UpdateRig& rig, const std::string& last) {
       EXPECT_EQ(last, kAfterBoot);
       EXPECT_TRUE(Shown(rig, "Download finished."));
       EXPECT_TRUE(Holds(rig, sim::ReceivedFile::Kind::kBoot));
       EXPECT_FALSE(Holds(rig, sim::ReceivedFile::Kind::kApplication));
     }},
    {"SecondStopInTheBootCodeAsksThenCutsIt", true, 0x02, 0x09, 4, "Downloading Boot code ...",
     Stops::FirstThenSecond,
     [](UpdateRig& rig, const std::string& last) {
       EXPECT_TRUE(Starts(last, kBootCut)) << last;
       EXPECT_FALSE(Holds(rig, sim::ReceivedFile::Kind::kBoot));
       ASSERT_FALSE(rig.Host().messages.empty());
       EXPECT_EQ(rig.Host().messages[0].caption, "Confirm");
       EXPECT_NE(rig.Host().messages[0].text.find("the boot code download"), std::string::npos);
     }},
};

INSTANTIATE_TEST_SUITE_P(StopRuleTest, StopRule, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

// What the front ends say at the first stop, step by step.
TEST(StopNotice, NamesTheStepAndWhatTheStopDoes) {
  struct Expect {
    RunStep step;
    const char* text;
  };
  const Expect expected[] = {
      {RunStep::BootCode,
       "the run stops after the boot code download, which must not be cut short"},
      {RunStep::CodeplugDownload,
       "the run stops after the codeplug download, which must not be cut short"},
      {RunStep::ApplicationCode,
       "stopping the application code download at its next block; the radio is then in bootload "
       "mode without application code, and running the update again completes it"},
      {RunStep::Loader,
       "stopping the loader download at its next block, before the flash is erased"},
      {RunStep::Other, "stopping after the current step; nothing further is written to the radio"},
  };
  const std::string dir = MakeTempDir("bcu-stop-notice");
  {
    UpdateRig rig(ApplicationRadio(), ApplicationFirmware(), dir);
    for (const Expect& e : expected) {
      rig.Updater().m_Step = e.step;
      EXPECT_EQ(rig.Updater().StopNotice(), e.text);
    }
  }
  RemoveTree(dir);
}

// Before the first write to the radio, the backup the run will need must
// fit: a data folder that is full, or that cannot be written, refuses the
// run with the reason, and nothing is sent that writes.
TEST(BackupRoom, AFullOrUnwritableDataFolderRefusesBeforeAnyWrite) {
  const std::string dir = MakeTempDir("bcu-backup-room");
  struct Setting {
    const char* name;
    std::function<void(CodeUpdaterOptions&)> apply;
    const char* reason;
  };
  const std::string blocker = dir + "/not-a-folder";
  {
    std::FILE* f = std::fopen(blocker.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  const Setting settings[] = {
      {"full",
       [](CodeUpdaterOptions& o) {
         o.folderRoom = [](const std::string&) {
           platform::FolderRoom room;
           room.writable = true;
           room.freeBytes = 4096;
           return room;
         };
       },
       "has 4096 bytes free; a backup needs 69632"},
      {"unwritable", [&](CodeUpdaterOptions& o) { o.backupRoot = blocker + "/backups"; },
       "a part of the path is not a folder"},
  };
  for (const Setting& s : settings) {
    SCOPED_TRACE(s.name);
    const std::string work = MakeTempDir("bcu-backup-room-work");
    CodeUpdaterOptions options;
    s.apply(options);
    {
      UpdateRig rig(ApplicationRadio(), ApplicationFirmware(), work, testsupport::kUpdateTimeScale,
                    options);
      if (!options.backupRoot.empty()) {
        // The rig names its own backup folder; this one must stay.
        rig.Updater().m_Options.backupRoot = options.backupRoot;
      }
      rig.Host().startPasswords = {std::string("gablers")};
      rig.Updater().m_StartButtonClick();
      const std::string last = rig.Host().status.back();
      EXPECT_TRUE(Starts(last, "The codeplug backup cannot be kept (")) << last;
      EXPECT_NE(last.find(s.reason), std::string::npos) << last;
      EXPECT_NE(last.find("nothing was written to the radio"), std::string::npos);
      EXPECT_TRUE(rig.Sent().WritesFrom(0).empty());
      ASSERT_FALSE(rig.Host().messages.empty());
      EXPECT_EQ(rig.Host().messages.back().text, last);
    }
    RemoveTree(work);
  }
  RemoveTree(dir);
}

}  // namespace
}  // namespace bcu::app
