#pragma once
// Line settings of the serial port component and how they reach the port:
// raw 8-bit transfer, no character processing, no flow control.
#include <cstdint>

#include "platform/SerialHandle.h"

namespace bcu::link {

enum class TScpParity : std::uint8_t { None, Odd, Even, Mark, Space };

inline constexpr std::int32_t kScpMinBaud = 110;
inline constexpr std::int32_t kScpMaxBaud = 4000000;

struct TScpLineSettings {
  std::int32_t baud = 19200;
  std::uint16_t dataBits = 8;  // 5..8
  std::uint16_t stopBits = 1;  // 1 or 2
  TScpParity parity = TScpParity::None;
};

// Bits one character takes on the wire: start, data, parity and stop bits.
int ScpBitsPerChar(const TScpLineSettings& s);
// Real milliseconds that `chars` characters take at the settings' rate,
// rounded up.
std::uint32_t ScpCharsMs(const TScpLineSettings& s, std::uint32_t chars);

// Sets the line of the open port: with `raw`, every character processing and
// flow-control option is cleared first (as at open); otherwise only speed,
// character size, parity and stop bits change. Returns 0 or the system's
// error number of the call that failed.
int ScpApplyLineSettings(platform::SerialHandle port, const TScpLineSettings& s, bool raw);

}  // namespace bcu::link
