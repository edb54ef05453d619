#pragma once
// Terminal-device helpers shared by the serial device classes and the serial
// port component: exclusive open, raw line settings, queue counts, bounded
// drain, modem lines, the low-latency flag and device-gone detection.
//
// Every call works on a descriptor the caller owns and keeps no state of its
// own. Calls that a device may not support (modem lines and the low-latency
// flag on a pseudo-terminal) report "not supported" by their result and never
// disturb the descriptor.
#include <termios.h>

#include <cstdint>
#include <string>

namespace bcu::platform {

// Opens a terminal device for reading and writing, non-blocking, without
// becoming its controlling terminal, and takes it for this process alone: an
// advisory lock (flock, so that even a second program running as root is kept
// out) and the terminal's exclusive mode. Returns the descriptor, or -1 with
// `errorNumber` set: EBUSY when another program holds the port, ENOTTY when
// the path is not a terminal, else the open's errno.
int SerialOpenExclusive(const std::string& path, int& errorNumber);
// Leaves exclusive mode and closes (which also drops the lock).
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
// Bytes not yet sent from the output queue, or -1.
int SerialOutputCount(int fd);

// Waits until the output queue is empty, blocking a few milliseconds at a time,
// for at most `maxRealMs`. False when the bytes did not leave in that time
// (a hung adapter) or the device failed.
bool SerialDrain(int fd, std::uint32_t maxRealMs);
// Discards the input queue, the output queue or both.
void SerialDiscard(int fd, bool input, bool output);

// Waits up to `realMs` for the descriptor to become writable. False on
// time-out; `gone` is set when the device reported a hang-up or an error.
bool SerialWaitWritable(int fd, std::uint32_t realMs, bool& gone);

enum class SerialWait { Input, Timeout, Gone };
// Waits up to `realMs` for input. Gone when poll reports a hang-up or an
// error. A readable descriptor with an empty queue is reported as Input: the
// caller's read then tells whether the device went away (0 bytes or EIO).
SerialWait SerialWaitReadable(int fd, std::uint32_t realMs);

// Modem lines (TIOCM_* bits). False where the device has none.
bool SerialGetModemLines(int fd, int& bits);
bool SerialSetModemLine(int fd, int bit, bool on);

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

// Low-latency mode (the driver hands over received bytes at once instead of
// after its latency timer). Returns false where the driver has no such flag;
// else `previous` tells whether it was on before.
bool SerialSetLowLatency(int fd, bool on, bool& previous);

// RS-485 direction control (RTS raised while sending) where the driver
// supports it.
bool SerialSetRs485(int fd, bool on);

}  // namespace bcu::platform
