#pragma once
// The radio command link: the only road to the radio.
//
// A set of free functions over one plain context record. Packets are framed
// (link/Frame.h), sent over one of two transports (the system's serial device,
// transfer/VYXCommDeviceSerial.h, or the serial port component,
// link/ScpComPort.h) and replies are awaited in wait loops that pump the host
// between short blocking polls of the port, so Stop and the reply time-out take
// effect inside a wait. Result codes are small integers (CommResult below).
//
// Time: the link's clock may run scaled (--delay-scale) so that the fixed
// waits of a virtual radio pass quickly; reply time-outs are not fixed waits
// and last their real length whatever the clock's scale, unless a test
// shortens them explicitly (CommLink::replyTimeoutScale), and never below
// kCommShortestTimeoutMs then.
//
// Stopping: a link may refer to the StopRequest of the operation it serves.
// Once a stop at once is requested nothing in the link or above it can arm
// the running flag again, so every wait that starts afterwards ends at once;
// a stop after the step leaves the waits alone (the steps ask for it).
//
// A reply that is waiting at the port when the time-out is noticed counts
// (outside a CommStepTimeout, whose time-out ends the whole step): on a busy
// machine the thread may get round to a wait after its time-out has passed
// although the reply came in time.
#include <cstdint>
#include <functional>
#include <string>

#include "link/StopRequest.h"
#include "platform/SerialDriver.h"

namespace bcu::platform {
class Clock;
class MessagePump;
class PortTable;
class Timer;
}  // namespace bcu::platform

namespace bcu::transfer {
class VYXCommDeviceSerial;
class SerialPortSource;
}  // namespace bcu::transfer

namespace bcu::link {

class TScpComPort;

// Result codes of link and download operations.
enum CommResult : int {
  kCommSuccess = 1,
  kCommProblem =
      2,  // communication problem (silence on the component transport, or the port closed)
  kCommTimedOut = 4,       // timed out or cancelled by the user
  kCommNotAvailable = 5,   // a reply was missing where that is allowed (no boot information)
  kCommVerifyFailed = 6,   // flash verify failure
  kCommNoExtraBoot = 8,    // extra boot (SEM) information missing
  kCommWrongProcessor = 9  // processor mismatch
};

inline constexpr int kCommPacketMax = 1024;

struct CommPacket {
  std::int32_t length = 0;
  std::uint8_t data[kCommPacketMax] = {};
};

// The radio's version information, 23 bytes:
// 0-1 file format, 2-4 DSP, 5-7 controller, 8-10 hardware revision,
// 11-18 serial number, 19-20 boot version, 21-22 SEM version.
struct VersionInfo {
  std::uint8_t data[23] = {};
};

// Receives every frame the link sends or accepts, for --trace and debugging.
class CommTrace {
 public:
  virtual ~CommTrace() = default;
  // `sent`: bytes as they go on the wire. Received: the payload of a good frame.
  virtual void OnSent(const std::uint8_t* bytes, int n) = 0;
  virtual void OnReceived(const std::uint8_t* payload, int n) = 0;
};

struct CommLink {
  bool running = false;
  bool lineIdle = false;
  bool useComPort = false;
  std::int32_t framed = 0;
  TScpComPort* comPort = nullptr;                         // not owned
  transfer::VYXCommDeviceSerial* serialDevice = nullptr;  // owned while open
  platform::Timer* timeoutTimer = nullptr;                // not owned
  std::uint32_t timeoutMs = 0;

  // Host hooks (not owned; null means: no pump, the system clock, COM n is
  // /dev/ttyS<n-1>, no trace, the system's serial calls).
  platform::MessagePump* pump = nullptr;
  platform::Clock* clock = nullptr;
  const platform::PortTable* ports = nullptr;
  CommTrace* trace = nullptr;
  platform::SerialDriver* serialDriver = nullptr;
  // Why the last open of the serial device failed: its path and the
  // system's reason ("/dev/ttyUSB0: Permission denied"); empty after a good
  // open.
  std::string openError;
  // Where the serial device's port comes from (not owned); null: the
  // system's port behind the port number.
  transfer::SerialPortSource* portSource = nullptr;
  // The last wait ended because the port or device went away (closed,
  // unplugged, hang-up): CommGetResult reports a communication problem.
  bool portLost = false;
  // Inside a CommStepTimeout: the comm timer runs from the step's first wait
  // to its end instead of starting afresh with every wait.
  bool stepTimeout = false;
  bool stepTimerStarted = false;

