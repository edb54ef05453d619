#include "platform/SerialDriver.h"

#include "platform/Clock.h"

namespace bcu::platform {

namespace {

// Between two looks at the transmitter-empty bit: a character lasts 87 us at
// 115200 baud.
constexpr std::uint32_t kTransmitterStepUs = 50;
// Between two looks at the output queue.
constexpr std::uint32_t kQueueStepUs = 500;

}  // namespace

SerialDriver& SystemSerialDriver() {
  static SerialDriver system;
  return system;
}

bool SerialEnableKernelRs485(SerialDriver& driver, SerialHandle port, SerialRs485& saved) {
  if (!driver.GetRs485(port, saved)) return false;
  SerialRs485 conf = saved;
  conf.flags |= kRs485Enabled | kRs485RtsOnSend;
  conf.flags &= ~kRs485RtsAfterSend;
  if (!driver.SetRs485(port, conf)) return false;
  // Some drivers take the call but keep RS-485 off: only what they report
  // back counts.
  SerialRs485 now{};
  if (driver.GetRs485(port, now) && (now.flags & kRs485Enabled) == 0) {
    driver.SetRs485(port, saved);
    return false;
  }
  return true;
}

bool SerialKernelRs485Available(SerialDriver& driver, SerialHandle port) {
  SerialRs485 saved{};
  if (!SerialEnableKernelRs485(driver, port, saved)) return false;
  driver.SetRs485(port, saved);
  return true;
}

SerialCapabilities SerialLearnCapabilities(SerialDriver& driver, SerialHandle port) {
  SerialCapabilities caps;
  caps.transmitterBit = driver.Transmitter(port) != SerialTransmitter::Unknown;
  SerialRs485 conf{};
  caps.kernelRs485 = driver.GetRs485(port, conf);
  caps.outputQueue = driver.OutputQueued(port) >= 0;
  return caps;
}

bool SerialDrainBounded(SerialDriver& driver, SerialHandle port, std::uint32_t maxRealMs,
                        const SerialCapabilities* caps) {
  const std::uint64_t endUs = RealMicros() + static_cast<std::uint64_t>(maxRealMs) * 1000;
  for (;;) {
    const int left = driver.OutputQueued(port);
    if (left < 0) return false;
    if (left == 0) break;
    if (RealMicros() >= endUs) return false;
    SerialSleepMicros(kQueueStepUs);
  }
  // The queue is empty: what is left is in the adapter's FIFO and shift
  // register.
  if (caps != nullptr && !caps->transmitterBit) return driver.WaitSent(port);
  for (;;) {
    switch (driver.Transmitter(port)) {
      case SerialTransmitter::Empty:
        return true;
      case SerialTransmitter::Unknown:
        return driver.WaitSent(port);
      case SerialTransmitter::Sending:
        break;
    }
    if (RealMicros() >= endUs) return false;
    SerialSleepMicros(kTransmitterStepUs);
  }
}

}  // namespace bcu::platform
