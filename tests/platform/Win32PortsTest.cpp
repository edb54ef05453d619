// COM ports on Windows by name: "COM10" and above exist only with the device
// prefix (\\.\COM10; without it the name is a file in the current folder),
// a missing port is missing whatever its number, and port names sort by
// number.
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/FileOpen.h"
#include "platform/Folders.h"
#include "platform/PortDiscovery.h"
#include "platform/PortTable.h"
#include "platform/SerialPort.h"

namespace bcu::platform {
namespace {

TEST(Win32PortsTest, PortNumbersAboveNineGetTheDevicePrefix) {
  EXPECT_EQ(DefaultDevicePath(1), "\\\\.\\COM1");
  EXPECT_EQ(DefaultDevicePath(10), "\\\\.\\COM10");
  EXPECT_EQ(DefaultDevicePath(64), "\\\\.\\COM64");

  // In a folder of its own: a bare "COM42" must not become a file there.
  std::string error;
  const std::string dir = MakeUniqueFolder(WorkFolderBase(), "bcu-ports-test-", error);
  ASSERT_FALSE(dir.empty()) << error;
  wchar_t previous[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryW(PathOf(dir).wstring().c_str()));
  for (const char* name : {"COM42", "com42", "\\\\.\\COM42"}) {
    int err = 0;
    std::string text;
    EXPECT_EQ(SerialOpenExclusive(name, err, nullptr, {}, &text), kNoSerialHandle) << name;
    EXPECT_EQ(err, ENOENT) << name << ": " << text;
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(TestOpenDevice(name).access, PortAccess::Missing) << name;
  }
  EXPECT_TRUE(std::filesystem::is_empty(std::filesystem::current_path()));
  ::SetCurrentDirectoryW(previous);
  std::filesystem::remove_all(PathOf(dir));
}

TEST(Win32PortsTest, ANameThatIsNoSerialPortIsRefusedAsSuch) {
  int err = 0;
  std::string text;
  // NUL opens, but it is no COM port: its line settings cannot be read.
  EXPECT_EQ(SerialOpenExclusive("NUL", err, nullptr, {}, &text), kNoSerialHandle);
  EXPECT_EQ(err, ENOTTY) << text;
}

TEST(Win32PortsTest, PortNamesSortByNumber) {
  EXPECT_TRUE(NaturalLess("COM2", "COM10"));
  EXPECT_FALSE(NaturalLess("COM10", "COM9"));
  EXPECT_EQ(UsbBoxKindFromText("USB XIF VYX 6700 (COM12) [USB 0403:6001]"), 2);
  EXPECT_EQ(ComNumberFromFriendlyName("USB XIF VYX 6700 (COM12) [USB 0403:6001]"), 12);
}

TEST(Win32PortsTest, TheSystemsPortListIsReadable) {
  SystemPortDiscovery discovery;
  std::vector<SerialDeviceInfo> devices;
  ASSERT_TRUE(discovery.ListDevices(devices));
  for (const auto& d : devices) {
    EXPECT_EQ(d.path, "\\\\.\\" + d.name);
    EXPECT_EQ(d.name.rfind("COM", 0), 0u) << d.name;
  }
}

}  // namespace
}  // namespace bcu::platform
