// Stopping a run against the virtual radio: Stop and a confirmed close at
// every step boundary of manual and automatic runs, clicks while a run
// unwinds, a close question left open, and the run's own work folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/CodeplugBackup.h"
#include "codeplug/CodeplugBuilder.h"
#include "codeplug/CodeplugImage.h"
#include "platform/Clock.h"
#include "sim/VirtualRadio.h"
#include "tests/support/UpdateRig.h"

namespace bcu::app {
namespace {

using testsupport::MakeTempDir;
using testsupport::RemoveTree;
using testsupport::TestFirmware;
using testsupport::UpdateRig;

constexpr const char* kStoppedNothingWritten = "Stopped. Nothing was written to the radio.";
constexpr const char* kStoppedAfterBoot =
    "Stopped. The boot code was updated; the application code was not written.";
constexpr const char* kStoppedCodeplug =
    "Stopped. The radio runs its new code; its codeplug was not converted.";
constexpr const char* kTimedOut = "Code download timed out or canceled by user.";
constexpr const char* kWithoutApplication =
    "Stopped. The radio is in bootload mode without application code; running the update again "
    "completes it.";

// A mobile series-6 application updater (platform code 8): the radio is asked
// for its boot version before the download, and its erase wait is short.
TestFirmware ManualFirmware() {
  TestFirmware fw;
  fw.upgradeType = kUpgradeApplication;
  fw.series = 6;
  fw.bootMajor = 6;
  fw.newPlatform = 1;
  return fw;
}

// A series-6 radio whose codeplug (a built 5.9 image) goes to 5.10.
sim::RadioConfig Series6Radio() {
  sim::RadioConfig c;
  c.bootVersion = {6, 2};
  c.formatBefore = {5, 9};
  c.formatAfter = {5, 10};
  return c;
}

class StopTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir("bcu-stop-test"); }
  void TearDown() override {
    if (HasFailure() && rig_) {
      for (const auto& t : rig_->Host().status) std::fprintf(stderr, "  status: %s\n", t.c_str());
    }
    rig_.reset();
    RemoveTree(dir_);
  }

  UpdateRig& Rig(sim::RadioConfig c, TestFirmware fw, CodeUpdaterOptions options = {}) {
    rig_ =
        std::make_unique<UpdateRig>(c, fw, dir_, testsupport::kUpdateTimeScale, std::move(options));
    rig_->Host().startPasswords = {std::string("gablers")};
    return *rig_;
  }

  // The run folder and the loader and code files are gone; only a backup may
  // stay in the folder.
  void ExpectNoWorkFilesLeft() {
    for (const auto& name : rig_->WorkFiles())
      EXPECT_EQ(name.rfind("codeplug-backup-", 0), 0u) << name;
    EXPECT_TRUE(rig_->Updater().m_LoaderFileName.empty());
    EXPECT_TRUE(rig_->Updater().m_CodeFileName.empty());
    EXPECT_TRUE(rig_->Updater().m_RunWorkDir.empty());
  }

  std::string dir_;
  std::unique_ptr<UpdateRig> rig_;
};

// What a stop found and what the run did afterwards.
struct StopWatch {
  bool acted = false;
  std::size_t sentAtStop = 0;
  bool stoppingUntilTheEnd = true;  // every later pump saw the run stopping
  std::string captionAtStop;
  bool startEnabledAtStop = true;
};

enum class Action { Stop, ConfirmedClose };

// Runs the rig's update and acts once `when` holds: Stop, or Yes to the close
// question (which also tells the program to quit, as the window does).
void RunAndAct(UpdateRig& rig, Action action, const std::function<bool()>& when, StopWatch& w) {
  CodeUpdater& u = rig.Updater();
  rig.Host().onPump = [&] {
    if (w.acted) {
      if (u.m_RunState != RunState::Stopping) w.stoppingUntilTheEnd = false;
      return;
    }
    if (!when()) return;
    w.acted = true;
    w.sentAtStop = rig.Sent().Count();

    if (action == Action::Stop) {
      u.m_StartButtonClick();
    } else {
      rig.Host().answers = {platform::MsgResult::Yes};
      EXPECT_TRUE(u.FormCloseQuery());
      rig.Host().quit = true;
    }
    w.captionAtStop = u.m_StartButtonCaption;
    w.startEnabledAtStop = u.m_StartButtonEnabled;
  };
  u.m_StartButtonClick();
  rig.Host().onPump = nullptr;
}

bool StatusIs(UpdateRig& rig, const std::string& text) {
  return !rig.Host().status.empty() && rig.Host().status.back() == text;
}

bool Shown(UpdateRig& rig, const std::string& text) {
  const auto& s = rig.Host().status;
  return std::find(s.begin(), s.end(), text) != s.end();
}