  // The stop request of the operation the link serves (not owned; null: the
  // link cannot be stopped other than by clearing `running`).
  const StopRequest* stop = nullptr;
  // Real milliseconds per millisecond of reply time-out: 1 (the default)
  // keeps every time-out at its real length. Tests may shorten them (0.1
  // makes a 4 s time-out last 0.4 s), never below kCommShortestTimeoutMs.
  double replyTimeoutScale = 1.0;
  // Replies taken although the time-out had passed when the thread got round
  // to them (they were waiting at the port): what load costs the waits.
  int repliesAfterTimeout = 0;
  // When the comm timer started last runs out, on the link's clock.
  std::uint64_t timerDueMs = 0;
  // A download raises the thread that runs it for its exchange
  // (CommExchangePriority); false keeps it at its normal priority.
  bool raiseExchangePriority = true;
  // The refusal of that raise was told (once per link).
  bool exchangePriorityRefusalTold = false;
};

// The text told once when the system refuses the raise.
inline constexpr const char* kCommTextPriorityRefused =
    "Note: the download runs at normal priority (a higher one was not permitted).";

// Raises the calling thread's priority while the object lives, for one
// exchange (a download), where the link asks for it and the system allows
// it (platform::SerialDriver::RaiseExchangePriority); restores it at the end.
// Refused, the exchange goes on unraised and `tell` hears the refusal the
// first time only.
class CommExchangePriority {
 public:
  CommExchangePriority(CommLink& link, const std::function<void(const std::string&)>& tell);
  ~CommExchangePriority();
  CommExchangePriority(const CommExchangePriority&) = delete;
  CommExchangePriority& operator=(const CommExchangePriority&) = delete;
  const platform::SerialPriorityGrant& Grant() const { return grant_; }

 private:
  platform::SerialDriver& driver_;
  platform::SerialPriorityGrant grant_;
};

// One reply time-out for a step that may take several exchanges: a resend
// while the radio answers busy (02 0A) or "not available" (04 20). While the
// object lives, the comm timer starts with the step's first wait and runs on
// through the resends, so a radio that keeps answering busy is given up on
// when the step's time-out has passed (result 4, or 2 after silence on the
// component transport), as a silent one is. The timer stops when the object
// goes.
class CommStepTimeout {
 public:
  explicit CommStepTimeout(CommLink& link);
  ~CommStepTimeout();
  CommStepTimeout(const CommStepTimeout&) = delete;
  CommStepTimeout& operator=(const CommStepTimeout&) = delete;

