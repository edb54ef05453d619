// Figures of the radio link over a pseudo-terminal:
//  (a) CPU time of a wait on a silent line (the serial device transport),
//      as a share of one core;
//  (b) round trips per second of a 130-byte framed block answered by a
//      7-byte acknowledgement frame, through the link and through plain
//      read/write on the same pseudo-terminal (the ceiling), and their ratio;
//  (c) the RS-485 turnaround of the serial port component when RTS is
//      switched by its output thread: from the return of the write that
//      handed over a frame's last byte to RTS low, and to the first byte of
//      the answer in the receive ring, with the far end answering at once.
//      A pseudo-terminal has no RTS and no transmitter: a driver stand-in
//      records RTS, and either has no transmitter-empty bit (the output
//      thread waits in the driver's drain, which a pseudo-terminal ends at
//      once) or reports the transmitter empty once the far end has read
//      every byte. What this measures is the software's own reaction; the
//      time the last bit needs on a real line, and the driver's own
//      latency, need a scope on real hardware.
// Usage: bench_link [silent-wait seconds, default 10] [round-trip seconds, default 3]
//                   [turnaround exchanges, default 2000]
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "link/CommLink.h"
#include "link/Frame.h"
#include "link/ScpComPort.h"
#include "link/ScpDispatcher.h"
#include "platform/Clock.h"
#include "platform/PortTable.h"
#include "platform/SerialDriver.h"
#include "platform/Timer.h"
#include "platform/TimerPump.h"

using namespace bcu;

namespace {

double CpuSeconds() {
  rusage ru{};
  ::getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double RealSeconds() {
  return static_cast<double>(platform::RealMicros()) / 1e6;
}

// A pseudo-terminal pair; the far end answers every frame (counted by its end
// marker) with a 7-byte acknowledgement frame.
struct Line {
  int master = -1;
  int holder = -1;
  std::string path;
  std::atomic<bool> stop{false};
  std::thread peer;

  Line() {
    char name[128] = {};
    if (::openpty(&master, &holder, name, nullptr, nullptr) != 0) std::exit(1);
    path = name;
    termios t{};
    ::tcgetattr(holder, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(holder, TCSANOW, &t);
  }
  ~Line() {
    StopPeer();
    ::close(master);
    ::close(holder);
  }
  void StartPeer() {
    const std::uint8_t ackPacket[2] = {0x02, 0x07};
    const std::vector<std::uint8_t> ack = link::BuildFrame(ackPacket, 2, 0x01, 0x7F);
    stop = false;
    peer = std::thread([this, ack] {
      std::uint8_t buf[4096];
      while (!stop) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) continue;
        for (ssize_t i = 0; i < n; ++i)
          if (buf[i] == link::kFrameEnd)
            if (::write(master, ack.data(), ack.size()) != static_cast<ssize_t>(ack.size())) return;
      }
    });
  }
  void StopPeer() {
    stop = true;
    if (peer.joinable()) peer.join();
  }
};

// The link as the window wires it: clock, timer queue, pump, comm timer.
struct Host {
  platform::SteadyClock clock;
  platform::TimerQueue timers{clock};
  platform::TimerPump pump{timers};
  platform::PortTable ports;
  link::CommLink lnk;
  std::unique_ptr<platform::Timer> timer;

