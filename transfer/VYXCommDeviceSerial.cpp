#include "transfer/VYXCommDeviceSerial.h"

#include "platform/PortTable.h"

namespace bcu::transfer {

VYXCommDeviceSerial::VYXCommDeviceSerial(const platform::PortTable* ports)
    : port(std::make_unique<VYXWinExtSerialPort>()), ports_(ports) {
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
  return port->PollInput() > 0;
}

int VYXCommDeviceSerial::ReadByte(std::uint8_t* byte) {
  return port->Read(byte, 1);
}

std::int32_t VYXCommDeviceSerial::Read(std::uint8_t* buffer, std::int32_t n) {
  return port->Read(buffer, n);
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
  return port->WaitForInput(realMs);
}

bool VYXCommDeviceSerial::Lost() const {
  return port->Lost();
}

}  // namespace bcu::transfer
