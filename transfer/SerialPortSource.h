#pragma once
// Where the link's serial device gets its port from when it is not the
// system's: a line to a radio model in this process, for instance.
#include <memory>

namespace bcu::transfer {

class VYXWinExtSerialPort;

class SerialPortSource {
 public:
  virtual ~SerialPortSource() = default;
  // A closed port; the device names, opens and configures it as it would a
  // system port.
  virtual std::unique_ptr<VYXWinExtSerialPort> MakePort() = 0;
};

}  // namespace bcu::transfer
