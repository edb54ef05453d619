// Start-up of the window's logic and its small handlers.
#include <gtest/gtest.h>

#include "app/CodeUpdater.h"
#include "support/AppHost.h"

namespace bcu::app {
namespace {

using testing::AppAttributes;
using testing::AppFakeDiscovery;
using testing::AppRecordingView;
using testing::AppResources;
using testing::AppTestHost;

struct Window {
  explicit Window(const ResourceAttributes& attributes,
                  std::string programPath = "/opt/bcu/Mobile_Release_4_1.exe")
      : resources(AppResources(attributes)),
        updater(host, view, *resources, std::move(programPath), discovery) {}
  AppTestHost host;
  AppRecordingView view;
  AppFakeDiscovery discovery;
  std::unique_ptr<platform::MemoryResources> resources;
  CodeUpdater updater;
};

TEST(CodeUpdaterStart, TargetGroupFromAttributesAndFileName) {
  auto attributes = AppAttributes(1, 4, 1, kUpgradeApplicationBoot);
  std::snprintf(attributes.ConfigDeskVersion, sizeof attributes.ConfigDeskVersion, "2.10.2");
  std::snprintf(attributes.TuneDeskVersion, sizeof attributes.TuneDeskVersion, "3.0.14");
  Window w(attributes);
  const auto& t = w.updater.m_Target;
  EXPECT_EQ(t.m_NameLabel, "Name: Mobile_Release_4_1");
  EXPECT_EQ(t.m_TargetReleaseLabel, "4.1");
  EXPECT_EQ(t.m_TargetRadioLabel, "6700");
  EXPECT_EQ(t.m_TargetSeriesLabel, "4");
  EXPECT_EQ(t.m_TargetUpgradeTypeLabel, "Application/Boot");
  EXPECT_EQ(t.ConfigDeskVersionLabel, "2.10.2");
  EXPECT_EQ(t.TuneDeskVersionLabel, "3.0.14");
  EXPECT_EQ(t.picture, RadioPicture::MobileX);
  EXPECT_EQ(w.updater.m_PlatformCode, 7);
  // Series 4 with both upgrade kinds: the boot update is automatic and the
  // choice stays hidden.
  EXPECT_TRUE(w.updater.m_AutoBootUpdate);
  EXPECT_FALSE(w.updater.m_UpgradeChoiceVisible);
  // The start-up does not call the view; the window draws once afterwards.
  EXPECT_EQ(w.view.portListChanged, 0);
  EXPECT_EQ(w.view.targetChanged, 0);
}

// Started by its installed name or from the menu, the window has no release in
// its file name: the set's own name and release stand in. A file name that
// carries a release keeps the file name rule, set or no set.
TEST(CodeUpdaterStart, NameAndReleaseFallBackToTheFirmwareSet) {
  struct Case {
    const char* programPath;
    const char* setName;
    const char* setRelease;
    const char* nameLabel;
    const char* release;
  } cases[] = {
      {"/usr/bin/bcu-window", "BrisantCodeUpdater_6700_Series_4", "4.2",
       "Name: BrisantCodeUpdater_6700_Series_4", "4.2"},
      {"bcu-window", "BrisantCodeUpdater_6700_Series_4", "4.2",
       "Name: BrisantCodeUpdater_6700_Series_4", "4.2"},
      // The file name carries a release: the set is not asked.
      {"/opt/bcu/Mobile_Release_5_1.exe", "BrisantCodeUpdater_6700_Series_4", "4.2",
       "Name: Mobile_Release_5_1", "5.1"},
      // A set with only one of the two.
      {"/usr/bin/bcu-window", "", "4.2", "Name: bcu-window", "4.2"},
      {"/usr/bin/bcu-window", "Mobile 6700 S4", "", "Name: Mobile 6700 S4", "N/A"},
      // A set that names neither: the file name rule alone.
      {"/usr/bin/bcu-window", "", "", "Name: bcu-window", "N/A"},
  };
  for (const auto& c : cases) {
    AppTestHost host;
    AppRecordingView view;
    AppFakeDiscovery discovery;
    auto resources = AppResources(AppAttributes(1, 4));
    const std::string name = c.setName, release = c.setRelease;
    // Looked up without regard to case, like every resource.
    if (!name.empty()) resources->Add("TEXT", kSetNameResource, {name.begin(), name.end()});
    if (!release.empty())
      resources->Add("TEXT", "FIRMWARESETRELEASE_", {release.begin(), release.end()});
    CodeUpdater updater(host, view, *resources, c.programPath, discovery);
    EXPECT_EQ(updater.m_Target.m_NameLabel, c.nameLabel) << c.programPath;
    EXPECT_EQ(updater.m_Target.m_TargetReleaseLabel, c.release) << c.programPath;
  }
}

TEST(CodeUpdaterStart, PicturesAndUpgradeChoice) {
  EXPECT_EQ(Window(AppAttributes(0, 6)).updater.m_Target.picture, RadioPicture::PortableG);
  EXPECT_EQ(Window(AppAttributes(0, 4)).updater.m_Target.picture, RadioPicture::PortableX);
  EXPECT_EQ(Window(AppAttributes(1, 6)).updater.m_Target.picture, RadioPicture::MobileG);

  Window series5(AppAttributes(1, 5, 1, kUpgradeApplicationBoot));
  EXPECT_FALSE(series5.updater.m_AutoBootUpdate);
  EXPECT_TRUE(series5.updater.m_UpgradeChoiceVisible);
  EXPECT_TRUE(series5.updater.m_ApplicationRadioChecked);
  EXPECT_FALSE(series5.updater.m_BootRadioChecked);
  series5.updater.m_BootRadioButtonClick();
  EXPECT_TRUE(series5.updater.m_BootRadioChecked);
  EXPECT_FALSE(series5.updater.m_ApplicationRadioChecked);
  series5.updater.m_ApplicationRadioButtonClick();
  EXPECT_TRUE(series5.updater.m_ApplicationRadioChecked);
  EXPECT_FALSE(series5.updater.m_BootRadioChecked);

  Window series6(AppAttributes(0, 6, 0, kUpgradeBoot));
  EXPECT_FALSE(series6.updater.m_AutoBootUpdate);
  EXPECT_FALSE(series6.updater.m_UpgradeChoiceVisible);
}

TEST(CodeUpdaterStart, MissingAttributesKeepDesignTexts) {
  AppTestHost host;
  AppRecordingView view;
  AppFakeDiscovery discovery;
  platform::MemoryResources empty;
  CodeUpdater updater(host, view, empty, "bcu", discovery);
  EXPECT_EQ(updater.m_Target.m_TargetRadioLabel, "");
  EXPECT_EQ(updater.m_Target.m_TargetUpgradeTypeLabel, "");
  EXPECT_EQ(updater.m_Target.m_TargetReleaseLabel, "N/A");
  // An all-zero record: a portable series 0 updater.
  EXPECT_EQ(updater.m_PlatformCode, 4);
  EXPECT_EQ(updater.m_Target.picture, RadioPicture::PortableX);
  EXPECT_TRUE(host.messages.empty());
}

TEST(CodeUpdaterStart, InitialStateAndPanelToggle) {
  Window w(AppAttributes(0, 6));
  auto& u = w.updater;
  EXPECT_FALSE(u.m_VersionPanelShown);
  EXPECT_EQ(u.m_ToggleVersionInfoCaption, ">>");
  EXPECT_FALSE(u.m_Running);
  EXPECT_FALSE(u.m_PasswordAccepted);
  EXPECT_FALSE(u.m_UseSecondBoot);
  EXPECT_TRUE(u.m_LoaderFileName.empty());
  EXPECT_EQ(u.m_VersionPanel.HWControllerVersionHeadingLabel, "HC08 Software Version:");
  ASSERT_TRUE(u.m_CommTimer);
  EXPECT_FALSE(u.m_CommTimer->Enabled());
  EXPECT_EQ(u.m_Link.timeoutTimer, u.m_CommTimer.get());
  // The link pumps through to the front end's host.
  ASSERT_NE(u.m_Link.pump, nullptr);
  const long pumps = w.host.pumps;
  u.m_Link.pump->Pump();
  EXPECT_EQ(w.host.pumps, pumps + 1);
  EXPECT_EQ(u.m_Link.clock, &w.host.clock);
  EXPECT_EQ(u.m_Link.ports, &u.m_PortTable);

  u.m_ToggleVersionInfoSpeedButtonClick();
  EXPECT_TRUE(u.m_VersionPanelShown);
  EXPECT_EQ(u.m_ToggleVersionInfoCaption, "<<");
  u.m_ToggleVersionInfoSpeedButtonClick();
  EXPECT_FALSE(u.m_VersionPanelShown);
  EXPECT_EQ(u.m_ToggleVersionInfoCaption, ">>");
  EXPECT_EQ(w.view.panelToggled, 2);
}

TEST(CodeUpdaterStart, CommTimerEndsTheWait) {
  Window w(AppAttributes(0, 6));
  link::CommSetRunning(w.updater.m_Link, true);
  w.updater.m_CommTimer->SetEnabled(true);
  w.updater.m_OnCommTimerTimer();
  EXPECT_FALSE(link::CommIsRunning(w.updater.m_Link));
  EXPECT_FALSE(w.updater.m_CommTimer->Enabled());
}

TEST(CodeUpdaterStart, CloseQueryAndAboutWhileIdle) {
  Window w(AppAttributes(0, 6));
  EXPECT_TRUE(w.updater.FormCloseQuery());
  EXPECT_TRUE(w.host.messages.empty());
  w.updater.m_HelpAboutMenuItemClick();
  EXPECT_EQ(w.view.aboutShown, 1);
}

TEST(CodeUpdaterStart, CloseQueryWhileRunningAsks) {
  Window w(AppAttributes(0, 6));
  w.updater.EnterRunningState();
  w.updater.m_HelpAboutMenuItemClick();
  EXPECT_EQ(w.view.aboutShown, 0);
  // No: the update goes on.
  w.host.answers.push_back(platform::MsgResult::No);
  EXPECT_FALSE(w.updater.FormCloseQuery());
  EXPECT_TRUE(w.updater.m_Running);
  EXPECT_EQ(w.updater.m_RunState, RunState::Running);
  ASSERT_EQ(w.host.messages.size(), 1u);
  EXPECT_EQ(w.host.messages[0].text, "Update in progress.  Are you sure you want to quit?");
  EXPECT_EQ(w.host.messages[0].caption, "Confirm");
  EXPECT_EQ(w.host.messages[0].icon, platform::MsgIcon::Question);
  EXPECT_EQ(w.host.messages[0].buttons, platform::MsgButtons::YesNo);
}

TEST(CodeUpdaterStart, CloseQueryYesStopsTheUpdate) {
  Window w(AppAttributes(0, 6));
  w.updater.EnterRunningState();
  link::CommSetRunning(w.updater.m_Link, true);
  w.host.answers.push_back(platform::MsgResult::Yes);
  EXPECT_TRUE(w.updater.FormCloseQuery());
  EXPECT_FALSE(w.updater.m_Running);
  EXPECT_TRUE(w.updater.StopRequested());
  // The first close lets the step in progress finish: the link goes on.
  EXPECT_TRUE(link::CommIsRunning(w.updater.m_Link));
  // The run is stopping until its runner has unwound: only "Stop Now" is
  // enabled.
  EXPECT_EQ(w.updater.m_RunState, RunState::Stopping);
  EXPECT_EQ(w.updater.m_StartButtonCaption, "Stop Now");
  EXPECT_TRUE(w.updater.m_StartButtonEnabled);
  EXPECT_FALSE(w.updater.m_ComportComboBoxEnabled);
  EXPECT_FALSE(w.updater.m_RetrieveVersionInfoButtonEnabled);
  // Closing while stopping still asks; No leaves it as it is.
  w.host.answers.push_back(platform::MsgResult::No);
  EXPECT_FALSE(w.updater.FormCloseQuery());
  EXPECT_EQ(w.host.messages.size(), 2u);
  EXPECT_TRUE(link::CommIsRunning(w.updater.m_Link));
  // Yes to the second close stops at once.
  w.host.answers.push_back(platform::MsgResult::Yes);
  EXPECT_TRUE(w.updater.FormCloseQuery());
  EXPECT_FALSE(link::CommIsRunning(w.updater.m_Link));
  EXPECT_EQ(w.updater.m_StartButtonCaption, "Stopping...");
  EXPECT_FALSE(w.updater.m_StartButtonEnabled);
  w.updater.FinishRun();
  EXPECT_EQ(w.updater.m_RunState, RunState::Idle);
  EXPECT_EQ(w.updater.m_StartButtonCaption, "Start");
  EXPECT_TRUE(w.updater.m_StartButtonEnabled);
  EXPECT_TRUE(w.updater.m_ComportComboBoxEnabled);
}

TEST(CodeUpdaterStart, ModalBoxesPauseTheReplyTimeout) {
  // A box opened from inside a wait: the close question during an update,
  // the about box during a Retrieve.
  Window w(AppAttributes(0, 6));
  auto& timer = *w.updater.m_CommTimer;
  bool enabledInBox = true;
  w.updater.EnterRunningState();
  timer.SetEnabled(true);
  w.host.onMessage = [&] { enabledInBox = timer.Enabled(); };
  w.host.answers.push_back(platform::MsgResult::No);
  EXPECT_FALSE(w.updater.FormCloseQuery());
  EXPECT_FALSE(enabledInBox);
  EXPECT_TRUE(timer.Enabled());  // a fresh count for the wait below
  w.updater.FinishRun();

  w.updater.m_Retrieving = true;
  enabledInBox = true;
  w.view.onAboutBox = [&] { enabledInBox = timer.Enabled(); };
  w.updater.m_HelpAboutMenuItemClick();
  EXPECT_EQ(w.view.aboutShown, 1);
  EXPECT_FALSE(enabledInBox);
  EXPECT_TRUE(timer.Enabled());
  // A stopped timer stays stopped.
  timer.SetEnabled(false);
  w.updater.m_HelpAboutMenuItemClick();
  EXPECT_FALSE(timer.Enabled());
}

TEST(CodeUpdaterStart, NothingStartsWhileARetrieveHoldsTheLink) {
  Window w(AppAttributes(0, 6));
  w.updater.m_Retrieving = true;
  w.host.passwords.push_back("gablers");
  w.updater.m_StartButtonClick();
  w.updater.m_RetrieveVersionInfoButtonClick();
  EXPECT_EQ(w.host.passwordPrompts, 0);
  EXPECT_EQ(w.updater.m_RunState, RunState::Idle);
  EXPECT_TRUE(w.host.messages.empty());
  EXPECT_EQ(w.discovery.listCalls, 1);  // no rescan to open a port
  // Closing ends the Retrieve's wait and needs no question.
  link::CommSetRunning(w.updater.m_Link, true);
  EXPECT_TRUE(w.updater.FormCloseQuery());
  EXPECT_TRUE(w.host.messages.empty());
  EXPECT_TRUE(w.updater.StopRequested());
  EXPECT_FALSE(link::CommIsRunning(w.updater.m_Link));
}

TEST(CodeUpdaterStart, StatusCallbackReachesTheHost) {
  Window w(AppAttributes(0, 6));
  platform::StatusTextCallback callback = &CodeUpdater::ShowStatusText;
  callback(&w.updater, "Erasing flash...");
  EXPECT_EQ(w.host.LastStatus(), "Erasing flash...");
}

}  // namespace
}  // namespace bcu::app
