#include <cstring>

#include "app/PortDoctorChecks.h"
#include "platform/PortDiscovery.h"
#include "platform/PortFacts.h"
#include "platform/SerialDriver.h"
#include "platform/SerialLockFile.h"
#include "platform/SerialPort.h"

namespace bcu::app {

namespace {

std::string Holder(platform::PortFacts& facts, long pid) {
  const std::string command = facts.CommandOf(pid);
  return (command.empty() ? "process " : command + " (process ") + std::to_string(pid) +
         (command.empty() ? "" : ")");
}

}  // namespace

SystemPortState CheckSystemPort(const std::string& path, const DoctorOptions&,
                                platform::SerialDriver& driver, platform::PortFacts& facts,
                                std::vector<DoctorCheck>& checks) {
  // Why the checks that need the port cannot run (empty: they can).
  std::string noPort;

  // ---- device
  const platform::PortPermission perm = facts.Permission(path);
  const std::string driverName = facts.DriverName(path);
  if (!perm.exists) {
    checks.push_back(Problem("device", path + " does not exist",
                             "check the cable and the adapter; `bcu ports` lists the serial "
                             "ports of this machine"));
    noPort = "there is no such device";
  } else if (!perm.isCharDevice) {
    checks.push_back(Problem("device", path + " is not a serial device",
                             "name the serial port itself, e.g. /dev/ttyUSB0 (see `bcu ports`)"));
    noPort = "it is not a serial device";
  } else {
    checks.push_back(
        Ok("device", path + " is a serial device" +
                         (driverName.empty() ? std::string() : " (driver " + driverName + ")")));
  }

  // ---- permission
  if (!noPort.empty()) {
    checks.push_back(Skipped("permission", noPort));
  } else if (perm.accessible) {
    checks.push_back(
        Ok("permission", perm.root ? "running as root" : "this user may read and write the port"));
  } else {
    const std::string found = "permission denied: " + path + " is " + perm.mode +
                              (perm.group.empty() ? "" : ", group " + perm.group);
    std::string fix;
    if (perm.inGroupListed && !perm.inGroupNow)
      fix = "you were added to the " + perm.group +
            " group after this session started: log out and in again";
    else
      fix = "add yourself to the " + (perm.group.empty() ? std::string("dialout") : perm.group) +
            " group (sudo usermod -aG " +
            (perm.group.empty() ? std::string("dialout") : perm.group) +
            " $USER) and log in again, or give the port the uaccess tag with a udev rule and "
            "plug it in again";
    checks.push_back(Problem("permission", found, fix));
    noPort = "the port may not be opened";
  }

  // ---- holder
  if (!noPort.empty()) {
    checks.push_back(Skipped("holder", noPort));
  } else {
    const platform::PortTestResult test = platform::TestOpenDevice(path, driver.LockFolder());
    std::vector<std::string> who;
    if (test.lockHolder != 0)
      who.push_back(Holder(facts, test.lockHolder) + " by its lock file " + driver.LockFolder() +
                    "/LCK.." + platform::SerialLockName(path));
    for (const auto& h : facts.Holders(path))
      if (h.pid != test.lockHolder)
        who.push_back((h.command.empty() ? "process " : h.command + " (process ") +
                      std::to_string(h.pid) + (h.command.empty() ? "" : ")"));
    // A pseudo-terminal is always open at its other end (a virtual radio
    // also keeps its own side open): only the locks count there.
    const bool pseudoTerminal = driverName.empty() && path.size() > 0 &&
                                platform::SerialLockName(path).rfind("pts_", 0) == 0;
    if (pseudoTerminal && test.access == platform::PortAccess::Free) who.clear();
    if (test.access == platform::PortAccess::Free && who.empty()) {
      checks.push_back(Ok("holder", "no other program holds the port"));
    } else if (test.access == platform::PortAccess::Free) {
      // Open elsewhere without any lock: it will read what the radio says.
      std::string list;
      for (const auto& w : who) list += (list.empty() ? "" : ", ") + w;
      checks.push_back(Problem("holder", "also open in " + list,
                               "end that program (or close the port in it) before an update"));
    } else {
      std::string list;
      for (const auto& w : who) list += (list.empty() ? "" : ", ") + w;
      checks.push_back(Problem(
          "holder",
          "in use" +
              (list.empty() ? std::string(" by a program this user cannot see") : " by " + list),
          "end that program (or close the port in it), then try again"));
      noPort = "the port is in use";
    }
  }

  // ---- modemmanager (needs no open port)
  if (!perm.exists) {
    checks.push_back(Skipped("modemmanager", "there is no such device"));
  } else if (!facts.ProcessRunning("ModemManager")) {
    checks.push_back(Ok("modemmanager", "ModemManager is not running"));
  } else if (facts.DeviceProperty(path, "ID_MM_DEVICE_IGNORE") == "1") {
    checks.push_back(Ok("modemmanager", "ModemManager runs but leaves this port alone"));
  } else {
    checks.push_back(Problem(
        "modemmanager", "ModemManager runs and may probe this port with AT commands",
        "give the port ENV{ID_MM_DEVICE_IGNORE}=\"1\" with a udev rule and plug it in again, "
        "or stop ModemManager (sudo systemctl stop ModemManager)"));
  }

  // ---- latency and the driver's RS-485 switching (the port opened briefly)
  int lowLatency = -1;  // -1 not known, 0 not supported, 1 supported
  bool kernelRs485 = false;
  if (noPort.empty()) {
    int err = 0;
    platform::SerialLockFile lock;
    const platform::SerialHandle fd =
        platform::SerialOpenExclusive(path, err, &lock, driver.LockFolder());
    if (fd < 0) {
      noPort = std::string("the port cannot be opened (") + std::strerror(err) + ")";
    } else {
      bool previous = false;
      lowLatency = driver.SetLowLatency(fd, true, previous) ? 1 : 0;
      if (lowLatency == 1 && !previous) driver.SetLowLatency(fd, false, previous);
      kernelRs485 = platform::SerialKernelRs485Available(driver, fd);
      driver.Close(fd);
    }
  }
  const int timer = perm.exists ? facts.LatencyTimerMs(path) : -1;
  if (!noPort.empty()) {
    checks.push_back(Skipped("latency", noPort));
  } else if (timer > 1 && lowLatency != 1) {
    checks.push_back(Problem(
        "latency",
        "the adapter holds replies for its latency timer of " + std::to_string(timer) +
            " ms and has no low-latency mode: transfers run at about half speed",
        "echo 1 | sudo tee " + facts.LatencyTimerFile(path) +
            " (until the adapter is plugged in again; a udev rule with ATTR{latency_timer}=\"1\" "
            "keeps it)"));
  } else if (timer > 1) {
    checks.push_back(Ok("latency", "latency timer " + std::to_string(timer) +
                                       " ms; the updater switches the adapter to low-latency "
                                       "mode while it uses the port"));
  } else if (timer >= 0) {
    checks.push_back(Ok("latency", "latency timer " + std::to_string(timer) + " ms"));
  } else {
    checks.push_back(Ok("latency", lowLatency == 1
                                       ? "no latency timer; low-latency mode supported"
                                       : "no latency timer: replies are passed on at once"));
  }

  SystemPortState state;
  state.noPort = noPort;
  state.kernelRs485 = kernelRs485;
  return state;
}

void CheckBusSwitching(const SystemPortState& port, const BusNeeds& bus,
                       std::vector<DoctorCheck>& checks) {
  const bool kernelRs485 = port.kernelRs485;
  const std::string& noPort = bus.noPort;
  const bool mobile = bus.mobile;
  const bool box = bus.box;
  // ---- rs485
  const bool needed = mobile && !box && bus.processors > 1;
  if (kernelRs485) {
    checks.push_back(Ok("rs485", "the driver switches RS-485 direction itself"));
  } else if (!noPort.empty()) {
    checks.push_back(Skipped("rs485", noPort));
  } else if (needed) {
    checks.push_back(Problem(
        "rs485",
        "the driver cannot switch RS-485 itself and this machine has " +
            std::to_string(bus.processors) +
            " processors: the updater refuses a mobile radio without its interface box here",
        "connect the radio through its XIF interface box, or use a serial port whose driver "
        "switches RS-485 (TIOCSRS485)"));
  } else {
    checks.push_back(
        Ok("rs485", std::string("the driver cannot switch RS-485 itself; not needed here (") +
                        (box       ? "an interface box answered"
                         : !mobile ? "portable radios do not use the RS-485 bus"
                                   : "one processor") +
                        ")"));
  }
}

}  // namespace bcu::app
