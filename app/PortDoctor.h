#pragma once
// The checks of `bcu doctor`: what a technician would otherwise find out the
// hard way about one serial port, each with what was found and what to do.
//
//   device        the path names a serial device (and which driver runs it)
//   permission    this user may open it (group, uaccess)
//   holder        no other program holds it (flock, UUCP lock file, open
//                 descriptors as far as /proc shows them)
//   modemmanager  ModemManager will not probe it in the middle of an update
//   latency       replies are not held back by a USB adapter's latency timer
//   rs485         the driver switches RS-485 itself, where the updater needs it
//                 (a mobile radio without its box, on a machine with more
//                 than one processor)
//   box           something answers the interface box probe
//   radio         a radio answers its identity requests (04 67, 04 04)
//
// On Windows the port's own checks are device (a COM port of that name),
// holder, line (the driver takes the link's settings at both speeds) and
// modemlines (RTS and DTR can be driven: a problem only where the radio's
// bus needs them); see app/PortDoctorChecks.h.
//
// Checks that need the port are skipped while it cannot be opened. The box
// probe and the radio requests go over the radio link as the updater opens it
// (19,200 baud; a mobile radio without a box over the serial port component
// in RS-485 mode).
#include <cstdint>
#include <string>
#include <vector>

namespace bcu::platform {
class PortFacts;
class SerialDriver;
}  // namespace bcu::platform

namespace bcu::app {

enum class DoctorStatus { Ok, Problem, Skipped };

struct DoctorCheck {
  std::string name;
  DoctorStatus status = DoctorStatus::Ok;
  std::string detail;  // what was found
  std::string fix;     // what to do about a problem (empty otherwise)
};

struct DoctorOptions {
  std::uint8_t radioFamily = 0;              // what this build updates: 0 portable, 1 mobile
  unsigned processors = 1;                   // logical processors of the machine
  platform::SerialDriver* driver = nullptr;  // null: the system's
  platform::PortFacts* facts = nullptr;      // null: the system's
};

std::vector<DoctorCheck> RunPortDoctor(const std::string& devicePath, const DoctorOptions& options);

// No check reports a problem.
bool DoctorAllOk(const std::vector<DoctorCheck>& checks);
// "OK", "PROBLEM" or "skipped".
const char* DoctorStatusText(DoctorStatus status);

}  // namespace bcu::app
