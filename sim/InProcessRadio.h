#pragma once
// A virtual radio reached in this process: the same VirtualRadio that
// bcu-radiosim serves on a pseudo-terminal, behind the link's in-process
// serial port. The radio and the updater share one LineClock, so the line's
// timing follows from its bytes and the radio's slow steps, and nothing
// sleeps: a whole update takes the time the PC needs to compute it.
//
//   sim::InProcessRadio radio(config);
//   options.portSource = &radio;                   // CodeUpdaterOptions
//   RehearsalHost host(radio.Clock());             // the updater's clock
//   discovery = radio.Ports();                     // one port, kInProcessPortPath
#include <memory>
#include <string>
#include <vector>

#include "platform/PortDiscovery.h"
#include "sim/RadioConfig.h"
#include "sim/VirtualRadio.h"
#include "transfer/InProcessSerialPort.h"
#include "transfer/LineClock.h"
#include "transfer/LinePeer.h"
#include "transfer/SerialPortSource.h"

namespace bcu::sim {

// The name the in-process port is listed under.
inline constexpr const char* kInProcessPortPath = "virtual-radio";

// The radio as the far end of the line.
class RadioLine final : public transfer::LinePeer {
 public:
  explicit RadioLine(VirtualRadio& radio) : radio_(radio) {}
  void Receive(const std::uint8_t* data, std::size_t n) override { radio_.Receive(data, n); }
  std::size_t Transmit(std::uint8_t* out, std::size_t max) override {
    return radio_.Transmit(out, max);
  }
  std::int64_t UsUntilNextEvent() override { return radio_.UsUntilNextEvent(); }
  bool LineDropped() const override { return radio_.LineDropRequested(); }

 private:
  VirtualRadio& radio_;
};

// One port that is always free: the in-process line.
class InProcessPorts final : public platform::PortDiscovery {
 public:
  bool ListDevices(std::vector<platform::SerialDeviceInfo>& devices) override;
  platform::PortTestResult TestOpen(const std::string& path) override;
};

class InProcessRadio final : public transfer::SerialPortSource {
 public:
  // Paced: the radio takes and sends its bytes at the line's rate (the
  // config's own setting is overridden). Throws as VirtualRadio does.
  explicit InProcessRadio(RadioConfig config);
  ~InProcessRadio() override;

  std::unique_ptr<transfer::VYXWinExtSerialPort> MakePort() override;

  VirtualRadio& Radio() { return *radio_; }
  transfer::LineClock& Clock() { return clock_; }
  // Every byte the line carried so far.
  const transfer::LineTally& Tally() const { return tally_; }
  platform::PortDiscovery& Ports() { return ports_; }

 private:
  transfer::LineClock clock_;
  std::unique_ptr<VirtualRadio> radio_;
  std::unique_ptr<RadioLine> line_;
  transfer::LineTally tally_;
  InProcessPorts ports_;
};

}  // namespace bcu::sim
