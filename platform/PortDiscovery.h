#pragma once
// Which serial ports this machine has, which of them belong to a USB XIF
// interface box, and whether a port can be opened right now.
//
// On Linux the ports come from the tty devices (libudev, no udev daemon
// needed): on-board ports with real hardware behind them (ttyS*), USB serial
// adapters (ttyUSB*) and CDC-ACM devices (ttyACM*), in natural order. A box is
// recognised by the `product` text of the adapter's USB device. On Windows
// they are the COM ports (SetupAPI, then SERIALCOMM), a box recognised by its
// friendly name.
//
// The window's logic fills its 64 port slots from this interface; tests hand
// in a list of their own.
#include <string>
#include <vector>

#include "platform/SerialLockFile.h"

namespace bcu::platform {

// One serial device of the system.
struct SerialDeviceInfo {
  std::string path;     // /dev/ttyUSB0, or a path the user named
  std::string name;     // shown in the port list: ttyUSB0, or the path the user named
  std::string product;  // USB product text of the device, or a friendly name; may be empty
};

// Outcome of the open test of one port.
enum class PortAccess {
  Free,          // opened read/write and locked: the port can be used
  Busy,          // another program (or this one) holds the port: flock or UUCP lock file
  NoPermission,  // the user may not open it (not in the dialout group)
  Missing,       // no such device
  Failed,        // any other failure (see the system error)
};

struct PortTestResult {
  PortAccess access = PortAccess::Missing;
  int systemError = 0;   // the system's error number of the failed call, 0 when free
  long lockHolder = 0;   // Busy by lock file: the process that holds it
  std::string lockFile;  // ... and that lock file
};

class PortDiscovery {
 public:
  virtual ~PortDiscovery() = default;
  // The system's serial devices in a stable order. False when the system
  // cannot list its devices at all (`devices` is then left empty).
  virtual bool ListDevices(std::vector<SerialDeviceInfo>& devices) = 0;
  // Opens the device read/write without blocking, takes the advisory lock the
  // radio link takes, looks for a UUCP lock file, and lets everything go
  // again.
  virtual PortTestResult TestOpen(const std::string& path) = 0;
};

// The machine's own devices (libudev and the open test above).
class SystemPortDiscovery final : public PortDiscovery {
 public:
  explicit SystemPortDiscovery(std::string lockFolder = kSerialLockFolder)
      : lockFolder_(std::move(lockFolder)) {}
  bool ListDevices(std::vector<SerialDeviceInfo>& devices) override;
  PortTestResult TestOpen(const std::string& path) override;

 private:
  std::string lockFolder_;
};

// The open test on its own: open(O_RDWR | O_NONBLOCK | O_NOCTTY), then
// flock(LOCK_EX | LOCK_NB), then the UUCP lock file in `lockFolder` (a lock of
// a running process, this one included, makes the port busy), then close.
PortTestResult TestOpenDevice(const std::string& path,
                              const std::string& lockFolder = kSerialLockFolder);

// Box kind of a device by its product text or friendly name: 1 when it holds
// "USB XIF VYX 6400", 2 when it holds "USB XIF VYX 6700", else 0.
int UsbBoxKindFromText(const std::string& text);

// The COM number in a box's friendly name as the Windows device list gives it
// ("USB XIF VYX 6700 (COM12)"): the first 21 characters are dropped, and when
// the rest holds ")" what stands before it is read as a decimal number. 0 when
// there is no ")", no number, or a number outside 1 to 64.
int ComNumberFromFriendlyName(const std::string& name);

// Orders device names: on-board ports (ttyS*), then USB adapters (ttyUSB*),
// then CDC-ACM devices (ttyACM*), then anything else; numbers by value
// (ttyS2 before ttyS10).
bool NaturalLess(const std::string& a, const std::string& b);

// A short explanation of a failed open test for `bcu ports` (empty when free).
std::string PortAccessText(const PortTestResult& result);
// Why the port at `path` cannot be used, for the line after a refusal: the
// path, the system's own reason, and where it can be told who holds the
// port (the lock file, the processes that have it open) or what to do about
// a denied permission (the group, the udev rule). "/nonexist: No such file
// or directory".
std::string PortProblemText(const std::string& path, const PortTestResult& result);

}  // namespace bcu::platform
