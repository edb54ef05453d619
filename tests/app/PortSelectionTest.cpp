// The 64 port slots: filling, selection rule, and opening the link on them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include "app/CodeUpdater.h"
#include "link/ScpComPort.h"
#include "support/AppHost.h"
#include "support/AppRadio.h"
#include "support/FakeSerialDriver.h"
#include "transfer/VYXCommDeviceSerial.h"

namespace bcu::app {
namespace {

using platform::PortAccess;
using testing::AppAttributes;
using testing::AppFakeDiscovery;
using testing::AppRadio;
using testing::AppRecordingView;
using testing::AppResources;
using testing::AppTestHost;

struct Window {
  explicit Window(const ResourceAttributes& attributes, AppFakeDiscovery fake = {},
                  CodeUpdaterOptions options = {})
      : discovery(std::move(fake)),
        resources(AppResources(attributes)),
        updater(host, view, *resources, "bcu", discovery, std::move(options)) {}
  AppTestHost host;
  AppRecordingView view;
  AppFakeDiscovery discovery;
  std::unique_ptr<platform::MemoryResources> resources;
  CodeUpdater updater;
};

TEST(PortSlots, NamedPathsFirstThenSystemDevicesWithBoxSuffixes) {
  AppFakeDiscovery fake;
  fake.AddDevice("ttyS0");
  fake.AddDevice("ttyUSB0", "USB XIF VYX 6700");
  fake.AddDevice("ttyUSB1", "USB XIF VYX 6400", PortAccess::Busy);
  CodeUpdaterOptions options;
  options.extraDevicePaths = {"/tmp/virtual-radio"};
  fake.results["/tmp/virtual-radio"] = {PortAccess::Free, 0, 0, {}};
  Window w(AppAttributes(0, 6), fake, options);
  auto& u = w.updater;
  ASSERT_EQ(u.m_PortItems.size(), 64u);
  EXPECT_EQ(u.m_PortItems[0], "/tmp/virtual-radio");
  EXPECT_EQ(u.m_PortItems[1], "ttyS0");
  EXPECT_EQ(u.m_PortItems[2], "ttyUSB0 (6700 USB)");
  EXPECT_EQ(u.m_PortItems[3], "ttyUSB1 (6400 USB)");
  EXPECT_EQ(u.m_PortItems[4], "COM5");
  EXPECT_EQ(u.m_PortItems[63], "COM64");
  EXPECT_EQ(u.m_PortTable.DevicePath(1), "/tmp/virtual-radio");
  EXPECT_EQ(u.m_PortTable.DevicePath(3), "/dev/ttyUSB0");
  EXPECT_EQ(u.m_PortTable.DevicePath(5), "");
  EXPECT_EQ(u.m_UsbBoxKind[2], 2);
  EXPECT_EQ(u.m_UsbBoxKind[3], 1);
  EXPECT_EQ(u.m_UsbBoxKind[1], 0);
  // Present and free unless the open test failed; a busy box stays grey.
  EXPECT_EQ(u.m_PortPresent[0], 2);
  EXPECT_EQ(u.m_PortState[2], 2);
  EXPECT_EQ(u.m_PortPresent[3], 0);
  EXPECT_EQ(u.m_PortState[3], 0);
  EXPECT_EQ(u.m_PortPresent[4], 0);
  EXPECT_EQ(u.m_PortItemIndex, 0);
  EXPECT_TRUE(u.PortItemAvailable(0));
  EXPECT_FALSE(u.PortItemAvailable(3));
  u.m_ComportComboBoxEnabled = false;
  EXPECT_FALSE(u.PortItemAvailable(0));
}

TEST(PortSlots, NamedSystemDeviceIsListedOnceAndKeepsItsBox) {
  AppFakeDiscovery fake;
  fake.AddDevice("ttyUSB0", "USB XIF VYX 6400");
  fake.AddDevice("ttyUSB1");
  CodeUpdaterOptions options;
  options.extraDevicePaths = {"/dev/ttyUSB1", "/dev/ttyUSB0"};
  Window w(AppAttributes(0, 6), fake, options);
  EXPECT_EQ(w.updater.m_PortItems[0], "/dev/ttyUSB1");
  EXPECT_EQ(w.updater.m_PortItems[1], "/dev/ttyUSB0 (6400 USB)");
  EXPECT_EQ(w.updater.m_PortItems[2], "COM3");
}

TEST(PortSlots, NoPortPresentKeepsAnySelection) {
  AppFakeDiscovery fake;
  fake.AddDevice("ttyS0", "", PortAccess::NoPermission);
  Window w(AppAttributes(0, 6), fake);
  auto& u = w.updater;
  for (int i = 0; i < 64; ++i) EXPECT_EQ(u.m_PortPresent[static_cast<std::size_t>(i)], 0);
  EXPECT_EQ(u.m_PortTest[0].access, PortAccess::NoPermission);
  u.m_ComportComboBoxChange(17);
  EXPECT_EQ(u.m_PortItemIndex, 17);
  u.m_ComportComboBoxChange(0);
  EXPECT_EQ(u.m_PortItemIndex, 0);
  EXPECT_EQ(w.view.selectionChanged, 2);
}

TEST(PortSlots, GreySelectionMovesToFirstPresentPort) {
  AppFakeDiscovery fake;
  fake.AddDevice("ttyS0", "", PortAccess::Busy);
  fake.AddDevice("ttyS1", "", PortAccess::Missing);
  fake.AddDevice("ttyUSB0");
  fake.AddDevice("ttyUSB1");
  Window w(AppAttributes(0, 6), fake);
  auto& u = w.updater;
  u.m_ComportComboBoxChange(3);
  EXPECT_EQ(u.m_PortItemIndex, 3);
  u.m_ComportComboBoxChange(40);
  EXPECT_EQ(u.m_PortItemIndex, 2);
  u.m_ComportComboBoxChange(0);
  EXPECT_EQ(u.m_PortItemIndex, 2);
  u.m_ComportComboBoxChange(64);  // no such item: nothing changes
  EXPECT_EQ(u.m_PortItemIndex, 2);
}

TEST(PortSlots, RescanKeepsSelectionAndShowsWaitCursor) {
  AppFakeDiscovery fake;
  fake.AddDevice("ttyUSB0");
  fake.AddDevice("ttyUSB1");
  Window w(AppAttributes(0, 6), fake);
  w.updater.m_ComportComboBoxChange(1);
  w.discovery.devices[0].product = "USB XIF VYX 6400";
  w.updater.m_UpdateCOMPortsMenuItemClick();
  EXPECT_EQ(w.updater.m_PortItemIndex, 1);
  EXPECT_EQ(w.updater.m_PortItems[0], "ttyUSB0 (6400 USB)");
  EXPECT_EQ(w.view.waitCursor, (std::vector<bool>{true, false}));
  EXPECT_EQ(w.view.portListChanged, 1);
}

// The choice is a device, not a slot number: an adapter plugged in or out
// between the choice and Start moves the others to other slots.
TEST(PortSlots, StartOpensTheChosenDeviceWhereverTheRescanPutsIt) {
  AppRadio radio, otherAdapter;
  const platform::SerialDeviceInfo chosen{radio.Path(), "ttyUSB1", ""};
  const platform::SerialDeviceInfo other{otherAdapter.Path(), "ttyUSB0", ""};
  AppFakeDiscovery fake;
  fake.devices = {other, chosen};
  Window w(AppAttributes(0, 6), fake);
  auto& u = w.updater;
  u.m_ComportComboBoxChange(1);
  const auto openedPath = [&] {
    return u.m_Link.serialDevice ? u.m_Link.serialDevice->Port().GetPortName() : std::string();
  };

  w.discovery.devices = {chosen};  // the other adapter is unplugged
  ASSERT_TRUE(u.OpenSelectedPort(true));
  EXPECT_EQ(openedPath(), radio.Path());
  EXPECT_EQ(u.m_PortItemIndex, 0);
  u.ReleasePort();

  w.discovery.devices = {other, chosen};  // and plugged in again
  ASSERT_TRUE(u.OpenSelectedPort(true));
  EXPECT_EQ(openedPath(), radio.Path());
  EXPECT_EQ(u.m_PortItemIndex, 1);
  u.ReleasePort();

  // The menu's rescan keeps it as well.
  w.discovery.devices = {chosen};
  u.m_UpdateCOMPortsMenuItemClick();
  EXPECT_EQ(u.m_PortItemIndex, 0);
  EXPECT_EQ(u.m_PortItems[0], "ttyUSB1");
  w.discovery.devices = {other, chosen};
  u.m_UpdateCOMPortsMenuItemClick();
  EXPECT_EQ(u.m_PortItemIndex, 1);

  // Gone: refused, and no other device is opened in its place.
  w.discovery.devices = {other};
  EXPECT_FALSE(u.OpenSelectedPort(true));
  EXPECT_EQ(openedPath(), "");
  ASSERT_EQ(w.host.messages.size(), 1u);
  EXPECT_EQ(w.host.messages[0].text, "Selected COM port is in use or not available.");
  u.ReleasePort();
  EXPECT_TRUE(w.host.statuses.empty());
}

TEST(PortSlots, ListFailureStillOffersNamedPorts) {
  AppFakeDiscovery fake;
  fake.listFails = true;
  CodeUpdaterOptions options;
  options.extraDevicePaths = {"/tmp/radio"};
  fake.results["/tmp/radio"] = {PortAccess::Free, 0, 0, {}};
  Window w(AppAttributes(0, 6), fake, options);
  EXPECT_EQ(w.updater.m_PortItems.size(), 64u);
  EXPECT_EQ(w.updater.m_PortItems[0], "/tmp/radio");
  EXPECT_EQ(w.updater.m_PortPresent[0], 2);
  EXPECT_EQ(w.updater.m_PortItems[1], "COM2");
}

TEST(PortSlots, ProcessorCountIsInjectable) {
  CodeUpdaterOptions one;
  one.processorCount = [] { return 1u; };
  EXPECT_FALSE(Window(AppAttributes(1, 6), {}, one).updater.HasMultipleProcessors());
  CodeUpdaterOptions two;
  two.processorCount = [] { return 2u; };
  EXPECT_TRUE(Window(AppAttributes(1, 6), {}, two).updater.HasMultipleProcessors());
}

// ---- Opening the link ----

TEST(PortOpen, LinkFailureShowsItsTextAndFreesThePort) {
  // The scan found the port, but it is gone when the link opens it.
  for (std::uint8_t family : {0, 1}) {
    AppFakeDiscovery fake;
    CodeUpdaterOptions options;
    options.extraDevicePaths = {"/dev/vanished-radio"};
    fake.results["/dev/vanished-radio"] = {PortAccess::Free, 0, 0, {}};
    options.processorCount = [] { return 1u; };
    Window w(AppAttributes(family, 6), fake, options);
    EXPECT_FALSE(w.updater.OpenSelectedPort(true));
    ASSERT_EQ(w.host.messages.size(), 1u) << int(family);
    EXPECT_EQ(w.host.messages[0].text, "Unable to start communication: COM port error");
    EXPECT_EQ(w.host.messages[0].caption, "COM Port");
    EXPECT_EQ(w.updater.m_PortState[0], 2);
    EXPECT_EQ(w.updater.m_Link.serialDevice, nullptr);
    EXPECT_FALSE(w.updater.m_Link.useComPort);
  }
}

struct RadioWindow {
  explicit RadioWindow(const ResourceAttributes& attributes, unsigned processors = 1,
                       platform::SerialDriver* driver = nullptr)
      : resources(AppResources(attributes)),
        updater(host, view, *resources, "bcu", discovery, Options(processors, driver)) {}
  CodeUpdaterOptions Options(unsigned processors, platform::SerialDriver* driver) {
    CodeUpdaterOptions options;
    options.extraDevicePaths = {radio.Path()};
    options.processorCount = [processors] { return processors; };
    options.serialDriver = driver;
    return options;
  }
  AppRadio radio;
  // Unscaled: the probe's 500 ms let the radio read the probe before the
  // device is closed (closing flushes what the radio has not read yet).
  AppTestHost host{1.0};
  AppRecordingView view;
  AppFakeDiscovery discovery;
  std::unique_ptr<platform::MemoryResources> resources;
  CodeUpdater updater;
};

TEST(PortOpen, BusyPortIsRefusedAtTheScan) {
  RadioWindow w(AppAttributes(0, 6));
  const int holder = ::open(w.radio.Path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(w.updater.OpenSelectedPort(true));
  ASSERT_EQ(w.host.messages.size(), 1u);
  EXPECT_EQ(w.host.messages[0].text, "Selected COM port is in use or not available.");
  EXPECT_EQ(w.host.messages[0].caption, "COM Port");
  EXPECT_EQ(w.host.messages[0].icon, platform::MsgIcon::Error);
  ::close(holder);
  w.updater.ReleasePort();
  EXPECT_EQ(w.updater.m_PortState[0], 2);
}

TEST(PortOpen, PortableOpensTheSerialDeviceWithoutProbing) {
  RadioWindow w(AppAttributes(0, 6), 4);
  ASSERT_TRUE(w.updater.OpenSelectedPort(true));
  EXPECT_EQ(w.updater.m_PortState[0], 1);
  EXPECT_FALSE(w.updater.m_Link.useComPort);
  EXPECT_NE(w.updater.m_Link.serialDevice, nullptr);
  EXPECT_TRUE(link::CommIsRunning(w.updater.m_Link));
  EXPECT_EQ(w.updater.m_Link.framed, 1);
  w.updater.ReleasePort();
  EXPECT_EQ(w.updater.m_Link.serialDevice, nullptr);
  EXPECT_EQ(w.updater.m_PortState[0], 2);
  // The update form asks the radio for 115,200 baud (09 00 05).
  ASSERT_TRUE(w.updater.OpenSelectedPort(false));
  ASSERT_TRUE(w.radio.WaitForFrames(1));
  w.updater.ReleasePort();
  EXPECT_EQ(w.radio.ProbesSeen(), 0);
  const auto frames = w.radio.Received();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], (std::vector<std::uint8_t>{0x09, 0x00, 0x05}));
  EXPECT_TRUE(w.host.messages.empty());
}

TEST(PortOpen, MobileWithBoxStaysOnTheSerialDevice) {
  RadioWindow w(AppAttributes(1, 6), 8);
  w.radio.SetBox(true);
  ASSERT_TRUE(w.updater.OpenSelectedPort(false));
  EXPECT_FALSE(w.updater.m_Link.useComPort);
  ASSERT_TRUE(w.radio.WaitForFrames(2));
  w.updater.ReleasePort();
  EXPECT_EQ(w.radio.ProbesSeen(), 1);
  EXPECT_EQ(w.radio.Count(0x09, 0x00), 1);
  // Retrieve keeps 19,200 baud.
  ASSERT_TRUE(w.updater.OpenSelectedPort(true));
  ASSERT_TRUE(w.radio.WaitForFrames(3));
  w.updater.ReleasePort();
  EXPECT_EQ(w.radio.ProbesSeen(), 2);
  EXPECT_EQ(w.radio.Count(0x09, 0x00), 1);
}

TEST(PortOpen, MobilePlatform1WithBoxKeepsTheSpeed) {
  RadioWindow w(AppAttributes(1, 6, 0), 8);
  ASSERT_EQ(w.updater.m_PlatformCode, 1);
  w.radio.SetBox(true);
  ASSERT_TRUE(w.updater.OpenSelectedPort(false));
  ASSERT_TRUE(w.radio.WaitForFrames(1));
  w.updater.ReleasePort();
  EXPECT_EQ(w.radio.ProbesSeen(), 1);
  EXPECT_EQ(w.radio.Count(0x09, 0x00), 0);
}

TEST(PortOpen, MobileWithoutBoxIsRefusedOnSeveralProcessors) {
  RadioWindow w(AppAttributes(1, 6), 2);
  EXPECT_FALSE(w.updater.OpenSelectedPort(true));
  // The probe cannot tell a missing cable from a radio without its box: the
  // status line names the port where nothing answered.
  ASSERT_EQ(w.host.statuses.size(), 1u);
  EXPECT_EQ(w.host.statuses[0], "No interface box answered on " + w.radio.Path() + ".");
  ASSERT_EQ(w.host.messages.size(), 1u);
  EXPECT_EQ(w.host.messages[0].text,
            "Brisant Code Updater will not work with the current configuration.\n\n"
            "Either connect to the radio using XIF Box 047-6700-009 (which can\n"
            "be purchased from Corvane), or use a computer that does not\n"
            "have a multi-core processor or hyperthreading enabled.");
  EXPECT_EQ(w.host.messages[0].caption, "COM Port");
  // The probe's device stays open until the port is released.
  EXPECT_NE(w.updater.m_Link.serialDevice, nullptr);
  w.updater.ReleasePort();
  EXPECT_EQ(w.updater.m_Link.serialDevice, nullptr);
  EXPECT_EQ(w.updater.m_PortState[0], 2);
}

TEST(PortOpen, MobileWithoutBoxFallsBackToTheComponent) {
  RadioWindow w(AppAttributes(1, 6), 1);
  ASSERT_TRUE(w.updater.OpenSelectedPort(false));
  EXPECT_TRUE(w.updater.m_Link.useComPort);
  ASSERT_TRUE(w.updater.ScpComPort);
  EXPECT_TRUE(w.updater.ScpComPort->RS485Mode());
  EXPECT_EQ(w.updater.ScpComPort->ComNumber(), 1);
  ASSERT_TRUE(w.radio.WaitForFrames(2));
  w.updater.ReleasePort();
  EXPECT_EQ(w.radio.ProbesSeen(), 2);  // no box: asked twice
  const auto frames = w.radio.Received();
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.back(), (std::vector<std::uint8_t>{0x09, 0x00, 0x05}));
  EXPECT_TRUE(w.host.messages.empty());
}

