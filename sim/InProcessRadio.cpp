#include "sim/InProcessRadio.h"

namespace bcu::sim {

bool InProcessPorts::ListDevices(std::vector<platform::SerialDeviceInfo>& devices) {
  devices = {{kInProcessPortPath, kInProcessPortPath, "virtual radio"}};
  return true;
}

platform::PortTestResult InProcessPorts::TestOpen(const std::string& path) {
  platform::PortTestResult r;
  r.access =
      path == kInProcessPortPath ? platform::PortAccess::Free : platform::PortAccess::Missing;
  return r;
}

namespace {

RadioConfig Paced(RadioConfig config) {
  config.pacing = true;
  config.timeScale = 1.0;
  return config;
}

}  // namespace

InProcessRadio::InProcessRadio(RadioConfig config)
    : radio_(std::make_unique<VirtualRadio>(Paced(std::move(config)), clock_)),
      line_(std::make_unique<RadioLine>(*radio_)) {}

InProcessRadio::~InProcessRadio() = default;

std::unique_ptr<transfer::VYXWinExtSerialPort> InProcessRadio::MakePort() {
  return std::make_unique<transfer::InProcessSerialPort>(*line_, clock_, tally_);
}

}  // namespace bcu::sim