struct BoundaryCase {
  const char* name;
  Action action;
  // The moment to act, as the host sees it: a status text, or (when empty)
  // the first frame sent with `group`/`code`.
  const char* status;
  int group;
  int code;
  const char* finalStatus;
};

void PrintTo(const BoundaryCase& c, std::ostream* os) {
  *os << c.name;
}

class ManualBoundary : public StopTest, public ::testing::WithParamInterface<BoundaryCase> {};

TEST_P(ManualBoundary, NothingIsWrittenAfterTheStop) {
  const BoundaryCase& c = GetParam();
  sim::RadioConfig radio = Series6Radio();
  auto& rig = Rig(radio, ManualFirmware());
  const auto before = rig.Radio().With([](sim::VirtualRadio& r) { return r.Codeplug(); });
  StopWatch w;
  RunAndAct(
      rig, c.action,
      [&] {
        if (*c.status) return StatusIs(rig, c.status);
        return rig.Sent().Find(c.group, c.code) >= 0;
      },
      w);
  ASSERT_TRUE(w.acted);
  // A second press would stop at once.
  EXPECT_EQ(w.captionAtStop, "Stop Now");
  EXPECT_TRUE(w.startEnabledAtStop);
  EXPECT_TRUE(w.stoppingUntilTheEnd);
  EXPECT_TRUE(rig.Sent().WritesFrom(w.sentAtStop).empty());
  // A stop after the codeplug was read names the backup that holds it.
  EXPECT_EQ(rig.Host().status.back().rfind(c.finalStatus, 0), 0u);
  EXPECT_FALSE(Shown(rig, "Done."));
  // The run has unwound: idle, port released.
  CodeUpdater& u = rig.Updater();
  EXPECT_EQ(u.m_RunState, RunState::Idle);
  EXPECT_EQ(u.m_StartButtonCaption, "Start");
  EXPECT_TRUE(u.m_StartButtonEnabled);
  EXPECT_EQ(u.m_Link.serialDevice, nullptr);
  EXPECT_EQ(u.m_PortState[0], 2);
  // The radio's codeplug is as it was.
  EXPECT_EQ(rig.Radio().With([](sim::VirtualRadio& r) { return r.Codeplug(); }), before);
  ExpectNoWorkFilesLeft();
}

INSTANTIATE_TEST_SUITE_P(
    StopTest, ManualBoundary,
    ::testing::Values(BoundaryCase{"StopDuringTheTargetCheck", Action::Stop, "", 0x04, 0x2D,
                                   kStoppedNothingWritten},
                      BoundaryCase{"StopDuringTheEraseWait", Action::Stop,
                                   "Erasing flash (2 seconds)...", 0, 0, kWithoutApplication},
                      BoundaryCase{"CloseDuringTheEraseWait", Action::ConfirmedClose,
                                   "Erasing flash (2 seconds)...", 0, 0, kWithoutApplication},
                      BoundaryCase{"StopDuringTheRestartWait", Action::Stop, "Resetting radio...",
                                   0, 0, kStoppedCodeplug},
                      BoundaryCase{"CloseDuringTheRestartWait", Action::ConfirmedClose,
                                   "Resetting radio...", 0, 0, kStoppedCodeplug},
                      BoundaryCase{"StopDuringTheConversionWait", Action::Stop,
                                   "Resetting radio and converting codeplug...", 0, 0,
                                   kStoppedCodeplug},
                      BoundaryCase{"CloseDuringTheConversionWait", Action::ConfirmedClose,
                                   "Resetting radio and converting codeplug...", 0, 0,
                                   kStoppedCodeplug}),
    [](const ::testing::TestParamInfo<BoundaryCase>& info) { return info.param.name; });

// The automatic update: a radio with boot code 4.1 gets boot code 4.2 first.
sim::RadioConfig OldBootRadio() {
  sim::RadioConfig c;
  c.bootVersion = {4, 1};
  c.formatBefore = {5, 9};
  c.formatAfter = {5, 9};
  return c;
}

