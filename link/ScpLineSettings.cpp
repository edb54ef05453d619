#include "link/ScpLineSettings.h"

#include "platform/SerialPort.h"

namespace bcu::link {

int ScpBitsPerChar(const TScpLineSettings& s) {
  return 1 + s.dataBits + (s.parity == TScpParity::None ? 0 : 1) + s.stopBits;
}

std::uint32_t ScpCharsMs(const TScpLineSettings& s, std::uint32_t chars) {
  if (s.baud <= 0) return 0;
  const std::uint64_t bits = static_cast<std::uint64_t>(chars) * ScpBitsPerChar(s) * 1000u;
  const auto baud = static_cast<std::uint64_t>(s.baud);
  return static_cast<std::uint32_t>((bits + baud - 1) / baud);
}

int ScpApplyLineSettings(platform::SerialHandle port, const TScpLineSettings& s, bool raw) {
  platform::SerialLineConfig line;
  line.BaudRate = static_cast<std::uint32_t>(s.baud);
  line.ByteSize = static_cast<std::uint8_t>(s.dataBits);
  line.Parity = static_cast<std::uint8_t>(s.parity);
  line.fParity = s.parity != TScpParity::None;
  line.StopBits = s.stopBits == 2 ? platform::kTwoStopBits : platform::kOneStopBit;
  return platform::SerialWriteLine(
      port, line, raw ? platform::SerialLineScope::Whole : platform::SerialLineScope::Framing);
}

}  // namespace bcu::link