  explicit Host(const std::string& path) {
    link::CommInitLink(lnk);
    lnk.pump = &pump;
    lnk.clock = &clock;
    lnk.ports = &ports;
    timer = timers.Create([this] {
      link::CommSetRunning(lnk, false);
      timer->SetEnabled(false);
    });
    lnk.timeoutTimer = timer.get();
    ports.SetDevicePath(1, path);
    std::string text;
    if (!link::CommOpenSerialDevice(lnk, 1, 19200, 0, text)) {
      std::fprintf(stderr, "open failed: %s\n", text.c_str());
      std::exit(1);
    }
    link::CommSetFramed(lnk, true);
    link::CommSetRunning(lnk, true);
  }
  ~Host() { link::CommCloseLink(lnk); }
};

link::CommPacket Block() {
  link::CommPacket p;
  link::CommMakeCommand(p, link::kKeyDataBlock, true);
  for (int i = 0; i < 128; ++i) p.data[2 + i] = static_cast<std::uint8_t>(0x20 + (i % 64));
  p.length = 130;
  return p;
}

void SilentWait(double seconds) {
  Line line;
  Host host(line.path);
  link::CommSetTimeout(host.lnk, static_cast<std::uint32_t>(seconds * 1000));
  const double cpu0 = CpuSeconds(), real0 = RealSeconds();
  link::CommPacket got = link::CommReceiveFrame(host.lnk);
  const double cpu = CpuSeconds() - cpu0, real = RealSeconds() - real0;
  std::printf(
      "silent wait: %.2f s real, %.3f s CPU = %.2f%% of one core (goal < 0.3%%; result %d, %d "
      "bytes)\n",
      real, cpu, 100.0 * cpu / real, link::CommGetResult(host.lnk), got.length);
}

double LinkRoundTrips(double seconds) {
  Line line;
  line.StartPeer();
  Host host(line.path);
  link::CommSetTimeout(host.lnk, 15000);
  const link::CommPacket block = Block();
  link::CommPacket ack;
  link::CommMakeCommand(ack, link::kKeyAck, true);
  long n = 0;
  const double start = RealSeconds();
  while (RealSeconds() - start < seconds) {
    link::CommSendPacket(host.lnk, block);
    bool alt = false;
    link::CommPacket r = link::CommWaitReply(host.lnk, ack, 2, false, ack, 2, alt);
    if (r.length != 2 || link::CommGetResult(host.lnk) != link::kCommSuccess) {
      std::fprintf(stderr, "link exchange failed after %ld round trips\n", n);
      break;
    }
    ++n;
  }
  const double rate = static_cast<double>(n) / (RealSeconds() - start);
  line.StopPeer();
  return rate;
}

double RawRoundTrips(double seconds) {
  Line line;
  line.StartPeer();
  int fd = ::open(line.path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) std::exit(1);
  const link::CommPacket block = Block();
  const std::vector<std::uint8_t> frame = link::BuildFrame(block.data, block.length);
  long n = 0;
  std::uint8_t buf[64];
  const double start = RealSeconds();
  while (RealSeconds() - start < seconds) {
    if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) break;
    std::size_t got = 0;
    while (got < 7) {
      ssize_t r = ::read(fd, buf, sizeof buf);
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    if (got < 7) break;
    ++n;
  }
  const double rate = static_cast<double>(n) / (RealSeconds() - start);
  ::close(fd);
  line.StopPeer();
  return rate;
}

// The system's calls on the pseudo-terminal, plus an RTS line and, when
// asked for, a transmitter-empty bit that the modelled line sets; every
// moment of interest is recorded.
class TurnaroundDriver final : public platform::SerialDriver {
 public:
  explicit TurnaroundDriver(bool transmitterBit) : transmitterBit_(transmitterBit) {}

  void NewFrame() {
    frameStartUs_ = 0;
    lastWriteUs_ = 0;
    lineEmptyUs_ = 0;
    rtsLowUs_ = 0;
  }
  std::ptrdiff_t Write(platform::SerialHandle fd, const void* data, std::size_t n) override {
    // The far end may read the bytes before write() returns.
    if (frameStartUs_ == 0) frameStartUs_ = platform::RealMicros();
    const std::ptrdiff_t done = SerialDriver::Write(fd, data, n);
    if (done > 0) lastWriteUs_ = platform::RealMicros();
    return done;
  }
  platform::SerialTransmitter Transmitter(platform::SerialHandle fd) override {
    if (!transmitterBit_) return SerialDriver::Transmitter(fd);
    return lineEmptyUs_ != 0 ? platform::SerialTransmitter::Empty
                             : platform::SerialTransmitter::Sending;
  }
  bool GetModemLines(platform::SerialHandle, int& bits) override {
    bits = platform::kSerialLineRts;
    return true;
  }
  bool SetModemLines(platform::SerialHandle, int bits, bool on) override {
    if ((bits & platform::kSerialLineRts) && !on) rtsLowUs_ = platform::RealMicros();
    return true;
  }

  std::atomic<std::uint64_t> frameStartUs_{0}, lastWriteUs_{0}, lineEmptyUs_{0}, rtsLowUs_{0};

