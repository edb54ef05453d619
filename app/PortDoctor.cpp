#include "app/PortDoctor.h"

#include <cstdio>
#include <memory>

#include "app/PortDoctorChecks.h"
#include "link/CommLink.h"
#include "link/ScpComPort.h"
#include "platform/Clock.h"
#include "platform/PortFacts.h"
#include "platform/PortTable.h"
#include "platform/SerialDriver.h"
#include "platform/Timer.h"
#include "platform/TimerPump.h"

namespace bcu::app {

DoctorCheck Ok(const char* name, std::string detail) {
  return {name, DoctorStatus::Ok, std::move(detail), {}};
}
DoctorCheck Problem(const char* name, std::string detail, std::string fix) {
  return {name, DoctorStatus::Problem, std::move(detail), std::move(fix)};
}
DoctorCheck Skipped(const char* name, const std::string& why) {
  return {name, DoctorStatus::Skipped, "not checked: " + why, {}};
}

namespace {

constexpr std::uint32_t kProbeMs = 500;  // as the updater's box probe and kind query
constexpr std::uint32_t kInfoMs = 4000;  // as its information requests

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
  const SystemPortState port = CheckSystemPort(path, options, driver, facts, checks);
  std::string noPort = port.noPort;

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

  CheckBusSwitching(port, {mobile, box, options.processors, noPort}, checks);

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
