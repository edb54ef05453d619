#include "transfer/VYXWinExtSerialBase.h"

#include "platform/PortTable.h"

namespace bcu::transfer {

std::uint32_t BaudCodeRate(std::uint8_t code) {
  static constexpr std::uint32_t kRates[22] = {
      110,  110,  110,   110,   110,   110,   300,   600,   1200,   1200,   2400,
      4800, 9600, 14400, 19200, 38400, 56000, 57600, 57600, 115200, 128000, 256000};
  return code < 22 ? kRates[code] : 0;
}

std::uint8_t CanonicalBaudCode(std::uint8_t code) {
  switch (code) {
    case 0:
    case 1:
    case 3:
    case 4:
    case 5:
      return kBaud110;
    case 9:
      return kBaud1200;
    case 18:
      return kBaud57600;
    default:
      return code;
  }
}

VYXWinExtSerialBase::VYXWinExtSerialBase() {
  // The first on-board port, as COM1 is on a PC.
  VYXWinExtSerialBase::SetPortName(platform::DefaultDevicePath(1));
  VYXWinExtSerialBase::InitSettings();
}

void VYXWinExtSerialBase::InitSettings() {
  isOpen = false;
  baudCode = kBaud19200;
  dataBitsCode = 3;
  parityCode = 0;
  stopBitsCode = 0;
  flowControlCode = kFlowNone;
  timeoutSeconds = 0;
  timeoutMilliseconds = 500;
  errorCode = 0;
}

bool VYXWinExtSerialBase::LineCombinationRefused(std::uint8_t dataBits, std::uint8_t stopBits) {
  if (dataBits == 0 && stopBits == 2) return true;
  if (dataBits >= 1 && dataBits <= 3 && stopBits == 1) return true;
  return false;
}

std::int32_t VYXWinExtSerialBase::ReadLine(char* buffer, std::int32_t size) {
  if (buffer == nullptr || size < 1) return 0;  // no room even for the end byte
  std::int32_t waiting = PollInput();
  if (waiting < 1) return 0;
  std::int32_t got = 0;
  while (got < waiting && got < size - 1) {
    std::uint8_t b = 0;
    if (Read(&b, 1) != 1) break;
    buffer[got++] = static_cast<char>(b);
    if (b == 0x0A) break;
  }
  buffer[got] = '\0';
  return got + 1;
}

}  // namespace bcu::transfer