TEST_F(StopTest, AutomaticRunStopsAtEachBoundary) {
  struct Case {
    const char* name;
    std::function<bool(UpdateRig&)> when;
    const char* finalStatus;
  };
  const Case cases[] = {
      // The kind query (04 67) comes after the boot checks.
      {"kind query", [](UpdateRig& r) { return r.Sent().Find(0x04, 0x67) >= 0; },
       kStoppedNothingWritten},
      // (A stop during the boot code lets it finish: StopRuleTest.)
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto& rig = Rig(OldBootRadio(), TestFirmware{});
    StopWatch w;
    RunAndAct(
        rig, Action::Stop, [&] { return c.when(rig); }, w);
    ASSERT_TRUE(w.acted);
    EXPECT_TRUE(w.stoppingUntilTheEnd);
    EXPECT_TRUE(rig.Sent().WritesFrom(w.sentAtStop).empty());
    EXPECT_EQ(rig.Host().status.back(), c.finalStatus);
    EXPECT_FALSE(Shown(rig, "Download finished."));
    // No box asks for bootload mode, no application code goes out.
    EXPECT_TRUE(rig.Host().messages.empty());
    EXPECT_EQ(rig.Radio().With([](sim::VirtualRadio& r) {
      return r.LastFile(sim::ReceivedFile::Kind::kApplication) != nullptr;
    }),
              false);
    EXPECT_EQ(rig.Updater().m_RunState, RunState::Idle);
    ExpectNoWorkFilesLeft();
    rig_.reset();
  }

  // Stopped while waiting for bootload mode: the boot code is in, the
  // application is not written.
  CodeUpdaterOptions options;
  std::size_t sentAtStop = 0;
  options.bootloadWait = [&](CodeUpdater& u, const std::string&) {
    sentAtStop = rig_->Sent().Count();
    u.m_StartButtonClick();  // Stop
    EXPECT_EQ(u.m_RunState, RunState::Stopping);
    return true;
  };
  auto& rig = Rig(OldBootRadio(), TestFirmware{}, options);
  rig.Updater().m_StartButtonClick();
  EXPECT_TRUE(rig.Sent().WritesFrom(sentAtStop).empty());
  EXPECT_EQ(rig.Host().status.back(), kStoppedAfterBoot);
  EXPECT_TRUE(rig.Radio().With([](sim::VirtualRadio& r) {
    return r.LastFile(sim::ReceivedFile::Kind::kBoot) != nullptr &&
           r.LastFile(sim::ReceivedFile::Kind::kApplication) == nullptr;
  }));
  ExpectNoWorkFilesLeft();
}

TEST_F(StopTest, ClicksWhileTheRunUnwindsAreIgnored) {
  sim::RadioConfig radio = Series6Radio();
  radio.formatAfter = {5, 9};
  auto& rig = Rig(radio, ManualFirmware());
  CodeUpdater& u = rig.Updater();
  bool clicked = false;
  rig.Host().onPump = [&] {
    if (clicked || !StatusIs(rig, "Downloading Application code ...")) return;
    clicked = true;
    u.m_StartButtonClick();  // Stop
    u.m_StartButtonClick();  // Stop Now
    // Everything the window does not allow while a run is under way.
    u.m_StartButtonClick();
    u.m_RetrieveVersionInfoButtonClick();
    u.m_HelpAboutMenuItemClick();
    u.m_ComportComboBoxChange(3);
  };
  u.m_StartButtonClick();
  ASSERT_TRUE(clicked);
  // No second run (no password prompt, no port message), no Retrieve, no
  // about box; the outer run ended through its own failure path.
  EXPECT_EQ(rig.Host().startPrompts, 1);
  EXPECT_TRUE(rig.Host().messages.empty());
  EXPECT_EQ(u.m_PortItemIndex, 0);
  EXPECT_EQ(rig.Host().status.back(), kWithoutApplication);
  EXPECT_FALSE(Shown(rig, "An error occurred while downloading the codeplug."));
  EXPECT_EQ(u.m_RunState, RunState::Idle);
  EXPECT_EQ(u.m_Link.serialDevice, nullptr);
  EXPECT_EQ(u.m_PortState[0], 2);

  // Idle again: Retrieve works.
  u.m_RetrieveVersionInfoButtonClick();
  EXPECT_EQ(u.m_VersionPanel.FileVersionLabel, "5.9");
}

TEST_F(StopTest, NestedFrameNeverReleasesTheOuterLink) {
  sim::RadioConfig radio = Series6Radio();
  radio.formatAfter = {5, 9};
  auto& rig = Rig(radio, ManualFirmware());
  CodeUpdater& u = rig.Updater();
  bool nested = false;
  bool nestedOpened = true;
  rig.Host().onPump = [&] {
    if (nested || !StatusIs(rig, "Uploading codeplug...")) return;
    nested = true;
    // What a Retrieve run from inside the upload's wait would do.
    nestedOpened = u.OpenSelectedPort(true);
    u.ReleasePort();
  };
  u.m_StartButtonClick();
  ASSERT_TRUE(nested);
  EXPECT_FALSE(nestedOpened);
  ASSERT_EQ(rig.Host().messages.size(), 1u);
  EXPECT_EQ(rig.Host().messages[0].text, "Selected COM port is in use or not available.");
  EXPECT_EQ(rig.Host().status.back(), "Done.");
  EXPECT_EQ(u.m_Link.serialDevice, nullptr);
  EXPECT_EQ(u.m_PortState[0], 2);
}