// Where the port's driver switches RS-485 itself, turning the bus around
// does not depend on how busy the processors are: the component is used as
// on a single-processor machine.
TEST(PortOpen, MobileWithoutBoxUsesTheDriversRs485OnSeveralProcessors) {
  test::FakeSerialDriver driver;
  driver.modemLines = true;
  driver.kernelRs485 = true;
  RadioWindow w(AppAttributes(1, 6), 8, &driver);
  ASSERT_TRUE(w.updater.OpenSelectedPort(false));
  EXPECT_TRUE(w.updater.m_Link.useComPort);
  ASSERT_TRUE(w.updater.ScpComPort);
  EXPECT_TRUE(w.updater.ScpComPort->KernelRS485());
  EXPECT_TRUE(driver.Rs485Enabled());
  EXPECT_TRUE(w.host.messages.empty());
  EXPECT_TRUE(w.host.statuses.empty());
  w.updater.ReleasePort();
  ASSERT_TRUE(w.radio.WaitForFrames(2));
  EXPECT_EQ(w.radio.ProbesSeen(), 2);  // no box: asked twice
  EXPECT_EQ(w.radio.Received().back(), (std::vector<std::uint8_t>{0x09, 0x00, 0x05}));
  EXPECT_FALSE(driver.Rs485Enabled());
}

