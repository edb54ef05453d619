// UUCP lock files: another program's lock keeps every opener of the port
// out, a stale one is cleared, and an open port carries a lock of its own.
#include "platform/SerialLockFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "link/ScpComPort.h"
#include "platform/PortDiscovery.h"
#include "support/FakeSerialDriver.h"
#include "support/ScpPseudoTerminal.h"
#include "transfer/VYXCommDeviceSerial.h"

namespace bcu::platform {
namespace {

namespace fs = std::filesystem;

// A folder of lock files for one test.
struct LockFolder {
  LockFolder() {
    char name[] = "/tmp/bcu-locks-XXXXXX";
    path = ::mkdtemp(name);
  }
  ~LockFolder() { fs::remove_all(path); }
  std::string File(const std::string& device) const {
    return path + "/LCK.." + SerialLockName(device);
  }
  std::string Read(const std::string& device) const {
    std::ifstream in(File(device), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void Write(const std::string& device, const std::string& content) const {
    std::ofstream(File(device), std::ios::binary) << content;
  }
  std::string path;
};

// Another program: a child process that waits until it is killed.
struct OtherProgram {
  OtherProgram() {
    pid = ::fork();
    if (pid == 0) {
      ::pause();
      ::_exit(0);
    }
  }
  ~OtherProgram() { End(); }
  void End() {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  pid_t pid = -1;
};

// The id of a process that has ended.
pid_t EndedProcess() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

std::string PidText(long pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10ld\n", pid);
  return text;
}

TEST(SerialLockName, DeviceBelowDevWithSlashesReplacedLinksFollowed) {
  EXPECT_EQ(SerialLockName("/dev/ttyUSB0"), "ttyUSB0");
  test::PseudoTerminal pty;
  const std::string pts = pty.SlavePath();  // /dev/pts/N
  EXPECT_EQ(SerialLockName(pts), "pts_" + pts.substr(9));
  const std::string link = "/tmp/bcu-lock-link-" + std::to_string(::getpid());
  fs::remove(link);
  fs::create_symlink(pts, link);
  EXPECT_EQ(SerialLockName(link), SerialLockName(pts));  // one lock, whatever the name
  fs::remove(link);
  EXPECT_EQ(SerialLockName("/tmp/some/radio"), "radio");
}

TEST(SerialLockFile, TakenWithThisProcessIdAndRemovedOnRelease) {
  LockFolder folder;
  test::PseudoTerminal pty;
  SerialLockFile lock;
  ASSERT_EQ(lock.Acquire(folder.path, pty.SlavePath()), 0);
  EXPECT_TRUE(lock.Held());
  EXPECT_EQ(folder.Read(pty.SlavePath()), PidText(::getpid()));
  EXPECT_EQ(SerialLockHolder(folder.path, pty.SlavePath()), ::getpid());
  // This process holds it: a second lock of the same port is refused.
  SerialLockFile second;
  long holder = 0;
  EXPECT_EQ(second.Acquire(folder.path, pty.SlavePath(), &holder), EBUSY);
  EXPECT_EQ(holder, ::getpid());
  lock.Release();
  EXPECT_FALSE(fs::exists(folder.File(pty.SlavePath())));
  EXPECT_EQ(SerialLockHolder(folder.path, pty.SlavePath()), 0);
  // A file that another program put in its place meanwhile is left alone.
  ASSERT_EQ(lock.Acquire(folder.path, pty.SlavePath()), 0);
  OtherProgram other;
  folder.Write(pty.SlavePath(), PidText(other.pid));
  lock.Release();
  EXPECT_EQ(folder.Read(pty.SlavePath()), PidText(other.pid));
}

TEST(SerialLockFile, LiveHolderKeepsItStaleOneIsCleared) {
  LockFolder folder;
  const std::string device = "/dev/ttyUSB7";
  OtherProgram other;
  for (const std::string& content :
       {PidText(other.pid), std::string(reinterpret_cast<const char*>(&other.pid), 4)}) {
    folder.Write(device, content);
    SerialLockFile lock;
    long holder = 0;
    EXPECT_EQ(lock.Acquire(folder.path, device, &holder), EBUSY);
    EXPECT_EQ(holder, other.pid);
    EXPECT_FALSE(lock.Held());
    EXPECT_EQ(folder.Read(device), content);
  }
  // The holder has ended: its lock is stale and the next taker replaces it.
  folder.Write(device, PidText(EndedProcess()));
  EXPECT_EQ(SerialLockHolder(folder.path, device), 0);
  SerialLockFile lock;
  EXPECT_EQ(lock.Acquire(folder.path, device), 0);
  EXPECT_EQ(folder.Read(device), PidText(::getpid()));
}

TEST(SerialLockFile, NoFolderMeansNoLockFileButNoFailure) {
  SerialLockFile lock;
  EXPECT_EQ(lock.Acquire("/nonexistent-bcu-lock-folder", "/dev/ttyS0"), 0);
  EXPECT_FALSE(lock.Held());
  EXPECT_EQ(SerialLockHolder("/nonexistent-bcu-lock-folder", "/dev/ttyS0"), 0);
}

// Both transports and the port list's open test honour a lock file held by
// another program (a terminal program that uses no flock), and take one of
// their own while open.
TEST(SerialLockFile, EveryOpenerOfAPortHonoursAndTakesTheLock) {
  LockFolder folder;
  test::FakeSerialDriver driver;
  driver.lockFolder = folder.path;
  test::PseudoTerminal pty;
  const std::string path = pty.SlavePath();
  auto other = std::make_unique<OtherProgram>();
  folder.Write(path, PidText(other->pid));

  transfer::VYXCommDeviceSerial device(nullptr, &driver);
  EXPECT_FALSE(device.OpenPort(path, 14, false));
  link::TScpComPort port;
  port.SetSerialDriver(&driver);
  port.SetDevicePath(path);
  EXPECT_THROW(port.SetOpen(true), link::EAlreadyOpen);
  const PortTestResult test = TestOpenDevice(path, folder.path);
  EXPECT_EQ(test.access, PortAccess::Busy);
  EXPECT_EQ(test.lockHolder, other->pid);
  EXPECT_NE(PortAccessText(test).find(std::to_string(other->pid)), std::string::npos);
  EXPECT_EQ(folder.Read(path), PidText(other->pid));  // nobody touched it

  other.reset();  // the program ends without removing its lock
  ASSERT_TRUE(device.OpenPort(path, 14, false));
  EXPECT_EQ(folder.Read(path), PidText(::getpid()));
  EXPECT_EQ(device.Port().LockFilePath(), folder.File(path));
  EXPECT_EQ(TestOpenDevice(path, folder.path).access, PortAccess::Busy);
  device.Close();
  EXPECT_FALSE(fs::exists(folder.File(path)));

  port.SetOpen(true);
  EXPECT_EQ(folder.Read(path), PidText(::getpid()));
  EXPECT_EQ(port.LockFilePath(), folder.File(path));
  transfer::VYXCommDeviceSerial second(nullptr, &driver);
  EXPECT_FALSE(second.OpenPort(path, 14, false));
  port.SetOpen(false);
  EXPECT_FALSE(fs::exists(folder.File(path)));
  EXPECT_EQ(TestOpenDevice(path, folder.path).access, PortAccess::Free);
}

// A refused open says why in the system's words: the lock file and the
// process it names, a lock file that cannot be read; the port test's own
// explanation names the path and the lock file too.
TEST(SerialLockFile, ARefusedOpenNamesTheLockFileAndItsHolder) {
  LockFolder folder;
  test::FakeSerialDriver driver;
  driver.lockFolder = folder.path;
  test::PseudoTerminal pty;
  const std::string path = pty.SlavePath();
  OtherProgram other;
  folder.Write(path, PidText(other.pid));

  transfer::VYXCommDeviceSerial device(nullptr, &driver);
  EXPECT_FALSE(device.OpenPort(path, 14, false));
  const std::string& why = device.Port().OpenErrorText();
  EXPECT_NE(why.find("held by process " + std::to_string(other.pid)), std::string::npos) << why;
  EXPECT_NE(why.find(folder.File(path)), std::string::npos) << why;

  const PortTestResult test = TestOpenDevice(path, folder.path);
  EXPECT_EQ(test.lockFile, folder.File(path));
  const std::string problem = PortProblemText(path, test);
  EXPECT_EQ(problem.rfind(path + ": in use by ", 0), 0u) << problem;
  EXPECT_NE(problem.find("process " + std::to_string(other.pid)), std::string::npos) << problem;
  EXPECT_NE(problem.find(folder.File(path)), std::string::npos) << problem;

  // A port that is not there: the system's own words after the path.
  const PortTestResult missing = TestOpenDevice(folder.path + "/nonexist", folder.path);
  EXPECT_EQ(PortProblemText(folder.path + "/nonexist", missing),
            folder.path + "/nonexist: No such file or directory");
}

// A lock folder this user may not search holds no lock file for us: the port
// is used without one (root searches every folder, so only a normal user
// sees this).
TEST(SerialLockFile, AFolderThatCannotBeSearchedMeansNoLockFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root searches every folder";
  LockFolder folder;
  fs::permissions(folder.path, fs::perms::owner_write);
  SerialLockFile lock;
  long holder = -1;
  std::string why;
  EXPECT_EQ(lock.Acquire(folder.path, "/dev/ttyUSB7", &holder, &why), 0) << why;
  EXPECT_FALSE(lock.Held());
  EXPECT_EQ(SerialLockHolder(folder.path, "/dev/ttyUSB7"), 0);
  fs::permissions(folder.path, fs::perms::owner_all);
}

}  // namespace
}  // namespace bcu::platform
