#pragma once
// The parts of `bcu doctor` that differ between the systems, and what they
// share with the rest of the checks (app/PortDoctor.cpp). On Linux: the
// device, its permission and holders, ModemManager, the latency timer and
// the driver's RS-485 switching; on Windows: the COM port, its holder, the
// line settings and the modem lines.
#include <string>
#include <vector>

#include "app/PortDoctor.h"

namespace bcu::platform {
class PortFacts;
class SerialDriver;
}  // namespace bcu::platform

namespace bcu::app {

DoctorCheck Ok(const char* name, std::string detail);
DoctorCheck Problem(const char* name, std::string detail, std::string fix);
DoctorCheck Skipped(const char* name, const std::string& why);

// What the checks of the port itself found out.
struct SystemPortState {
  std::string noPort;         // why the checks that need the port cannot run (empty: they can)
  bool kernelRs485 = false;   // the driver switches RS-485 direction itself
  int modemLines = -1;        // RTS and DTR can be driven: 1 yes, 0 no, -1 not known
  std::string modemLinesWhy;  // the system's words when they cannot
};

// What the radio's bus asks of the port.
struct BusNeeds {
  bool mobile = false;  // a mobile radio: without its box it is on the RS-485 bus
  bool box = false;     // an interface box answered
  unsigned processors = 1;
  std::string noPort;  // as SystemPortState, after the link was tried
};

// The checks of the port itself, in the order they are shown.
SystemPortState CheckSystemPort(const std::string& path, const DoctorOptions& options,
                                platform::SerialDriver& driver, platform::PortFacts& facts,
                                std::vector<DoctorCheck>& checks);
// Whether the port can switch the RS-485 bus the way the updater would.
void CheckBusSwitching(const SystemPortState& port, const BusNeeds& bus,
                       std::vector<DoctorCheck>& checks);

}  // namespace bcu::app
