// Box recognition, the friendly-name parser, device ordering and the open
// test of a port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/PortDiscovery.h"

namespace bcu::platform {
namespace {

TEST(PortNames, BoxKindFromText) {
  EXPECT_EQ(UsbBoxKindFromText("USB XIF VYX 6400"), 1);
  EXPECT_EQ(UsbBoxKindFromText("USB XIF VYX 6700 (COM12)"), 2);
  EXPECT_EQ(UsbBoxKindFromText("Corvane USB XIF VYX 6400 rev B"), 1);
  EXPECT_EQ(UsbBoxKindFromText("USB XIF VYX 6500"), 0);
  EXPECT_EQ(UsbBoxKindFromText("FT232R USB UART"), 0);
  EXPECT_EQ(UsbBoxKindFromText(""), 0);
}

TEST(PortNames, FriendlyNameParser) {
  EXPECT_EQ(ComNumberFromFriendlyName("USB XIF VYX 6700 (COM12)"), 12);
  EXPECT_EQ(ComNumberFromFriendlyName("USB XIF VYX 6400 (COM1)"), 1);
  EXPECT_EQ(ComNumberFromFriendlyName("USB XIF VYX 6400 (COM64)"), 64);
  // Without the closing parenthesis nothing is read.
  EXPECT_EQ(ComNumberFromFriendlyName("USB XIF VYX 6400 (COM3"), 0);
  // Out of range and not a number.
  EXPECT_EQ(ComNumberFromFriendlyName("USB XIF VYX 6400 (COM65)"), 0);
  EXPECT_EQ(ComNumberFromFriendlyName("USB XIF VYX 6400 (COM0)"), 0);
  EXPECT_EQ(ComNumberFromFriendlyName("USB XIF VYX 6400 (COMx)"), 0);
  EXPECT_EQ(ComNumberFromFriendlyName("USB XIF VYX 6400 (COM)"), 0);
  // Leading zeros are part of a decimal number, however many there are.
  EXPECT_EQ(ComNumberFromFriendlyName("USB XIF VYX 6400 (COM0000000007)"), 7);
  EXPECT_EQ(ComNumberFromFriendlyName("USB XIF VYX 6700 (COM99999999999999999999)"), 0);
  EXPECT_EQ(ComNumberFromFriendlyName("USB XIF VYX 6400"), 0);
}

TEST(PortNames, NaturalOrder) {
  std::vector<std::string> names{"ttyUSB10", "ttyACM0", "ttyS10", "ttyUSB2", "ttyS2", "ttyS0"};
  std::sort(names.begin(), names.end(), NaturalLess);
  EXPECT_EQ(names, (std::vector<std::string>{"ttyS0", "ttyS2", "ttyS10", "ttyUSB2", "ttyUSB10",
                                             "ttyACM0"}));
}

class PseudoTerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256] = {};
    ASSERT_EQ(::openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    path_ = name;
  }
  void TearDown() override {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
  }
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

TEST_F(PseudoTerminal, OpenTestSeesFreeBusyAndMissing) {
  EXPECT_EQ(TestOpenDevice(path_).access, PortAccess::Free);
  // The test leaves no lock behind.
  EXPECT_EQ(TestOpenDevice(path_).access, PortAccess::Free);
  const int holder = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  const auto busy = TestOpenDevice(path_);
  EXPECT_EQ(busy.access, PortAccess::Busy);
  EXPECT_FALSE(PortAccessText(busy).empty());
  ::close(holder);
  EXPECT_EQ(TestOpenDevice(path_).access, PortAccess::Free);
  EXPECT_EQ(TestOpenDevice("/dev/no-such-tty-device").access, PortAccess::Missing);
}

TEST(PortNames, PermissionTextNamesTheFix) {
  PortTestResult denied{PortAccess::NoPermission, EACCES, 0, {}};
  EXPECT_NE(PortAccessText(denied).find("dialout"), std::string::npos);
  EXPECT_EQ(PortAccessText(PortTestResult{PortAccess::Free, 0, 0, {}}), "");
}

TEST(PortNames, SystemListIsOrderedAndOnlySerialDevices) {
  SystemPortDiscovery discovery;
  std::vector<SerialDeviceInfo> devices;
  ASSERT_TRUE(discovery.ListDevices(devices));
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const auto& d = devices[i];
    EXPECT_TRUE(d.name.rfind("ttyS", 0) == 0 || d.name.rfind("ttyUSB", 0) == 0 ||
                d.name.rfind("ttyACM", 0) == 0)
        << d.name;
    if (i > 0) {
      EXPECT_FALSE(NaturalLess(d.name, devices[i - 1].name));
    }
  }
}

}  // namespace
}  // namespace bcu::platform