TEST(PortOpen, RefusedPriorityForRs485SwitchingIsShown) {
  test::FakeSerialDriver driver;
  driver.modemLines = true;
  driver.refusePriority = EPERM;
  RadioWindow w(AppAttributes(1, 6), 1, &driver);
  ASSERT_TRUE(w.updater.OpenSelectedPort(true));
  EXPECT_TRUE(w.updater.ScpComPort->RtsByOutputThread());
  ASSERT_EQ(w.host.statuses.size(), 1u);
  EXPECT_EQ(w.host.statuses[0], "Note: RS-485 switching on " + w.radio.Path() +
                                    " runs at normal priority (a higher one was not permitted).");
  w.updater.ReleasePort();
}

TEST(PortOpen, MobileFallbackForPlatform1AndForRetrieve) {
  {
    RadioWindow w(AppAttributes(1, 6, 0), 1);
    ASSERT_TRUE(w.updater.OpenSelectedPort(false));
    // The radio reads what was sent before the port closes: a close flushes
    // what it has not read yet, and a busy machine may not have run it.
    ASSERT_TRUE(w.radio.WaitForFrames(2));
    w.updater.ReleasePort();
    const auto frames = w.radio.Received();
    ASSERT_FALSE(frames.empty());
    // Platform 1 is told to stay at 19,200 baud.
    EXPECT_EQ(frames.back(), (std::vector<std::uint8_t>{0x09, 0x00, 0x01}));
  }
  {
    RadioWindow w(AppAttributes(1, 6), 1);
    ASSERT_TRUE(w.updater.OpenSelectedPort(true));
    ASSERT_TRUE(w.radio.WaitForFrames(1));
    w.updater.ReleasePort();
    EXPECT_EQ(w.radio.Count(0x09, 0x00), 0);
  }
}

}  // namespace
}  // namespace bcu::app
