#include "app/PortDoctor.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "link/CommLink.h"
#include "link/ScpComPort.h"
#include "platform/Clock.h"
#include "platform/PortDiscovery.h"
#include "platform/PortFacts.h"
#include "platform/PortTable.h"
#include "platform/PosixSerial.h"
#include "platform/SerialDriver.h"
#include "platform/SerialLockFile.h"
#include "platform/Timer.h"
#include "platform/TimerPump.h"

namespace bcu::app {

namespace {

constexpr std::uint32_t kProbeMs = 500;  // as the updater's box probe and kind query
constexpr std::uint32_t kInfoMs = 4000;  // as its information requests

DoctorCheck Ok(const char* name, std::string detail) {
  return {name, DoctorStatus::Ok, std::move(detail), {}};
}
DoctorCheck Problem(const char* name, std::string detail, std::string fix) {
  return {name, DoctorStatus::Problem, std::move(detail), std::move(fix)};
}
DoctorCheck Skipped(const char* name, const std::string& why) {
  return {name, DoctorStatus::Skipped, "not checked: " + why, {}};
}

std::string Holder(platform::PortFacts& facts, long pid) {
  const std::string command = facts.CommandOf(pid);
  return (command.empty() ? "process " : command + " (process ") + std::to_string(pid) +
         (command.empty() ? "" : ")");
}

// The radio link as the updater runs it, with a pump and a comm timer of its
// own.
class DoctorLink {
 public:
  DoctorLink(const std::string& devicePath, platform::SerialDriver* driver)
      : timers_(clock_), pump_(timers_) {
    link::CommInitLink(link_);
    link_.pump = &pump_;
    link_.clock = &clock_;
    link_.ports = &ports_;
    link_.serialDriver = driver;
    ports_.SetDevicePath(1, devicePath);
    timer_ = timers_.Create([this] {
      link::CommSetRunning(link_, false);
      timer_->SetEnabled(false);
    });
    link_.timeoutTimer = timer_.get();
  }
  ~DoctorLink() {
    link::CommCloseLink(link_);
    link_.timeoutTimer = nullptr;
  }

  bool OpenSerialDevice() {
    std::string text;
    if (!link::CommOpenSerialDevice(link_, 1, 19200, 0, text)) return false;
    Ready();
    return true;
  }
  bool OpenComponent() {
    link::CommCloseLink(link_);
    component_.SetPortTable(&ports_);
    component_.SetComNumber(1);
    component_.SetRS485Mode(true);
    std::string text;
    if (!link::CommOpenComPort(link_, &component_, text)) return false;
    Ready();
    link::CommSetPortBaud(link_, 19200);
    return true;
  }
  bool ProbeBox() {
    link::CommSetRunning(link_, true);
    link::CommSetTimeout(link_, kProbeMs);
    return link::CommProbeInterface(link_);
  }
  // The 04 67 answer: 1 portable, 0 mobile, -1 none.
  int RadioKind() {
    link::CommSetRunning(link_, true);
    link::CommSetTimeout(link_, kProbeMs);
    link::CommSendCommand(link_, 0x04, 0x67, nullptr, 0);
    link::CommPacket reply;
    const int got = link::CommReceive(link_, reply, 255, -1);
    if (got == 1 && reply.length >= 3 && reply.data[0] == 0x04 && reply.data[1] == 0x68)
      return reply.data[2];
    return -1;
  }
  // The serial number as the version panel shows it, empty when none came.
  std::string SerialNumber() {
    link::CommSetRunning(link_, true);
    link::CommSetTimeout(link_, kInfoMs);
    link::CommPacket request, reply, notAvailable;
    link::CommMakeCommand(request, link::kKeyDeviceSerial, true);
    link::CommMakeCommand(reply, link::kKeyDeviceSerialReply, true);
    link::CommMakeCommand(notAvailable, link::kKeyNotAvailable, true);
    link::CommSendPacket(link_, request);
    bool alt = false;
    const link::CommPacket got = link::CommWaitReply(
        link_, reply, link::CommReplyLength(link::kKeyDeviceSerialReply, true), false, notAvailable,
        link::CommReplyLength(link::kKeyNotAvailable, true), alt);
    if (got.length < 10 || alt) return {};
    std::string text;
    for (int i = 0; i < 8; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, i ? "-%02X" : "%02X", got.data[2 + i]);
      text += hex;
    }
    return text;
  }

