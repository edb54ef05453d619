#include "transfer/VYXCommDeviceSerial.h"

#include "platform/PortTable.h"
#include "platform/SerialPort.h"

namespace bcu::transfer {

VYXCommDeviceSerial::VYXCommDeviceSerial(const platform::PortTable* ports,
                                         platform::SerialDriver* driver)
    : port(std::make_unique<VYXWinExtSerialPort>()), ports_(ports) {
  deviceKind = 2;
  port->SetDriver(driver);
}

VYXCommDeviceSerial::VYXCommDeviceSerial(const platform::PortTable* ports,
                                         std::unique_ptr<VYXWinExtSerialPort> linePort)
    : port(std::move(linePort)), ports_(ports) {
  deviceKind = 2;
}

VYXCommDeviceSerial::~VYXCommDeviceSerial() = default;  // the port closes itself

int VYXCommDeviceSerial::Open() {
  if (!port->IsOpen()) aheadPos_ = aheadEnd_ = 0;
  if (!port->Open()) return -1;
  port->Flush();
  return 1;
}

int VYXCommDeviceSerial::Close() {
  aheadPos_ = aheadEnd_ = 0;
  port->Flush();
  port->Close();
  return 1;
}

bool VYXCommDeviceSerial::IsOpen() {
  return port->IsOpen();
}

bool VYXCommDeviceSerial::HasInput() {
  if (aheadPos_ < aheadEnd_ && port->IsOpen()) return true;
  return port->PollInput() > 0;
}

bool VYXCommDeviceSerial::FillAhead() {
  std::int32_t got = port->ReadNow(ahead_, static_cast<std::int32_t>(sizeof ahead_));
  if (got <= 0) return false;
  aheadPos_ = 0;
  aheadEnd_ = got;
  return true;
}

int VYXCommDeviceSerial::ReadByte(std::uint8_t* byte) {
  if (byte == nullptr || !port->IsOpen()) return port->Read(byte, 1);
  if (aheadPos_ >= aheadEnd_ && !FillAhead()) return port->Read(byte, 1);
  *byte = ahead_[aheadPos_++];
  return 1;
}

std::int32_t VYXCommDeviceSerial::Read(std::uint8_t* buffer, std::int32_t n) {
  if (buffer == nullptr || n <= 0 || aheadPos_ >= aheadEnd_ || !port->IsOpen())
    return port->Read(buffer, n);
  std::int32_t got = 0;
  while (got < n && aheadPos_ < aheadEnd_) buffer[got++] = ahead_[aheadPos_++];
  if (got < n && port->InputCount() > 0) {
    std::int32_t more = port->Read(buffer + got, n - got);
    if (more > 0) got += more;
  }
  return got;
}

std::int32_t VYXCommDeviceSerial::Write(const std::uint8_t* buffer, std::int32_t n) {
  return port->Write(buffer, n);
}

std::uint32_t VYXCommDeviceSerial::ErrorCode() {
  return port->GetErrorCode();
}

bool VYXCommDeviceSerial::OpenPort(int comNumber, std::uint8_t baudCode, bool handshakeOn) {
  std::string path;
  if (ports_ != nullptr)
    path = ports_->DevicePath(comNumber);
  else if (comNumber >= 1 && comNumber <= platform::kPortSlots)
    path = platform::DefaultDevicePath(comNumber);
  if (path.empty()) return false;  // no device behind that number
  return OpenPort(path, baudCode, handshakeOn);
}

bool VYXCommDeviceSerial::OpenPort(const std::string& devicePath, std::uint8_t baudCode,
                                   bool handshakeOn) {
  aheadPos_ = aheadEnd_ = 0;
  port->SetPortName(devicePath);
  if (Open() != 1) return false;
  port->SetBaudRate(baudCode);
  port->SetDataBits(3);
  port->SetStopBits(0);
  port->SetParity(0);
  SetHandshake(handshakeOn);
  port->SetTimeouts(2, 0);
  return true;
}

void VYXCommDeviceSerial::SetBaud(std::uint8_t baudCode) {
  port->SetBaudRate(baudCode);
}

void VYXCommDeviceSerial::SetHandshake(bool on) {
  handshake = on;
  port->SetFlowControl(on ? kFlowCtsRtsToggle : kFlowNone);
}

bool VYXCommDeviceSerial::WaitForInput(std::uint32_t realMs) {
  if (!port->IsOpen() || port->Lost()) return false;
  if (aheadPos_ < aheadEnd_) return true;
  // Block on the descriptor; what arrives goes straight into the read-ahead,
  // and a readable device that yields nothing is gone.
  switch (port->WaitReadable(realMs)) {
    case platform::SerialWait::Timeout:
    case platform::SerialWait::Woken:  // no wake-up is given to these waits
      return false;
    case platform::SerialWait::Gone:
      return port->WaitForInput(0);  // the port looks again and records the loss
    case platform::SerialWait::Input:
      break;
  }
  std::int32_t got = port->ReadNow(ahead_, static_cast<std::int32_t>(sizeof ahead_));
  if (got <= 0) return false;  // nothing after all, or gone (recorded by the port)
  aheadPos_ = 0;
  aheadEnd_ = got;
  return true;
}

bool VYXCommDeviceSerial::Lost() const {
  return port->Lost();
}

}  // namespace bcu::transfer