 private:
  bool transmitterBit_;
};

struct Turnaround {
  std::vector<double> writeToRtsLow, lineToRtsLow, lineToAnswer;
  int answerBeforeRtsLow = 0;
  bool priorityRaised = false;
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// The far end models the line at `baud`: a frame's last bit leaves the wire
// its line time after the first byte was handed over; the radio answers the
// moment it has it.
Turnaround MeasureTurnaround(bool transmitterBit, int exchanges, int baud) {
  Turnaround t;
  Line line;
  TurnaroundDriver driver(transmitterBit);
  const std::uint8_t ackPacket[2] = {0x02, 0x07};
  const std::vector<std::uint8_t> ack = link::BuildFrame(ackPacket, 2, 0x01, 0x7F);
  std::atomic<bool> stop{false};
  std::thread peer([&] {
    ::prctl(PR_SET_TIMERSLACK, 1000ul, 0ul, 0ul, 0ul);
    std::uint8_t buf[4096];
    std::size_t frameBytes = 0;
    while (!stop) {
      pollfd p{line.master, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = ::read(line.master, buf, sizeof buf);
      if (n <= 0) continue;
      for (ssize_t i = 0; i < n; ++i) {
        ++frameBytes;
        if (buf[i] != link::kFrameEnd) continue;
        const std::uint64_t lineEnd =
            driver.frameStartUs_ + frameBytes * 10 * 1000000ull / static_cast<unsigned>(baud);
        frameBytes = 0;
        const std::uint64_t now = platform::RealMicros();
        if (now < lineEnd) platform::SerialSleepMicros(static_cast<std::uint32_t>(lineEnd - now));
        driver.lineEmptyUs_ = platform::RealMicros();
        if (::write(line.master, ack.data(), ack.size()) != static_cast<ssize_t>(ack.size()))
          return;
      }
    }
  });

  link::TScpComPort port;
  port.SetSerialDriver(&driver);
  port.SetDevicePath(line.path);
  port.SetRS485Mode(true);
  port.SetOpen(true);
  port.SetBaud(baud);
  t.priorityRaised = port.OutputPriority() == link::TScpOutputPriority::Raised;
  const link::CommPacket block = Block();
  const std::vector<std::uint8_t> frame = link::BuildFrame(block.data, block.length);
  for (int i = 0; i < exchanges; ++i) {
    driver.NewFrame();
    port.PutBlock(frame.data(), static_cast<std::uint32_t>(frame.size()));
    if (!port.WaitCharReady(2000)) {
      std::fprintf(stderr, "no answer after %d exchanges\n", i);
      break;
    }
    const std::uint64_t answerUs = platform::RealMicros();
    for (int got = 0; got < 7;) {
      if (port.CharReady()) {
        port.GetChar();
        ++got;
      } else if (!port.WaitCharReady(2000)) {
        break;
      }
    }
    // The bytes count as sent once RTS is down again.
    while (port.OutBuffUsed() != 0) port.WaitCharReady(1);
    const double rtsUs = static_cast<double>(driver.rtsLowUs_.load());
    const double lineUs = static_cast<double>(driver.lineEmptyUs_.load());
    if (rtsUs == 0) continue;
    t.writeToRtsLow.push_back(rtsUs - static_cast<double>(driver.lastWriteUs_.load()));
    t.lineToRtsLow.push_back(rtsUs - lineUs);
    t.lineToAnswer.push_back(static_cast<double>(answerUs) - lineUs);
    if (static_cast<double>(answerUs) < rtsUs) ++t.answerBeforeRtsLow;
  }
  port.SetOpen(false);
  stop = true;
  peer.join();
  return t;
}

void PrintFigure(const char* what, const std::vector<double>& v) {
  std::printf("  %-42s median %6.0f us, 99%% %6.0f us, max %6.0f us\n", what, Percentile(v, 0.5),
              Percentile(v, 0.99), Percentile(v, 1.0));
}

void PrintTurnaround(const char* title, const Turnaround& t, bool transmitterBit) {
  std::printf("RS-485 turnaround at 115200 baud, %s (%zu exchanges, output thread priority %s):\n",
              title, t.writeToRtsLow.size(), t.priorityRaised ? "raised" : "normal");
  PrintFigure("last byte written -> RTS low:", t.writeToRtsLow);
  if (transmitterBit) {
    PrintFigure("last bit off the line -> RTS low:", t.lineToRtsLow);
    PrintFigure("last bit off the line -> answer read:", t.lineToAnswer);
    std::printf("  answer in before RTS low: %d of %zu\n", t.answerBeforeRtsLow,
                t.writeToRtsLow.size());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const double silent = argc > 1 ? std::atof(argv[1]) : 10.0;
  const double trips = argc > 2 ? std::atof(argv[2]) : 3.0;
  const int exchanges = argc > 3 ? std::atoi(argv[3]) : 2000;
  SilentWait(silent);
  // Link and ceiling measured in alternating rounds, best of each, so that
  // other load on the machine weighs on both alike.
  double viaLink = 0, raw = 0;
  for (int round = 0; round < 3; ++round) {
    viaLink = std::max(viaLink, LinkRoundTrips(trips / 3));
    raw = std::max(raw, RawRoundTrips(trips / 3));
  }
  std::printf(
      "round trips (130-byte block, 7-byte ack), best of 3 rounds: link %.0f/s, "
      "raw read/write %.0f/s, ratio %.0f%%\n",
      viaLink, raw, raw > 0 ? 100.0 * viaLink / raw : 0.0);
  PrintTurnaround("driver without transmitter-empty bit (drain)",
                  MeasureTurnaround(false, exchanges, 115200), false);
  PrintTurnaround("transmitter-empty bit set by the modelled line",
                  MeasureTurnaround(true, exchanges, 115200), true);
  return 0;
}