 private:
  void Ready() {
    link::CommSetFramed(link_, true);
    link::CommSetRunning(link_, true);
  }

  platform::SteadyClock clock_;
  platform::TimerQueue timers_;
  platform::TimerPump pump_;
  platform::PortTable ports_;
  link::TScpComPort component_;  // outlives the link, which refers to it
  link::CommLink link_;
  std::unique_ptr<platform::Timer> timer_;
};

}  // namespace

const char* DoctorStatusText(DoctorStatus status) {
  switch (status) {
    case DoctorStatus::Ok:
      return "OK";
    case DoctorStatus::Problem:
      return "PROBLEM";
    case DoctorStatus::Skipped:
      break;
  }
  return "skipped";
}

bool DoctorAllOk(const std::vector<DoctorCheck>& checks) {
  for (const auto& c : checks)
    if (c.status == DoctorStatus::Problem) return false;
  return true;
}

std::vector<DoctorCheck> RunPortDoctor(const std::string& path, const DoctorOptions& options) {
  platform::SerialDriver& driver =
      options.driver != nullptr ? *options.driver : platform::SystemSerialDriver();
  platform::PortFacts& facts =
      options.facts != nullptr ? *options.facts : platform::SystemPortFacts();
  const bool mobile = options.radioFamily == 1;
  std::vector<DoctorCheck> checks;
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
    const int fd = platform::SerialOpenExclusive(path, err, &lock, driver.LockFolder());
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

  // ---- box and radio, over the link
  bool box = false;
  int kind = -1;
  std::string serial;
  bool overComponent = false;
  if (noPort.empty()) {
    DoctorLink lnk(path, options.driver);
    if (lnk.OpenSerialDevice()) {
      box = lnk.ProbeBox();
      // A mobile radio without its box sits on the RS-485 bus.
      if (!box && mobile) overComponent = lnk.OpenComponent();
      if (box || !mobile || overComponent) {
        kind = lnk.RadioKind();
        serial = lnk.SerialNumber();
      }
    } else {
      noPort = "the port cannot be opened";
    }
  }
  const bool radio = kind >= 0 || !serial.empty();

  // ---- rs485
  const bool needed = mobile && !box && options.processors > 1;
  if (kernelRs485) {
    checks.push_back(Ok("rs485", "the driver switches RS-485 direction itself"));
  } else if (!noPort.empty()) {
    checks.push_back(Skipped("rs485", noPort));
  } else if (needed) {
    checks.push_back(Problem(
        "rs485",
        "the driver cannot switch RS-485 itself and this machine has " +
            std::to_string(options.processors) +
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

  // ---- box
  if (!noPort.empty()) {
    checks.push_back(Skipped("box", noPort));
  } else if (box) {
    checks.push_back(Ok("box", "an interface box answered the probe"));
  } else if (radio) {
    checks.push_back(Ok("box", "no interface box answered; the radio answers without one"));
  } else {
    checks.push_back(Problem("box", "nothing answered the interface box probe",
                             "check the cable, and that the box or the radio is switched on"));
  }

  // ---- radio
  if (!noPort.empty()) {
    checks.push_back(Skipped("radio", noPort));
  } else if (radio) {
    std::string found = "a radio answered";
    if (kind == 1) found += ": portable";
    if (kind == 0) found += ": mobile";
    if (!serial.empty()) found += (kind >= 0 ? ", serial number " : ": serial number ") + serial;
    if (overComponent) found += " (over RS-485)";
    // The radio answers 1 when it is a portable, 0 when it is a mobile.
    if ((kind == 1 && mobile) || (kind == 0 && !mobile)) {
      checks.push_back(Problem(
          "radio",
          found + "; this updater is made for " + (mobile ? "mobile" : "portable") + " radios",
          std::string("use the updater made for ") + (mobile ? "portable" : "mobile") + " radios"));
    } else {
      checks.push_back(Ok("radio", found));
    }
  } else {
    checks.push_back(
        Problem("radio", "no radio answered its identity requests",
                "check that the radio is switched on and connected" +
                    std::string(mobile && !box ? " (a mobile radio without its box is reached over "
                                                 "RS-485)"
                                               : "")));
  }
  return checks;
}

}  // namespace bcu::app
