#pragma once
// Terminal-device helpers shared by the serial device classes and the serial
// port component: exclusive open, raw line settings, queue counts, line
// errors and device-gone detection. The calls a test may need to answer
// differently (drain, modem lines, RS-485, low latency) are in
// platform/SerialDriver.h.
//
// Every call works on a descriptor the caller owns and keeps no state of its
// own.
#include <termios.h>

#include <cstdint>
#include <string>

#include "platform/SerialLockFile.h"

namespace bcu::platform {

// Opens a terminal device for reading and writing, non-blocking, without
// becoming its controlling terminal, and takes it for this process alone: an
// advisory lock (flock, so that even a second program running as root is kept
// out), the UUCP lock file in `lockFolder` (honoured always; taken into
// `lock` when one is given) and the terminal's exclusive mode. Returns the
// descriptor, or -1 with `errorNumber` set: EBUSY when another program holds
// the port (by flock or by lock file), ENOTTY when the path is not a
// terminal, else the open's errno. A port that another program holds is not
// touched beyond the open and the lock test.
int SerialOpenExclusive(const std::string& path, int& errorNumber, SerialLockFile* lock = nullptr,
                        const std::string& lockFolder = kSerialLockFolder);
// Leaves exclusive mode and closes (which also drops the flock).
void SerialClose(int fd);

bool SerialGetAttr(int fd, termios& tio);
bool SerialSetAttr(int fd, const termios& tio);
// No character processing; on a non-blocking descriptor a read returns what
// is there, fails with EAGAIN when nothing is, and returns 0 only when the
// device is gone (VMIN 1, VTIME 0);
// receiver on, modem control lines ignored for the open.
void SerialMakeRaw(termios& tio);

// The termios speed constant of `rate`, or 0 when there is none.
speed_t SerialSpeedConstant(std::uint32_t rate);
// Puts `rate` into `tio`. A rate without a speed constant cannot be expressed
// there: it is set by SerialSetCustomRate after the attributes are written.
bool SerialRateIsStandard(std::uint32_t rate);
void SerialPutRate(termios& tio, std::uint32_t rate);
// Sets any rate through the kernel's arbitrary-rate interface; false where
// the driver refuses.
bool SerialSetCustomRate(int fd, std::uint32_t rate);

// Bytes waiting in the input queue, or -1.
int SerialInputCount(int fd);

// Waits up to `realMs` for the descriptor to become writable. False on
// time-out; `gone` is set when the device reported a hang-up or an error.
bool SerialWaitWritable(int fd, std::uint32_t realMs, bool& gone);

enum class SerialWait { Input, Timeout, Gone };
// Waits up to `realMs` for input. Gone when poll reports a hang-up or an
// error. A readable descriptor with an empty queue is reported as Input: the
// caller's read then tells whether the device went away (0 bytes or EIO).
SerialWait SerialWaitReadable(int fd, std::uint32_t realMs);

// Line error flags gathered since `counters` were taken (Windows-style CE_*
// values below), with `counters` brought up to date. False where the driver
// keeps no counters.
struct SerialErrorCounters {
  int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
  bool valid = false;
};
bool SerialLineErrors(int fd, SerialErrorCounters& counters, std::uint32_t& flags);

inline constexpr std::uint32_t kCeRxOver = 0x0001;
inline constexpr std::uint32_t kCeOverrun = 0x0002;
inline constexpr std::uint32_t kCeRxParity = 0x0004;
inline constexpr std::uint32_t kCeFrame = 0x0008;
inline constexpr std::uint32_t kCeBreak = 0x0010;
inline constexpr std::uint32_t kCeTxFull = 0x0100;
inline constexpr std::uint32_t kCeIoe = 0x0400;
inline constexpr std::uint32_t kCeMode = 0x8000;

}  // namespace bcu::platform
