#pragma once
// A virtual radio on a pseudo-terminal and a link to it over the serial device
// transport, on a fast clock, plus S-record and DSP file builders.
#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "link/CommLink.h"
#include "link/ScpComPort.h"
#include "platform/Host.h"
#include "sim/PtyRadio.h"
#include "support/LinkHost.h"
#include "tools/DemoFirmware.h"

namespace bcu::test {

// Collects the status texts a download shows.
struct StatusLog {
  std::vector<std::string> texts;
  static void Callback(void* form, const std::string& text) {
    static_cast<StatusLog*>(form)->texts.push_back(text);
  }
  bool Has(const std::string& t) const {
    for (const auto& x : texts)
      if (x == t) return true;
    return false;
  }
  std::string Last() const { return texts.empty() ? "" : texts.back(); }
};

struct RadioRig {
  // scale: real ms per clock ms, for both the updater and the radio.
  explicit RadioRig(sim::RadioConfig config = {}, double scale = 0.05)
      : radio(std::move(config), scale), host(scale) {}

  bool Open() {
    std::string error;
    if (!radio.Start(&error)) {
      ADD_FAILURE() << error;
      return false;
    }
    host.ports.SetDevicePath(1, radio.DevicePath());
    if (!host.OpenSerial(1, &error)) {
      ADD_FAILURE() << error;
      return false;
    }
    return true;
  }

  // The same over the serial port component in RS-485 mode.
  bool OpenComponent() {
    std::string error;
    if (!radio.Start(&error)) {
      ADD_FAILURE() << error;
      return false;
    }
    port.SetDevicePath(radio.DevicePath());
    port.SetRS485Mode(true);
    if (!link::CommOpenComPort(host.link, &port, error)) {
      ADD_FAILURE() << error;
      return false;
    }
    link::CommSetRunning(host.link, true);
    link::CommSetFramed(host.link, true);
    return true;
  }

  // Waits (at most 5 s real time) until `done(radio)` holds: commands that
  // take no reply may still be on their way when a download returns.
  template <class F>
  bool WaitRadio(F done) {
    for (int i = 0; i < 1000; ++i) {
      if (radio.With([&](sim::VirtualRadio& r) { return done(r); })) return true;
      usleep(5000);
    }
    return false;
  }

  sim::PtyRadio radio;
  link::TScpComPort port;  // outlives the link, which the host closes
  LinkHost host;
  StatusLog status;
  platform::ProgressValues bar;
};

// S-record text from data records of `type` ('1', '2', '3'), each of the given
// sizes, from the generator's record writer; `data` receives the bytes.
inline std::string Records(char type, const std::vector<int>& sizes,
                           std::vector<std::uint8_t>& data, std::uint32_t address = 0x1000,
                           std::uint8_t seed = 1) {
  std::string text;
  std::uint8_t v = seed;
  for (int n : sizes) {
    std::vector<std::uint8_t> rec(static_cast<std::size_t>(n));
    for (auto& b : rec) b = v = static_cast<std::uint8_t>(v * 37 + 11);
    text += tools::MakeSRecord(type, address, rec.data(), rec.size());
    data.insert(data.end(), rec.begin(), rec.end());
    address += static_cast<std::uint32_t>(n) + 0x100;  // never contiguous
  }
  return text;
}

inline std::string S0() {
  const std::uint8_t h[] = {'T', 'E', 'S', 'T'};
  return tools::MakeSRecord('0', 0, h, 4);
}
inline std::string S9() {
  return tools::MakeSRecord('9', 0, nullptr, 0);
}

// What the radio stores for a file: the data padded with `fill` to whole
// pairs of 128-byte blocks (an empty file still sends one pair).
inline std::vector<std::uint8_t> PadToPair(std::vector<std::uint8_t> data, std::uint8_t fill) {
  while (data.empty() || data.size() % 256 != 0) data.push_back(fill);
  return data;
}

}  // namespace bcu::test