 private:
  CommLink& link_;
};

// The shortest real length a shortened reply time-out is given: a radio and a
// busy machine answer well within it. With both cores loaded by busy loops
// the longest reply seen was 46 ms, under memory and I/O load with builds
// beside it 212 ms (bench_load_downloads); 300 ms and then 600 ms were
// missed now and then in whole loaded test runs.
inline constexpr std::uint32_t kCommShortestTimeoutMs = 1500;

// Command keys of the command table (row keys, not wire codes).
enum CommKey : int {
  kKeyStartDsp = 1,        // 02 00
  kKeyPairSum = 3,         // 02 02 (+2)
  kKeyDspPageWritten = 4,  // 02 03
  kKeyEndDownload = 5,     // 02 04
  kKeySumsAgree = 6,       // 02 05
  kKeySumsDiffer = 7,      // 02 06
  kKeyAck = 8,             // 02 07
  kKeyEndDspPage = 11,     // 02 08
  kKeyDeviceSerial = 24,   // 04 04
  kKeyDeviceSerialReply = 25,
  kKeyHwRevision = 26,  // 04 07
  kKeyHwRevisionReply = 27,
  kKeyControllerVersion = 28,  // 04 09
  kKeyControllerVersionReply = 29,
  kKeyDspVersion = 30,  // 04 0B
  kKeyDspVersionReply = 31,
  kKeyFileFormat = 35,  // 04 1C
  kKeyFileFormatReply = 36,
  kKeyChangeBaud = 42,     // 09 00
  kKeyStartDownload = 47,  // 02 01
  kKeyDataBlock = 48,      // 02 09 (+128)
  kKeyBusy = 49,           // 02 0A
  kKeyNotAvailable = 51,   // 04 20
  kKeyBootInfo = 56,       // 04 2D
  kKeyBootInfoReply = 57,
  kKeyExtraBootInfo = 58,  // 04 3E
  kKeyExtraBootInfoReply = 59,
};

// One row of the command table.
struct CommCommand {
  int key;
  std::uint8_t group;
  std::uint8_t code;
  std::uint8_t oneByteCode;
  int dataBytes;
};
inline constexpr int kCommCommandCount = 60;
const CommCommand& CommCommandRow(int row);  // row 0..59, storage order
// Human-readable name of a two-byte code for traces ("02 09 data block").
const char* CommCodeName(std::uint8_t group, std::uint8_t code);

// Set-up and state.
void CommInitLink(CommLink& link);
bool CommOpenComPort(CommLink& link, TScpComPort* port, std::string& errorText);
bool CommOpenSerialDevice(CommLink& link, int comNumber, int baud, int flowControl,
                          std::string& errorText);
void CommCloseLink(CommLink& link);
// Arming (true) is refused while a stop at once is requested.
void CommSetRunning(CommLink& link, bool running);
bool CommIsRunning(const CommLink& link);
// True once the operation the link serves was asked to stop at once: the
// wait in progress ends and none can start.
bool CommStopRequested(const CommLink& link);
// True once it was asked to stop at all (after its step, or at once): a
// step that may be cut stops at its next block.
bool CommStopAfterStepRequested(const CommLink& link);
// The real length of the current reply time-out (timeoutMs as
// replyTimeoutScale and kCommShortestTimeoutMs make it).
std::uint32_t CommReplyTimeoutRealMs(const CommLink& link);
bool CommIsLineIdle(const CommLink& link);
void CommSetFramed(CommLink& link, bool framed);
bool CommSetTimeout(CommLink& link, std::uint32_t ms);
void CommEndExchange(CommLink& link);
void CommStartTimer(CommLink& link);
void CommStopTimer(CommLink& link);
void CommSetPortBaud(CommLink& link, int baud);
std::uint8_t CommSerialBaudCode(int baud);
void CommChangeBaud(CommLink& link, int baud);
// Sleeps `ms` of the link's clock without pumping.
void CommSleep(CommLink& link, std::uint32_t ms);

// Command table.
int CommFindCommand(int key);
bool CommMakeCommand(CommPacket& packet, int key, bool twoByte);
int CommReplyLength(int key, bool twoByte);

// Sending.
int CommSendPacket(CommLink& link, const CommPacket& packet);
int CommSendBlock(CommLink& link, const CommPacket& packet);
int CommSendCommand(CommLink& link, std::uint8_t group, std::uint8_t code, const std::uint8_t* data,
                    int n);
int CommSendShortCommand(CommLink& link, std::uint8_t code, const std::uint8_t* data, int n);

// Receiving.
CommPacket CommWaitReply(CommLink& link, const CommPacket& expected, int expectedLen,
                         bool withChecksum, const CommPacket& alternative, int alternativeLen,
                         bool& gotAlternative);
CommPacket CommReceiveFrame(CommLink& link);
int CommReceive(CommLink& link, CommPacket& packet, std::uint8_t firstByte, int count);
int CommGetResult(const CommLink& link);

// Composite exchanges.
bool CommProbeInterface(CommLink& link);
int CommReadRadioInfo(CommLink& link, std::uint8_t platformCode, VersionInfo& info, bool withBoot);
int CommReadRadioInfoTimed(CommLink& link, std::uint8_t platformCode, VersionInfo& info,
                           bool withBoot);
// A 04 20 answer means the radio has no boot information: for platform codes
// 1, 5, 7 and 8 the result is 5 with zero bytes out (the serial device takes
// the answer at once, the component asks again until the time-out), for the
// others, where the check needs a boot version, 2 (bytes untouched).
int CommReadBootInfo(CommLink& link, std::uint8_t platformCode, std::uint8_t bootInfo[2]);
// Whether the open port's driver would switch RS-485 direction itself
// (TIOCSRS485 accepted): asked on the serial device, or what the component
// found at its open.
bool CommKernelRs485Available(CommLink& link);
std::uint16_t CommWordSum(const std::uint8_t* data, int n);

// Arms the running flag for one exchange sequence (unless a stop is
// requested). At its end the flag gets back its earlier value, or is cleared
// (kOffAtExit, a transfer's way); a stop requested in between keeps it off
// either way.
class CommRunningScope {
 public:
  enum AtExit { kRestore, kOffAtExit };
  explicit CommRunningScope(CommLink& link, AtExit atExit = kRestore);
  ~CommRunningScope();
  CommRunningScope(const CommRunningScope&) = delete;
  CommRunningScope& operator=(const CommRunningScope&) = delete;
  // False when the flag could not be armed (a stop is requested).
  bool Armed() const { return armed_; }

 private:
  CommLink& link_;
  bool restoreTo_;  // the value the flag gets at the end
  bool armed_;
};

// Open error texts.
inline constexpr const char* kCommTextPortInUse = "The chosen COM port is in use or not available";
inline constexpr const char* kCommTextPortError = "Unable to start communication: COM port error";

}  // namespace bcu::link
