// Retrieve, the target check and the boot checks against a scripted radio.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include "app/CodeUpdater.h"
#include "link/ScpComPort.h"
#include "support/AppHost.h"
#include "support/AppRadio.h"

namespace bcu::app {
namespace {

using testing::AppAttributes;
using testing::AppFakeDiscovery;
using testing::AppRadio;
using testing::AppRecordingView;
using testing::AppResources;
using testing::AppTestHost;

struct RadioWindow {
  explicit RadioWindow(const ResourceAttributes& attributes)
      : resources(AppResources(attributes)),
        updater(host, view, *resources, "bcu", discovery, Options()) {
    // Mobile updaters reach the radio through an interface box here.
    radio.SetBox(true);
  }
  CodeUpdaterOptions Options() {
    CodeUpdaterOptions options = testing::AppOptions();
    options.extraDevicePaths = {radio.Path()};
    options.processorCount = [] { return 4u; };
    return options;
  }
  void Open() { ASSERT_TRUE(updater.OpenSelectedPort(true)); }
  AppRadio radio;
  AppTestHost host;
  AppRecordingView view;
  AppFakeDiscovery discovery;
  std::unique_ptr<platform::MemoryResources> resources;
  CodeUpdater updater;
};

constexpr std::uint8_t kInfo[23] = {5,    9,    2,    1,    7,    4,    0,    12, 3, 1, 0, 0x00,
                                    0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70, 6,  3, 1, 2};

TEST(Retrieve, PortablePanelWithSemVersion) {
  RadioWindow w(AppAttributes(0, 6));
  w.radio.AnswerVersionInfo(kInfo);
  w.updater.m_RetrieveVersionInfoButtonClick();
  const auto& p = w.updater.m_VersionPanel;
  EXPECT_EQ(p.FileVersionLabel, "5.9");
  EXPECT_EQ(p.DSPVersionLabel, "2.1.7");
  EXPECT_EQ(p.HWControllerVersionHeadingLabel, "Controller Version:");
  EXPECT_EQ(p.HWControllerVersionLabel, "4.0.12");
  EXPECT_EQ(p.HWRevisionLabel, "Not Applicable");
  EXPECT_EQ(p.SerialNumberLabel, "00-1A-2B-3C-4D-5E-6F-70");
  EXPECT_EQ(p.BootLoadVersionLabel, "6.3");
  EXPECT_EQ(p.SEMVersionLabel, "1.2");
  EXPECT_EQ(w.view.panelChanged, 1);
  EXPECT_TRUE(w.host.messages.empty());
  EXPECT_TRUE(w.updater.m_RetrieveVersionInfoButtonEnabled);
  // The link was released and never left 19,200 baud.
  EXPECT_EQ(w.updater.m_Link.serialDevice, nullptr);
  EXPECT_EQ(w.updater.m_PortState[0], 2);
  EXPECT_EQ(w.radio.Count(0x09, 0x00), 0);
  EXPECT_EQ(w.radio.Count(0x04, 0x3E), 1);
}

TEST(Retrieve, Platform7WithoutBootInformation) {
  RadioWindow w(AppAttributes(1, 4, 1));
  ASSERT_EQ(w.updater.m_PlatformCode, 7);
  w.radio.AnswerVersionInfo(kInfo);
  w.radio.Forget(0x04, 0x2D);
  w.updater.m_RetrieveVersionInfoButtonClick();
  const auto& p = w.updater.m_VersionPanel;
  EXPECT_EQ(p.HWRevisionLabel, "3.1.0");
  EXPECT_EQ(p.BootLoadVersionLabel, "Not Applicable");
  // The boot wait ran out, so the SEM request that follows ends at once: the
  // read reports 8 and the panel is still filled.
  EXPECT_EQ(p.SEMVersionLabel, "Not Applicable");
  EXPECT_EQ(w.view.panelChanged, 1);
  EXPECT_TRUE(w.host.messages.empty());
}

TEST(Retrieve, SilentRadioShowsTheCommunicationMessage) {
  RadioWindow w(AppAttributes(0, 6));
  w.updater.m_RetrieveVersionInfoButtonClick();
  ASSERT_EQ(w.host.messages.size(), 1u);
  EXPECT_EQ(w.host.messages[0].text, "Communication error while retrieving version information.");
  EXPECT_EQ(w.host.messages[0].caption, "Communication");
  EXPECT_EQ(w.host.messages[0].icon, platform::MsgIcon::Error);
  EXPECT_EQ(w.view.panelChanged, 0);
  EXPECT_EQ(w.updater.m_VersionPanel.HWControllerVersionHeadingLabel, "HC08 Software Version:");
  EXPECT_TRUE(w.updater.m_RetrieveVersionInfoButtonEnabled);
  EXPECT_EQ(w.updater.m_Link.serialDevice, nullptr);
}

TEST(Retrieve, PortThatCannotBeOpenedShowsOnlyThePortMessage) {
  RadioWindow w(AppAttributes(0, 6));
  w.radio.AnswerVersionInfo(kInfo);
  const int holder = ::open(w.radio.Path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  w.updater.m_RetrieveVersionInfoButtonClick();
  ::close(holder);
  ASSERT_EQ(w.host.messages.size(), 1u);
  EXPECT_EQ(w.host.messages[0].text, "Selected COM port is in use or not available.");
  EXPECT_EQ(w.view.panelChanged, 0);
  EXPECT_EQ(w.updater.m_VersionPanel.FileVersionLabel, "");
  EXPECT_EQ(w.updater.m_PortState[0], 2);
}

TEST(TargetCheck, MobileSeries4PassesBoot4AndRefusesBoot6) {
  RadioWindow w(AppAttributes(1, 4, 1));
  w.Open();
  w.radio.Answer(0x04, 0x2D, {0x04, 0x2E, 4, 2});
  EXPECT_TRUE(w.updater.CheckTargetRadio());
  EXPECT_TRUE(w.host.messages.empty());

  link::CommSetRunning(w.updater.m_Link, true);
  w.radio.Answer(0x04, 0x2D, {0x04, 0x2E, 6, 0});
  w.host.progress.SetPosition(40);
  EXPECT_FALSE(w.updater.CheckTargetRadio());
  ASSERT_EQ(w.host.messages.size(), 1u);
  EXPECT_EQ(w.host.messages[0].text,
            "This version of Brisant Code Updater does not match the radio series.\n"
            "Radio requires a 6700_Series_6 version of Brisant Code Updater.");
  EXPECT_EQ(w.host.messages[0].caption, "Brisant Code Updater");
  EXPECT_EQ(w.host.messages[0].icon, platform::MsgIcon::Error);
  EXPECT_EQ(w.host.LastStatus(), "Idle");
  EXPECT_EQ(w.host.progress.Position(), 0);
  w.updater.ReleasePort();
}

TEST(TargetCheck, Boot7PassesTheSeriesComparisonWhenPlatformsAgree) {
  {
    RadioWindow w(AppAttributes(0, 4));  // platform 6
    w.Open();
    w.radio.Answer(0x04, 0x2D, {0x04, 0x2E, 7, 1});
    EXPECT_TRUE(w.updater.CheckTargetRadio());
    EXPECT_TRUE(w.host.messages.empty());
  }
  {
    RadioWindow w(AppAttributes(0, 6));  // platform 0: boot 7 is platform 6
    w.Open();
    w.radio.Answer(0x04, 0x2D, {0x04, 0x2E, 7, 1});
    EXPECT_FALSE(w.updater.CheckTargetRadio());
    ASSERT_EQ(w.host.messages.size(), 1u);
    EXPECT_NE(w.host.messages[0].text.find("Radio requires a 6400_Series_7 version"),
              std::string::npos);
  }
}

TEST(TargetCheck, NoBootInformationAndSilence) {
  {
    RadioWindow w(AppAttributes(1, 4, 1));  // platform 7 allows a missing boot reply
    w.Open();
    EXPECT_TRUE(w.updater.CheckTargetRadio());
    EXPECT_EQ(w.host.LastStatus(), "No Boot Info.");
  }
  {
    RadioWindow w(AppAttributes(0, 6));
    w.Open();
    EXPECT_FALSE(w.updater.CheckTargetRadio());
    EXPECT_EQ(w.host.LastStatus(), "Communication error while trying to check target radio.");
    EXPECT_TRUE(w.host.messages.empty());
  }
}

// A radio that answers the boot query with 04 20 has no boot information: it
// is never taken for boot version 0.0 and refused as another series.
TEST(TargetCheck, NotAvailableBootAnswerIsNoBootInformation) {
  {
    RadioWindow w(AppAttributes(1, 4, 1));  // platform 7
    w.radio.Answer(0x04, 0x2D, {0x04, 0x20});
    w.Open();
    EXPECT_TRUE(w.updater.CheckTargetRadio());
    EXPECT_EQ(w.host.LastStatus(), "No Boot Info.");
    EXPECT_TRUE(w.host.messages.empty());
  }
  {
    RadioWindow w(AppAttributes(0, 6));  // platform 0 needs a boot version
    w.radio.Answer(0x04, 0x2D, {0x04, 0x20});
    w.Open();
    EXPECT_FALSE(w.updater.CheckTargetRadio());
    EXPECT_EQ(w.host.LastStatus(), "Communication error while trying to check target radio.");
    EXPECT_TRUE(w.host.messages.empty());
  }
}

TEST(TargetCheck, OldMobilePlatformSkipsEveryExchange) {
  RadioWindow w(AppAttributes(1, 6, 0));
  ASSERT_EQ(w.updater.m_PlatformCode, 1);
  w.Open();
  ASSERT_TRUE(w.radio.WaitForFrames(1));  // the probe
  EXPECT_TRUE(w.updater.CheckTargetRadio());
  EXPECT_TRUE(w.updater.CheckBootVersion());
  w.updater.ReleasePort();
  EXPECT_TRUE(w.radio.Received().empty());
  EXPECT_TRUE(w.host.statuses.empty());
}

TEST(BootCheck, ManualBootUpdateDecisions) {
  auto attributes = AppAttributes(0, 6);  // boot line 6.2
  attributes.SecondBootMajor = 7;
  attributes.SecondBootMinor = 4;
  RadioWindow w(attributes);
  w.Open();
  const std::string current = "The boot version is current and does not need to be upgraded.";
  w.radio.Answer(0x04, 0x2D, {0x04, 0x2E, 6, 2});
  EXPECT_FALSE(w.updater.CheckBootVersion());
  EXPECT_EQ(w.host.LastStatus(), current);
  w.radio.Answer(0x04, 0x2D, {0x04, 0x2E, 6, 1});
  EXPECT_TRUE(w.updater.CheckBootVersion());
  EXPECT_FALSE(w.updater.m_UseSecondBoot);
  w.radio.Answer(0x04, 0x2D, {0x04, 0x2E, 7, 3});
  EXPECT_TRUE(w.updater.CheckBootVersion());
  EXPECT_TRUE(w.updater.m_UseSecondBoot);
  w.radio.Answer(0x04, 0x2D, {0x04, 0x2E, 7, 4});
  w.host.statuses.clear();
  EXPECT_FALSE(w.updater.CheckBootVersion());
  EXPECT_TRUE(w.updater.m_UseSecondBoot);
  EXPECT_EQ(w.host.LastStatus(), current);
  w.radio.Answer(0x04, 0x2D, {0x04, 0x2E, 5, 0});
  EXPECT_FALSE(w.updater.CheckBootVersion());
  EXPECT_FALSE(w.updater.m_UseSecondBoot);
  EXPECT_EQ(w.host.LastStatus(),
            "Error: the major boot versions of the radio and file are different.");
  w.radio.Forget(0x04, 0x2D);
  EXPECT_FALSE(w.updater.CheckBootVersion());
  EXPECT_EQ(w.host.LastStatus(), "Communication error while trying to retrieve boot version.");
}

TEST(BootCheck, AutomaticUpdateFlags) {
  RadioWindow w(AppAttributes(0, 6, 1, kUpgradeApplicationBoot));  // boot line 6.2
  w.Open();
  bool majorDiffers = true, commError = true, kindMismatch = true;

  // The radio does not answer 04 67: the update goes on, the link running.
  w.radio.Answer(0x04, 0x2D, {0x04, 0x2E, 6, 1});
  EXPECT_TRUE(w.updater.CheckBootForAutoUpdate(majorDiffers, commError, kindMismatch));
  EXPECT_FALSE(majorDiffers || commError || kindMismatch);
  EXPECT_TRUE(link::CommIsRunning(w.updater.m_Link));
  ASSERT_TRUE(w.radio.WaitForFrames(2));  // 04 2D, 04 67
  EXPECT_EQ(w.radio.Count(0x04, 0x67), 1);

  // A portable radio answers 1: current boot code needs nothing.
  w.radio.Answer(0x04, 0x67, {0x04, 0x68, 1});
  w.radio.Answer(0x04, 0x2D, {0x04, 0x2E, 6, 2});
  EXPECT_FALSE(w.updater.CheckBootForAutoUpdate(majorDiffers, commError, kindMismatch));
  EXPECT_FALSE(majorDiffers || commError || kindMismatch);

  // A mobile radio on a portable updater.
  w.radio.Answer(0x04, 0x67, {0x04, 0x68, 0});
  w.radio.Answer(0x04, 0x2D, {0x04, 0x2E, 6, 1});
  EXPECT_FALSE(w.updater.CheckBootForAutoUpdate(majorDiffers, commError, kindMismatch));
  EXPECT_TRUE(kindMismatch);
  EXPECT_FALSE(majorDiffers || commError);

  link::CommSetRunning(w.updater.m_Link, true);
  w.radio.Answer(0x04, 0x2D, {0x04, 0x2E, 4, 1});
  EXPECT_FALSE(w.updater.CheckBootForAutoUpdate(majorDiffers, commError, kindMismatch));
  EXPECT_TRUE(majorDiffers);
  EXPECT_FALSE(commError || kindMismatch);

  w.radio.Forget(0x04, 0x2D);
  EXPECT_FALSE(w.updater.CheckBootForAutoUpdate(majorDiffers, commError, kindMismatch));
  EXPECT_TRUE(commError);
  EXPECT_FALSE(majorDiffers || kindMismatch);
  w.updater.ReleasePort();
}

TEST(BootCheck, RadioKindQuery) {
  RadioWindow w(AppAttributes(1, 6));
  w.Open();
  bool mismatch = true;
  EXPECT_FALSE(w.updater.QueryRadioKind(0, mismatch));
  EXPECT_FALSE(mismatch);
  link::CommSetRunning(w.updater.m_Link, true);
  w.radio.Answer(0x04, 0x67, {0x04, 0x68, 0});
  EXPECT_TRUE(w.updater.QueryRadioKind(0, mismatch));
  EXPECT_FALSE(mismatch);
  w.radio.Answer(0x04, 0x67, {0x04, 0x68, 1});
  EXPECT_FALSE(w.updater.QueryRadioKind(0, mismatch));
  EXPECT_TRUE(mismatch);
  // Another reply is no answer.
  w.radio.Answer(0x04, 0x67, {0x04, 0x20});
  EXPECT_FALSE(w.updater.QueryRadioKind(0, mismatch));
  EXPECT_FALSE(mismatch);
  w.updater.ReleasePort();
}

}  // namespace
}  // namespace bcu::app
