#include "link/CommLink.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

#include "link/CommReceive.h"
#include "link/Frame.h"
#include "link/ScpComPort.h"
#include "platform/Clock.h"
#include "platform/PortTable.h"
#include "platform/Pump.h"
#include "platform/Timer.h"
#include "transfer/SerialPortSource.h"
#include "transfer/VYXCommDeviceSerial.h"

namespace bcu::link {

namespace {

// Longest real time a wait blocks on the port before it pumps again: the
// component transport (whose line counts as idle after one such block) ...
constexpr std::uint32_t kPollBlockMs = 5;
// ... and the serial device, where a block is one wake-up of the thread: on a
// silent line each costs more than the pump it serves ...
constexpr std::uint32_t kDeviceBlockMs = 10;
// ... plus the line time of what this side still has on its way out (no
// answer can be complete before that), up to this.
constexpr std::uint32_t kPollBlockLongestMs = 20;
// Bytes taken in one pass of a wait before the host is pumped again.
constexpr int kBytesPerPass = 4096;
// The component transport's send path: longest wait for output-ring space and
// for CTS to drop in RS-485 mode; the close path: longest wait for the output
// ring to drain. A send that gives up reports -1; a close that gives up
// discards what is left.
constexpr std::uint32_t kSpaceWaitMs = 5000;
constexpr std::uint32_t kCtsWaitMs = 2000;
constexpr std::uint32_t kDrainWaitMs = 5000;

void PumpOnce(CommLink& link) {
  if (link.pump) link.pump->Pump();
}

// Sleeps a couple of real milliseconds between pumps of a wait that has no
// descriptor to block on.
void Nap() {
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

std::uint64_t RealMsNow() {
  return platform::RealMicros() / 1000;
}

// Pumps and naps until `done` holds or `limitMs` of real time have passed.
template <typename Done>
bool PumpUntil(CommLink& link, std::uint32_t limitMs, Done done) {
  const std::uint64_t end = RealMsNow() + limitMs;
  for (;;) {
    if (done()) return true;
    if (RealMsNow() >= end) return false;
    PumpOnce(link);
    if (done()) return true;
    Nap();
  }
}

// The transport as one wait loop sees it.
class Source {
 public:
  explicit Source(CommLink& link) : link_(link) {}

  // False when the port or device is closed or gone; sets portLost.
  bool Usable() {
    if (link_.useComPort) {
      TScpComPort* port = link_.comPort;
      if (port == nullptr || !port->Open() || port->PortLost()) return Lost();
      return true;
    }
    transfer::VYXCommDeviceSerial* dev = link_.serialDevice;
    if (dev == nullptr || !dev->IsOpen() || dev->Lost()) return Lost();
    return true;
  }
  // A byte is at hand without any system call: in the component's receive
  // ring, or read ahead from the serial device by an earlier Block.
  bool Available() {
    try {
      if (link_.useComPort) return link_.comPort->CharReady();
      return link_.serialDevice->Buffered();
    } catch (const EScpException&) {
      return false;
    }
  }
  // As Available, and for the serial device also what waits at the port
  // (without blocking).
  bool AvailableNow() {
    if (Available()) return true;
    if (link_.useComPort) return false;
    return link_.serialDevice->WaitForInput(0);
  }
  // One byte; false when none could be read.
  bool Take(std::uint8_t& b) {
    try {
      if (link_.useComPort) {
        b = link_.comPort->GetChar();
        return true;
      }
      return link_.serialDevice->ReadByte(&b) == 1;
    } catch (const EScpException&) {
      return false;
    }
  }
  // Blocks until a byte is waiting (true) or the block time is over.
  bool Block() {
    try {
      if (link_.useComPort) return link_.comPort->WaitCharReady(kPollBlockMs);
      // While a frame of ours is still on the line, no answer to it can be
      // complete: the block lasts that long on top of the short one, so a
      // paced line costs one wake-up per answer, not one per short block.
      const std::uint64_t busyMs = link_.serialDevice->Port().LineBusyUs() / 1000;
      const auto ms = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(kDeviceBlockMs + busyMs, kPollBlockLongestMs));
      return link_.serialDevice->WaitForInput(ms);
    } catch (const EScpException&) {
      return false;
    }
  }

 private:
  bool Lost() {
    link_.portLost = true;
    return false;
  }
  CommLink& link_;
};

std::uint64_t ClockNowMs(CommLink& link) {
  return link.clock != nullptr ? link.clock->NowMs() : RealMsNow();
}

// The comm timer's time is up: running went false because time ran out, not
// because of a Stop.
bool TimerRanOut(CommLink& link) {
  return link.timeoutTimer != nullptr && ClockNowMs(link) >= link.timerDueMs;
}

// The wait loop shared by every receive operation. `feed` takes one byte and
// returns true when it completed what the wait is for.
template <typename Feed>
bool WaitLoop(CommLink& link, bool setsLineIdle, Feed feed) {
  Source src(link);
  bool accepted = false;
  const bool wasRunning = link.running;
  link.portLost = false;
  while (link.running && !accepted) {
    PumpOnce(link);
    // A stop requested from elsewhere (another thread) ends the wait as the
    // Stop button does.
    if (CommStopRequested(link)) link.running = false;
    if (!src.Usable()) break;
    // The line counts as idle when nothing came within one short block, so
    // that bytes arriving at any rate the line can carry never read as
    // silence.
    if (!src.Available() && !src.Block()) {
      if (setsLineIdle) link.lineIdle = true;
      continue;
    }
    link.lineIdle = false;
    // Every byte that is waiting is taken before the next pump, one at a time
    // through the parser: running cannot change between them. A pass that
    // starts with running already cleared takes one byte only.
    const int limit = link.running ? kBytesPerPass : 1;
    for (int i = 0; i < limit && !accepted; ++i) {
      if (i > 0 && !src.Available()) break;
      std::uint8_t b = 0;
      if (!src.Take(b)) break;
      accepted = feed(b);
    }
  }
  // The time-out ended the wait (not a stop, not a lost port, not a wait
  // that started without the link running): what is already waiting came
  // before this thread noticed the time-out, and may be the reply. Only
  // bytes at hand are taken; nothing is waited for.
  if (!accepted && wasRunning && !link.running && !link.stepTimeout && TimerRanOut(link) &&
      !CommStopRequested(link) && !link.portLost) {
    for (int i = 0; i < kBytesPerPass && !accepted && src.AvailableNow(); ++i) {
      std::uint8_t b = 0;
      if (!src.Take(b)) break;
      accepted = feed(b);
    }
    if (accepted) {
      link.running = true;
      link.lineIdle = false;
      ++link.repliesAfterTimeout;
    }
  }
  return accepted;
}

void TraceReceived(CommLink& link, const FrameParser& parser) {
  if (link.trace)
    link.trace->OnReceived(parser.Payload(), static_cast<int>(parser.PayloadLength()));
}

CommPacket PayloadPacket(const FrameParser& parser) {
  CommPacket p;
  p.length = static_cast<std::int32_t>(
      std::min<std::size_t>(parser.PayloadLength(), static_cast<std::size_t>(kCommPacketMax)));
  std::memcpy(p.data, parser.Payload(), static_cast<std::size_t>(p.length));
  return p;
}

// Copies n data bytes of a reply (after its two-byte code) to `out`; bytes
// the reply does not carry (a 04 20 answer) are zero.
void CopyReplyData(const CommPacket& reply, int n, std::uint8_t* out) {
  for (int i = 0; i < n; ++i) {
    const int at = 2 + i;
    out[i] = (at < reply.length && at < kCommPacketMax) ? reply.data[at] : 0;
  }
}

CommPacket MakePacket(int key) {
  CommPacket p;
  CommMakeCommand(p, key, true);
  return p;
}

// One information request: send `requestKey`, wait for `replyKey` or 04 20.
int Exchange(CommLink& link, int requestKey, int replyKey, CommPacket& reply, bool& gotAlt) {
  CommSendPacket(link, MakePacket(requestKey));
  reply =
      CommWaitReply(link, MakePacket(replyKey), CommReplyLength(replyKey, true), false,
                    MakePacket(kKeyNotAvailable), CommReplyLength(kKeyNotAvailable, true), gotAlt);
  return CommGetResult(link);
}

// Every wait runs the comm timer; inside a step time-out only the step's
// first wait starts it and no wait stops it.
void BeginWaitTimer(CommLink& link) {
  if (link.stepTimeout) {
    if (link.stepTimerStarted) return;
    link.stepTimerStarted = true;
  }
  CommStartTimer(link);
}

void EndWaitTimer(CommLink& link) {
  if (!link.stepTimeout) CommStopTimer(link);
}

}  // namespace

CommStepTimeout::CommStepTimeout(CommLink& link) : link_(link) {
  link_.stepTimeout = true;
  link_.stepTimerStarted = false;
}

CommStepTimeout::~CommStepTimeout() {
  link_.stepTimeout = false;
  link_.stepTimerStarted = false;
  CommStopTimer(link_);
}

CommExchangePriority::CommExchangePriority(CommLink& link,
                                           const std::function<void(const std::string&)>& tell)
    : driver_(link.serialDriver != nullptr ? *link.serialDriver : platform::SystemSerialDriver()) {
  if (!link.raiseExchangePriority) return;
  grant_ = driver_.RaiseExchangePriority();
  if (grant_.kind == platform::SerialPriority::Normal && grant_.error != 0 &&
      !link.exchangePriorityRefusalTold) {
    link.exchangePriorityRefusalTold = true;
    if (tell) tell(kCommTextPriorityRefused);
  }
}

CommExchangePriority::~CommExchangePriority() {
  if (grant_.kind != platform::SerialPriority::Normal) driver_.RestoreExchangePriority(grant_);
}

// ---- Set-up and state ------------------------------------------------------

void CommInitLink(CommLink& link) {
  link.running = false;
  link.lineIdle = false;
  link.useComPort = false;
  link.comPort = nullptr;
  link.serialDevice = nullptr;
  link.portLost = false;
}

bool CommOpenComPort(CommLink& link, TScpComPort* port, std::string& errorText) {
  link.useComPort = true;
  link.running = false;
  link.lineIdle = false;
  link.portLost = false;
  link.comPort = port;
  if (port == nullptr) {
    errorText = kCommTextPortError;
    return false;
  }
  try {
    if (link.ports != nullptr) port->SetPortTable(link.ports);
    if (link.serialDriver != nullptr) port->SetSerialDriver(link.serialDriver);
    port->SetOpen(true);
    port->FlushInBuffer();
    port->FlushOutBuffer();
  } catch (const EScpException& e) {
    errorText = e.ErrorCode() == kScpErrAlreadyOpen ? kCommTextPortInUse : kCommTextPortError;
    return false;
  }
  errorText.clear();
  return true;
}

bool CommOpenSerialDevice(CommLink& link, int comNumber, int baud, int flowControl,
                          std::string& errorText) {
  link.running = false;
  link.lineIdle = false;
  link.useComPort = false;
  link.portLost = false;
  // A device left from an earlier open is released first, so that it neither
  // leaks nor keeps its port.
  delete link.serialDevice;
  link.serialDevice = nullptr;
  link.openError.clear();
  const std::string path = link.ports != nullptr ? link.ports->DevicePath(comNumber)
                                                 : platform::DefaultDevicePath(comNumber);
  const std::string name = path.empty() ? "COM" + std::to_string(comNumber) : path;
  try {
    link.serialDevice =
        link.portSource != nullptr
            ? new transfer::VYXCommDeviceSerial(link.ports, link.portSource->MakePort())
            : new transfer::VYXCommDeviceSerial(link.ports, link.serialDriver);
    if (link.serialDevice->OpenPort(comNumber, CommSerialBaudCode(baud), flowControl != 0))
      return true;
    const std::string& why = link.serialDevice->Port().OpenErrorText();
    link.openError = name + ": " + (why.empty() ? std::string("no such device") : why);
  } catch (const std::exception& e) {
    link.openError = name + ": " + e.what();
  } catch (...) {
    link.openError = name + ": cannot be opened";
  }
  errorText = kCommTextPortError;
  return false;
}

void CommCloseLink(CommLink& link) {
  if (link.serialDevice != nullptr) {
    if (link.serialDevice->IsOpen()) link.serialDevice->Close();
    delete link.serialDevice;
    link.serialDevice = nullptr;
  }
  if (link.useComPort && link.comPort != nullptr && link.comPort->Open()) {
    TScpComPort* port = link.comPort;
    PumpUntil(link, kDrainWaitMs, [&] { return !port->Open() || port->OutBuffUsed() == 0; });
    CommStopTimer(link);
    try {
      if (port->Open()) {
        port->FlushInBuffer();
        port->FlushOutBuffer();
      }
      port->SetOpen(false);
    } catch (const EScpException&) {
      try {
        port->SetOpen(false);
      } catch (const EScpException&) {
      }
    }
  }
}

void CommSetRunning(CommLink& link, bool running) {
  link.running = running && !CommStopRequested(link);
}
bool CommIsRunning(const CommLink& link) {
  return link.running;
}
bool CommStopRequested(const CommLink& link) {
  return link.stop != nullptr && link.stop->AtOnce();
}
bool CommStopAfterStepRequested(const CommLink& link) {
  return link.stop != nullptr && link.stop->Requested();
}

std::uint32_t CommReplyTimeoutRealMs(const CommLink& link) {
  const double scale = link.replyTimeoutScale;
  if (!(scale > 0.0) || scale >= 1.0) return link.timeoutMs;
  const double shortened = std::ceil(static_cast<double>(link.timeoutMs) * scale);
  const std::uint32_t floor = std::min(link.timeoutMs, kCommShortestTimeoutMs);
  return std::max(floor, static_cast<std::uint32_t>(shortened));
}

CommRunningScope::CommRunningScope(CommLink& link, AtExit atExit)
    : link_(link), restoreTo_(atExit == kRestore && link.running) {
  CommSetRunning(link_, true);
  armed_ = link_.running;
}

CommRunningScope::~CommRunningScope() {
  CommSetRunning(link_, restoreTo_);
}
bool CommIsLineIdle(const CommLink& link) {
  return link.useComPort ? link.lineIdle : false;
}
void CommSetFramed(CommLink& link, bool framed) {
  link.framed = framed ? 1 : 0;
}

bool CommSetTimeout(CommLink& link, std::uint32_t ms) {
  link.timeoutMs = ms;
  return true;
}

void CommEndExchange(CommLink& link) {
  (void)link;
}

void CommStartTimer(CommLink& link) {
  if (link.timeoutTimer == nullptr) return;
  // The timer counts on the host's clock, which may run scaled for the fixed
  // waits; the interval is chosen so that the time-out lasts its real length.
  const double realMs = CommReplyTimeoutRealMs(link);
  const double scale = link.clock != nullptr ? link.clock->Scale() : 1.0;
  const double clockMs = scale > 0.0 ? std::ceil(realMs / scale) : realMs;
  const auto interval = static_cast<std::uint32_t>(std::min(clockMs, 4.0e9));
  link.timeoutTimer->SetInterval(interval);
  link.timeoutTimer->SetEnabled(true);
  link.timerDueMs = ClockNowMs(link) + interval;
}

void CommStopTimer(CommLink& link) {
  if (link.timeoutTimer != nullptr) link.timeoutTimer->SetEnabled(false);
}

std::uint8_t CommSerialBaudCode(int baud) {
  switch (baud) {
    case 9600:
      return 12;
    case 19200:
      return 14;
    case 38400:
      return 15;
    case 57600:
      return 17;
    case 115200:
      return 19;
    default:
      return 14;
  }
}

void CommSetPortBaud(CommLink& link, int baud) {
  if (link.useComPort) {
    if (link.comPort == nullptr) return;
    try {
      link.comPort->SetBaud(baud);
    } catch (const EScpException&) {
      // The old rate stays; the next exchange fails and says so.
    }
  } else if (link.serialDevice != nullptr) {
    link.serialDevice->SetBaud(CommSerialBaudCode(baud));
  }
}

void CommSleep(CommLink& link, std::uint32_t ms) {
  if (link.clock != nullptr) {
    link.clock->SleepMs(ms);
  } else {
    platform::SteadyClock clock;
    clock.SleepMs(ms);
  }
}

void CommChangeBaud(CommLink& link, int baud) {
  std::uint8_t rate;
  switch (baud) {
    case 9600:
      rate = 0;
      break;
    case 19200:
      rate = 1;
      break;
    case 38400:
      rate = 3;
      break;
    case 57600:
      rate = 4;
      break;
    case 115200:
      rate = 5;
      break;
    default:
      rate = 1;
  }
  CommPacket p;
  CommMakeCommand(p, kKeyChangeBaud, true);
  p.data[p.length++] = rate;
  CommSendPacket(link, p);
  // The device has sent the packet when Write returns; the radio needs a
  // moment to switch before the PC follows.
  if (!link.useComPort) CommSleep(link, 100);
  CommSetPortBaud(link, baud);
}

// ---- Sending ---------------------------------------------------------------

int CommSendPacket(CommLink& link, const CommPacket& packet) {
  std::vector<std::uint8_t> bytes;
  if (link.framed) {
    bytes = BuildFrame(packet.data, packet.length);
  } else {
    const int n = std::clamp<std::int32_t>(packet.length, 0, kCommPacketMax);
    bytes.assign(packet.data, packet.data + n);
  }
  const int count = static_cast<int>(bytes.size());
  if (link.trace) link.trace->OnSent(bytes.data(), count);

  if (link.useComPort) {
    TScpComPort* port = link.comPort;
    if (port == nullptr) return -1;
    try {
      // Room in the output ring; a block larger than the whole ring never fits.
      if (count > port->OutSize()) return -1;
      if (!PumpUntil(link, kSpaceWaitMs, [&] { return port->OutBuffFree() >= count; })) return -1;
      // RS-485: the line is busy while CTS is on.
      if (!PumpUntil(link, kCtsWaitMs, [&] { return !(port->RS485Mode() && port->CTS()); }))
        return -1;
      return port->PutBlock(bytes.data(), static_cast<std::uint32_t>(count));
    } catch (const EScpException&) {
      if (port->PortLost()) link.portLost = true;
      return -1;
    }
  }
  if (link.serialDevice == nullptr) return -1;
  return link.serialDevice->Write(bytes.data(), count);
}

int CommSendBlock(CommLink& link, const CommPacket& packet) {
  const int r = CommSendPacket(link, packet);
  if (link.useComPort) return r == 0 ? 1 : -1;
  return r;
}

int CommSendCommand(CommLink& link, std::uint8_t group, std::uint8_t code, const std::uint8_t* data,
                    int n) {
  CommPacket p;
  p.data[0] = group;
  p.data[1] = code;
  if (data == nullptr || n < 0) n = 0;
  n = std::min(n, kCommPacketMax - 2);
  if (n > 0) std::memcpy(p.data + 2, data, static_cast<std::size_t>(n));
  p.length = 2 + n;
  return CommSendBlock(link, p);
}

int CommSendShortCommand(CommLink& link, std::uint8_t code, const std::uint8_t* data, int n) {
  CommPacket p;
  p.data[0] = code;
  if (data == nullptr || n < 0) n = 0;
  n = std::min(n, kCommPacketMax - 1);
  if (n > 0) std::memcpy(p.data + 1, data, static_cast<std::size_t>(n));
  p.length = 1 + n;
  return CommSendBlock(link, p);
}

// ---- Receiving -------------------------------------------------------------

CommPacket CommWaitReply(CommLink& link, const CommPacket& expected, int expectedLen,
                         bool withChecksum, const CommPacket& alternative, int alternativeLen,
                         bool& gotAlternative) {
  gotAlternative = false;
  link.lineIdle = false;
  CommPacket reply;
  BeginWaitTimer(link);
  if (link.framed || !link.useComPort) {
    auto parser = std::make_unique<FrameParser>();
    WaitLoop(link, true, [&](std::uint8_t b) {
      if (!parser->Feed(b)) return false;
      TraceReceived(link, *parser);
      const CommMatch m = CommMatchReply(parser->Payload(), parser->PayloadLength(), expected,
                                         expectedLen, alternative, alternativeLen);
      if (m == CommMatch::None) return false;
      gotAlternative = m == CommMatch::Alternative;
      reply = PayloadPacket(*parser);
      return true;
    });
  } else {
    CommRawCollector raw(expected.data[0], expectedLen + (withChecksum ? 1 : 0), withChecksum);
    if (WaitLoop(link, true, [&](std::uint8_t b) { return raw.Feed(b); })) {
      reply = raw.Packet();
      reply.length = expectedLen;  // a checksum byte stays in the data after the reply
    }
  }
  EndWaitTimer(link);
  return reply;
}

CommPacket CommReceiveFrame(CommLink& link) {
  link.lineIdle = false;
  CommPacket reply;
  BeginWaitTimer(link);
  auto parser = std::make_unique<FrameParser>();
  WaitLoop(link, true, [&](std::uint8_t b) {
    if (!parser->Feed(b)) return false;
    TraceReceived(link, *parser);
    reply = PayloadPacket(*parser);
    return true;
  });
  EndWaitTimer(link);
  return reply;
}

int CommReceive(CommLink& link, CommPacket& packet, std::uint8_t firstByte, int count) {
  link.lineIdle = false;
  bool got = false;
  BeginWaitTimer(link);
  if (link.framed) {
    auto parser = std::make_unique<FrameParser>();
    got = WaitLoop(link, false, [&](std::uint8_t b) {
      if (!parser->Feed(b)) return false;
      TraceReceived(link, *parser);
      packet = PayloadPacket(*parser);
      return true;
    });
  } else {
    CommRawCollector raw(firstByte, count, true);
    got = WaitLoop(link, false, [&](std::uint8_t b) { return raw.Feed(b); });
    if (got) {
      std::memcpy(packet.data, raw.Packet().data, static_cast<std::size_t>(count));
      packet.length = count;
    }
  }
  EndWaitTimer(link);
  return got ? 1 : -1;
}

int CommGetResult(const CommLink& link) {
  if (link.portLost) return kCommProblem;
  if (link.useComPort && link.lineIdle) return kCommProblem;
  return link.running ? kCommSuccess : kCommTimedOut;
}

// ---- Composite exchanges ---------------------------------------------------

bool CommProbeInterface(CommLink& link) {
  static constexpr std::uint8_t kProbe[10] = {0xBA, 0x7F, 0x4F, 0x09, 0x01,
                                              0x77, 0x77, 0x77, 0xC3, 0x7E};
  CommPacket probe;
  std::memcpy(probe.data, kProbe, sizeof kProbe);
  probe.length = sizeof kProbe;
  CommSetFramed(link, false);
  CommSendPacket(link, probe);
  CommSetFramed(link, true);
  CommPacket present;
  present.data[0] = 0x09;
  present.data[1] = 0x02;
  present.length = 2;
  bool alt = false;
  CommPacket reply = CommWaitReply(link, present, 6, false, present, 6, alt);
  return reply.length > 0;
}

int CommReadRadioInfo(CommLink& link, std::uint8_t platformCode, VersionInfo& info, bool withBoot) {
  struct Step {
    int request, reply, at, n;
  };
  static constexpr Step kSteps[] = {
      {kKeyFileFormat, kKeyFileFormatReply, 0, 2},
      {kKeyDspVersion, kKeyDspVersionReply, 2, 3},
      {kKeyControllerVersion, kKeyControllerVersionReply, 5, 3},
      {kKeyHwRevision, kKeyHwRevisionReply, 8, 3},
      {kKeyDeviceSerial, kKeyDeviceSerialReply, 11, 8},
  };
  CommPacket reply;
  bool alt = false;
  int status = 0;
  for (const Step& s : kSteps) {
    status = Exchange(link, s.request, s.reply, reply, alt);
    if (status != kCommSuccess) return status;
    CopyReplyData(reply, s.n, info.data + s.at);
  }
  status = Exchange(link, kKeyBootInfo, kKeyBootInfoReply, reply, alt);
  const bool bootOptional = platformCode == 1 || platformCode == 5 || platformCode == 7;
  if (status == kCommSuccess && !alt) {
    CopyReplyData(reply, 2, info.data + 19);
  } else if (status == kCommSuccess || bootOptional) {
    // No boot version: missing, or answered 04 20 ("not available").
    info.data[19] = info.data[20] = 0;
    if (bootOptional) status = kCommNotAvailable;
  }
  info.data[21] = info.data[22] = 0;
  if (!withBoot) return status;
  const bool knownPlatform = platformCode == 0 || (platformCode >= 1 && platformCode <= 8 &&
                                                   platformCode != 2 && platformCode != 3);
  if ((status != kCommSuccess && status != kCommNotAvailable) || !knownPlatform) return status;
  const std::uint8_t controller = info.data[5];
  if (controller == 2 || controller == 4 || controller == 6) {
    CommSendPacket(link, MakePacket(kKeyExtraBootInfo));
    CommPacket extra = CommReceiveFrame(link);
    status = CommGetResult(link);
    if (status == kCommSuccess)
      CopyReplyData(extra, 2, info.data + 21);
    else
      status = kCommNoExtraBoot;
  }
  return status;
}

int CommReadRadioInfoTimed(CommLink& link, std::uint8_t platformCode, VersionInfo& info,
                           bool withBoot) {
  CommSetTimeout(link, 4000);
  const int status = CommReadRadioInfo(link, platformCode, info, withBoot);
  CommEndExchange(link);
  return status;
}

int CommReadBootInfo(CommLink& link, std::uint8_t platformCode, std::uint8_t bootInfo[2]) {
  CommSetTimeout(link, 4000);
  CommPacket reply;
  bool alt = false;
  int status = 0;
  {
    // The component asks again while the radio answers 04 20, within one
    // time-out for the whole read.
    CommStepTimeout step(link);
    status = Exchange(link, kKeyBootInfo, kKeyBootInfoReply, reply, alt);
    if (link.useComPort) {
      while (alt && link.running)
        status = Exchange(link, kKeyBootInfo, kKeyBootInfoReply, reply, alt);
    }
  }
  const bool optional =
      platformCode == 1 || platformCode == 5 || platformCode == 7 || platformCode == 8;
  if (status == kCommSuccess && !alt) {
    CopyReplyData(reply, 2, bootInfo);
  } else if (optional) {
    bootInfo[0] = bootInfo[1] = 0;
    status = kCommNotAvailable;
  } else if (status == kCommSuccess) {
    // 04 20 where a boot version is needed: no version to check against.
    status = kCommProblem;
  }
  CommEndExchange(link);
  return status;
}

bool CommKernelRs485Available(CommLink& link) {
  if (link.useComPort) return link.comPort != nullptr && link.comPort->KernelRS485();
  return link.serialDevice != nullptr && link.serialDevice->IsOpen() &&
         link.serialDevice->Port().KernelRs485Available();
}

std::uint16_t CommWordSum(const std::uint8_t* data, int n) {
  std::uint16_t sum = 0;
  if (data == nullptr) return 0;
  for (int i = 0; i < n; i += 2) {
    const std::uint8_t low = (i + 1 < n) ? data[i + 1] : 0;  // an odd count ends in a half word
    sum = static_cast<std::uint16_t>(sum + ((data[i] << 8) | low));
  }
  return sum;
}

}  // namespace bcu::link
