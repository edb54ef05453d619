#pragma once
// What the system can tell about a serial port beyond opening it: who holds
// it, whether the user may open it and why not, whether ModemManager is
// around to probe it, and what kind of adapter drives it. `bcu doctor` asks
// these; tests answer them through a class of their own.
//
// The base class asks the system (/proc, /sys, the udev database, the group
// database); every answer is "as far as visible": another user's processes
// are hidden from a normal user, and a machine without udev has no device
// properties.
#include <string>
#include <vector>

namespace bcu::platform {

// A process that has the device open.
struct PortHolder {
  long pid = 0;
  std::string command;  // its name (/proc/<pid>/comm), or empty
};

struct PortPermission {
  bool exists = false;         // the path names a device
  bool isCharDevice = false;   // ... a character device (a terminal)
  bool accessible = false;     // this user may read and write it (groups and ACLs count)
  std::string group;           // the device's group ("dialout")
  std::string mode;            // its permission bits ("crw-rw----")
  bool inGroupNow = false;     // this session has the device's group
  bool inGroupListed = false;  // the group database lists the user in it (maybe since
                               // the last login)
  bool root = false;
};

class PortFacts {
 public:
  virtual ~PortFacts() = default;

  virtual PortPermission Permission(const std::string& devicePath);
  // Other processes that have the device open (this one left out).
  virtual std::vector<PortHolder> Holders(const std::string& devicePath);
  // The name of a running process, empty when it is not (or not visible).
  virtual std::string CommandOf(long pid);
  // Whether a process with this name runs ("ModemManager").
  virtual bool ProcessRunning(const std::string& command);
  // A property of the device in the udev database ("ID_MM_DEVICE_IGNORE"),
  // empty when not set or not known.
  virtual std::string DeviceProperty(const std::string& devicePath, const std::string& key);
  // The kernel driver behind the port ("ftdi_sio", "serial8250", "cdc_acm"),
  // empty when there is none (a pseudo-terminal).
  virtual std::string DriverName(const std::string& devicePath);
  // The USB adapter's latency timer in milliseconds (FTDI adapters), -1 where
  // the adapter has none.
  virtual int LatencyTimerMs(const std::string& devicePath);
  // The sysfs file of that timer, for the fix text.
  virtual std::string LatencyTimerFile(const std::string& devicePath);
};

// The system's answers.
PortFacts& SystemPortFacts();

// The device's name in /sys/class/tty (the real path's file name).
std::string TtyName(const std::string& devicePath);

}  // namespace bcu::platform
