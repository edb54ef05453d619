// The window's logic against the virtual radio on a pseudo-terminal.
#include <gtest/gtest.h>

#include <thread>

#include "app/CodeUpdater.h"
#include "sim/PtyRadio.h"
#include "support/AppHost.h"

namespace bcu::app {
namespace {

using testing::AppAttributes;
using testing::AppFakeDiscovery;
using testing::AppRecordingView;
using testing::AppResources;
using testing::AppTestHost;

struct SimWindow {
  SimWindow(const ResourceAttributes& attributes, sim::RadioConfig config)
      : radio(config, 0.1), resources(AppResources(attributes)) {
    std::string error;
    started = radio.Start(&error);
    CodeUpdaterOptions options = testing::AppOptions();
    options.extraDevicePaths = {radio.DevicePath()};
    options.processorCount = [] { return 2u; };
    updater = std::make_unique<CodeUpdater>(host, view, *resources, "bcu", discovery, options);
  }
  sim::PtyRadio radio;
  bool started = false;
  AppTestHost host;
  AppRecordingView view;
  AppFakeDiscovery discovery;
  std::unique_ptr<platform::MemoryResources> resources;
  std::unique_ptr<CodeUpdater> updater;
};

TEST(VirtualRadio, MobileSeries4PanelAndTargetCheck) {
  sim::RadioConfig config;  // a mobile series 4 radio behind an interface box
  SimWindow w(AppAttributes(1, 4, 1), config);
  ASSERT_TRUE(w.started);
  auto& u = *w.updater;
  ASSERT_EQ(u.m_PlatformCode, 7);
  u.m_RetrieveVersionInfoButtonClick();
  ASSERT_TRUE(w.host.messages.empty()) << w.host.messages[0].text;
  const auto& p = u.m_VersionPanel;
  EXPECT_EQ(p.FileVersionLabel, "5.9");
  EXPECT_EQ(p.DSPVersionLabel, "3.2.1");
  EXPECT_EQ(p.HWControllerVersionHeadingLabel, "Controller Version:");
  EXPECT_EQ(p.HWControllerVersionLabel, "4.3.0");
  EXPECT_EQ(p.HWRevisionLabel, "1.4.0");
  EXPECT_EQ(p.SerialNumberLabel, "00-1A-2B-3C-4D-5E-6F-70");
  EXPECT_EQ(p.BootLoadVersionLabel, "4.1");
  EXPECT_EQ(p.SEMVersionLabel, "1.2");

  ASSERT_TRUE(u.OpenSelectedPort(true));
  EXPECT_TRUE(u.CheckTargetRadio());
  u.ReleasePort();
}

TEST(VirtualRadio, PortableSeries6WithoutSemOrKindAnswer) {
  sim::RadioConfig config;
  config.family = sim::RadioFamily::kPortable;
  config.bootVersion = {6, 1};
  config.hasSem = false;
  config.answersKindQuery = false;
  config.boxPresent = false;
  SimWindow w(AppAttributes(0, 6, 1, kUpgradeApplicationBoot), config);
  ASSERT_TRUE(w.started);
  auto& u = *w.updater;
  ASSERT_EQ(u.m_PlatformCode, 0);
  ASSERT_TRUE(u.m_AutoBootUpdate);
  u.m_RetrieveVersionInfoButtonClick();
  ASSERT_TRUE(w.host.messages.empty()) << w.host.messages[0].text;
  EXPECT_EQ(u.m_VersionPanel.HWRevisionLabel, "Not Applicable");
  EXPECT_EQ(u.m_VersionPanel.BootLoadVersionLabel, "6.1");
  EXPECT_EQ(u.m_VersionPanel.SEMVersionLabel, "Not Applicable");

  // Boot 6.1 against the carried 6.2, and no answer to 04 67: boot code is
  // due and the update goes on.
  ASSERT_TRUE(u.OpenSelectedPort(true));
  bool majorDiffers = false, commError = false, kindMismatch = false;
  EXPECT_TRUE(u.CheckBootForAutoUpdate(majorDiffers, commError, kindMismatch));
  EXPECT_FALSE(majorDiffers || commError || kindMismatch);
  EXPECT_TRUE(u.CheckTargetRadio());
  u.ReleasePort();
}

TEST(VirtualRadio, MobileWithoutBoxOnSeveralProcessorsIsRefused) {
  sim::RadioConfig config;
  config.boxPresent = false;
  SimWindow w(AppAttributes(1, 4, 1), config);
  ASSERT_TRUE(w.started);
  w.updater->m_RetrieveVersionInfoButtonClick();
  ASSERT_EQ(w.host.messages.size(), 1u);
  EXPECT_EQ(w.host.messages[0].caption, "COM Port");
  EXPECT_EQ(w.updater->m_VersionPanel.FileVersionLabel, "");
}

TEST(VirtualRadio, TwoWindowsInTwoThreadsKeepTheirRadiosApart) {
  sim::RadioConfig first;
  first.serialNumber = {1, 1, 1, 1, 1, 1, 1, 1};
  sim::RadioConfig second;
  second.serialNumber = {2, 2, 2, 2, 2, 2, 2, 2};
  second.bootVersion = {4, 2};
  SimWindow a(AppAttributes(1, 4, 1), first);
  SimWindow b(AppAttributes(1, 4, 1), second);
  ASSERT_TRUE(a.started && b.started);
  auto retrieveTwice = [](SimWindow& w) {
    for (int i = 0; i < 2; ++i) w.updater->m_RetrieveVersionInfoButtonClick();
  };
  std::thread other([&] { retrieveTwice(b); });
  retrieveTwice(a);
  other.join();
  EXPECT_TRUE(a.host.messages.empty());
  EXPECT_TRUE(b.host.messages.empty());
  EXPECT_EQ(a.updater->m_VersionPanel.SerialNumberLabel, "01-01-01-01-01-01-01-01");
  EXPECT_EQ(b.updater->m_VersionPanel.SerialNumberLabel, "02-02-02-02-02-02-02-02");
  EXPECT_EQ(a.updater->m_VersionPanel.BootLoadVersionLabel, "4.1");
  EXPECT_EQ(b.updater->m_VersionPanel.BootLoadVersionLabel, "4.2");
  EXPECT_EQ(a.view.panelChanged, 2);
  EXPECT_EQ(b.view.panelChanged, 2);
}

}  // namespace
}  // namespace bcu::app