TEST_F(StopTest, NoToTheCloseQuestionAfterLongerThanATimeoutLeavesTheRunGoing) {
  sim::RadioConfig radio = Series6Radio();
  radio.formatAfter = {5, 9};
  auto& rig = Rig(radio, ManualFirmware());
  CodeUpdater& u = rig.Updater();
  bool asked = false;
  bool inBox = false;
  rig.Host().onPump = [&] {
    if (asked || inBox || !StatusIs(rig, "Downloading Application code ...")) return;
    asked = true;
    rig.Host().answers = {platform::MsgResult::No};
    EXPECT_FALSE(u.FormCloseQuery());
  };
  // The box stays open, its event loop turning the timers, for longer than
  // the download's reply time-out (15 s shortened to 3.75 s here).
  rig.Host().onMessage = [&](const testsupport::ShownMessage& m) {
    if (m.caption != "Confirm") return;
    inBox = true;
    const std::uint64_t end = platform::RealMicros() + 4500 * 1000;
    while (platform::RealMicros() < end) {
      rig.Host().Pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    inBox = false;
  };
  u.m_StartButtonClick();
  ASSERT_TRUE(asked);
  EXPECT_EQ(rig.Host().status.back(), "Done.");
  EXPECT_FALSE(Shown(rig, kTimedOut));
}

TEST_F(StopTest, NoBootInfoRunGoesOnToDone) {
  // A radio that leaves the boot information request unanswered: the check
  // passes with "No Boot Info." after the time-out, and the download that
  // follows runs.
  sim::RadioConfig radio = Series6Radio();
  radio.formatAfter = {5, 9};
  radio.answersBootInfo = false;
  auto& rig = Rig(radio, ManualFirmware());
  rig.Updater().m_StartButtonClick();
  EXPECT_TRUE(Shown(rig, "No Boot Info."));
  EXPECT_EQ(rig.Host().status.back(), "Done.");
  EXPECT_TRUE(rig.Radio().With([](sim::VirtualRadio& r) {
    return r.LastFile(sim::ReceivedFile::Kind::kApplication) != nullptr;
  }));
}

TEST_F(StopTest, WorkFilesThatAreMissingEmptyOrWithoutRecordsAreNotDownloaded) {
  struct Case {
    const char* name;
    std::function<void(CodeUpdater&)> spoil;  // run once the work files are written
    const char* status;
  };
  const auto inRunFolder = [](CodeUpdater& u, const std::string& name) {
    return u.m_RunWorkDir + "/" + name;
  };
  const Case cases[] = {
      {"missing code",
       [&](CodeUpdater& u) { std::filesystem::remove(inRunFolder(u, u.m_CodeFileName)); },
       "The work file Code.hex is missing; nothing was downloaded."},
      {"empty loader",
       [&](CodeUpdater& u) { std::ofstream(inRunFolder(u, u.m_LoaderFileName)).close(); },
       "The work file Loader.hex is empty; nothing was downloaded."},
      {"code without records",
       [&](CodeUpdater& u) {
         std::ofstream(inRunFolder(u, u.m_CodeFileName)) << "S0030000FC\r\nS9030000FC\r\n";
       },
       "The work file Code.hex holds no code records; nothing was downloaded."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto& rig = Rig(Series6Radio(), ManualFirmware());
    CodeUpdater& u = rig.Updater();
    bool spoiled = false;
    // The target check asks the radio (04 2D) after the files are written.
    rig.Host().onPump = [&] {
      if (spoiled || rig.Sent().Find(0x04, 0x2D) < 0) return;
      spoiled = true;
      c.spoil(u);
    };
    u.m_StartButtonClick();
    ASSERT_TRUE(spoiled);
    EXPECT_EQ(rig.Host().status.back(), c.status);
    EXPECT_TRUE(rig.Sent().WritesFrom(0).empty());
    ExpectNoWorkFilesLeft();
    rig_.reset();
  }
}

TEST_F(StopTest, EightUpdatersInOneFolderNeverMeet) {
  // Eight updates started at once in one folder, each on its own radio:
  // every one writes its work files into a folder of its own.
  constexpr int kRuns = 8;
  std::vector<std::unique_ptr<UpdateRig>> rigs;
  sim::RadioConfig radio = Series6Radio();
  radio.formatAfter = {5, 9};
  for (int i = 0; i < kRuns; ++i) {
    rigs.push_back(std::make_unique<UpdateRig>(radio, ManualFirmware(), dir_));
    rigs.back()->Host().startPasswords = {std::string("gablers")};
  }
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (auto& rig : rigs) {
    threads.emplace_back([&ready, &rig] {
      ++ready;
      while (ready < kRuns) std::this_thread::yield();
      rig->Updater().m_StartButtonClick();
    });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < kRuns; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rigs[i]->Host().status.back(), "Done.");
    EXPECT_TRUE(rigs[i]->Host().messages.empty());
  }
  EXPECT_TRUE(rigs[0]->WorkFiles().empty());
  rigs.clear();
}

}  // namespace
}  // namespace bcu::app
