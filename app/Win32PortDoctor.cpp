// `bcu doctor` on Windows: the COM port exists, no other program holds it,
// its driver takes the line settings the link uses, and it can drive RTS and
// DTR. Windows has no driver that switches RS-485 by itself, so a mobile
// radio without its box is reached only where the updater may switch RTS
// (one processor, modem lines that can be driven).
#include "app/PortDoctorChecks.h"
#include "platform/PortDiscovery.h"
#include "platform/PortFacts.h"
#include "platform/SerialDriver.h"
#include "platform/SerialPort.h"

namespace bcu::app {

namespace {

std::string NotNeededBecause(const BusNeeds& bus) {
  return bus.box ? "an interface box answered" : "portable radios do not use the RS-485 bus";
}

}  // namespace

SystemPortState CheckSystemPort(const std::string& path, const DoctorOptions&,
                                platform::SerialDriver& driver, platform::PortFacts& facts,
                                std::vector<DoctorCheck>& checks) {
  SystemPortState state;
  std::string& noPort = state.noPort;

  // ---- device
  const platform::PortTestResult test = platform::TestOpenDevice(path, driver.LockFolder());
  const std::string object = facts.DriverName(path);
  if (test.access == platform::PortAccess::Missing) {
    checks.push_back(Problem("device", path + " does not exist",
                             "check the cable and the adapter; `bcu ports` lists the COM ports "
                             "of this computer"));
    noPort = "there is no such port";
  } else {
    checks.push_back(Ok("device", path + " is a COM port" +
                                      (object.empty() ? std::string() : " (" + object + ")")));
  }

  // ---- holder
  if (!noPort.empty()) {
    checks.push_back(Skipped("holder", noPort));
  } else if (test.access == platform::PortAccess::Free) {
    checks.push_back(Ok("holder", "no other program holds the port"));
  } else if (test.access == platform::PortAccess::Busy) {
    checks.push_back(Problem("holder", "in use by another program",
                             "end that program (or close the port in it), then try again"));
    noPort = "the port is in use";
  } else {
    checks.push_back(Problem("holder", platform::PortAccessText(test),
                             "check the adapter's driver in the Device Manager"));
    noPort = "the port cannot be opened";
  }

  // ---- line: the settings of the link, at both of its speeds
  if (!noPort.empty()) {
    checks.push_back(Skipped("line", noPort));
  } else {
    int err = 0;
    std::string why;
    const platform::SerialHandle port =
        platform::SerialOpenExclusive(path, err, nullptr, driver.LockFolder(), &why);
    if (port == platform::kNoSerialHandle) {
      checks.push_back(Problem("line", "the port cannot be opened: " + why,
                               "end the program that holds it, or plug the adapter in again"));
      noPort = "the port cannot be opened";
    } else {
      platform::SerialLineConfig line;
      int refused = 0;
      std::uint32_t refusedRate = 0;
      for (const std::uint32_t rate : {115200u, 19200u}) {
        line.BaudRate = rate;
        if (const int e = platform::SerialWriteLine(port, line, platform::SerialLineScope::Whole)) {
          refused = e;
          refusedRate = rate;
        }
      }
      if (refused != 0) {
        checks.push_back(Problem("line",
                                 "the driver refuses " + std::to_string(refusedRate) +
                                     " baud, 8 data bits, no parity, one stop bit",
                                 "update the adapter's driver, or use another adapter"));
        noPort = "the driver refuses the line settings";
      } else {
        checks.push_back(Ok("line",
                            "the driver takes 19200 and 115200 baud, 8 data bits, no "
                            "parity, one stop bit"));
      }
      // ---- modem lines (reported with the bus checks)
      const bool rts = driver.SetModemLines(port, platform::kSerialLineRts, false);
      const bool dtr = driver.SetModemLines(port, platform::kSerialLineDtr, true);
      state.modemLines = rts && dtr ? 1 : 0;
      if (!rts || !dtr)
        state.modemLinesWhy = std::string(!rts && !dtr ? "RTS and DTR"
                                          : !rts       ? "RTS"
                                                       : "DTR") +
                              " cannot be driven on this port";
      driver.Close(port);
    }
  }
  return state;
}

void CheckBusSwitching(const SystemPortState& port, const BusNeeds& bus,
                       std::vector<DoctorCheck>& checks) {
  const bool onBus = bus.mobile && !bus.box;  // the radio is reached over RS-485
  // ---- modemlines
  if (port.modemLines < 0 || !bus.noPort.empty()) {
    checks.push_back(Skipped("modemlines", bus.noPort.empty() ? port.noPort : bus.noPort));
  } else if (port.modemLines == 1) {
    checks.push_back(Ok("modemlines", "RTS and DTR can be driven"));
  } else if (onBus) {
    checks.push_back(Problem("modemlines",
                             port.modemLinesWhy +
                                 ": a mobile radio without its interface box needs RTS to "
                                 "switch the RS-485 bus",
                             "connect the radio through its XIF interface box, or use a serial "
                             "port whose driver drives RTS"));
  } else {
    checks.push_back(
        Ok("modemlines", port.modemLinesWhy + "; not needed here (" + NotNeededBecause(bus) + ")"));
  }

  // ---- rs485
  if (!bus.noPort.empty()) {
    checks.push_back(Skipped("rs485", bus.noPort));
  } else if (onBus && bus.processors > 1) {
    checks.push_back(Problem(
        "rs485",
        "no Windows driver switches RS-485 itself and this machine has " +
            std::to_string(bus.processors) +
            " processors: the updater refuses a mobile radio without its interface box here",
        "connect the radio through its XIF interface box, or use a computer with one processor"));
  } else if (onBus) {
    checks.push_back(Ok("rs485", "the updater switches RS-485 itself (one processor)"));
  } else {
    checks.push_back(Ok("rs485", "no Windows driver switches RS-485 itself; not needed here (" +
                                     NotNeededBecause(bus) + ")"));
  }
}

}  // namespace bcu::app
