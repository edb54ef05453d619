// The serial port component over a pseudo-terminal: the time of one command
// and reply (a 140-byte frame out, an 8-byte reply back, as in a flash block
// exchange), the one-way throughput through the output ring, and the CPU time
// an open, idle port costs.
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>

#include "link/ScpComPort.h"

namespace {

using bcu::link::TScpComPort;

// The radio side: the master of a pseudo-terminal pair.
struct Radio {
  int master = -1;
  int slave = -1;
  std::string path;
  Radio() {
    char name[256] = {};
    ::openpty(&master, &slave, name, nullptr, nullptr);
    path = name;
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
  }
  ~Radio() {
    ::close(master);
    ::close(slave);
  }
  // Reads exactly n bytes (blocking).
  bool ReadExactly(std::uint8_t* buf, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
      const ssize_t r = ::read(master, buf + got, n - got);
      if (r <= 0) return false;
      got += static_cast<std::size_t>(r);
    }
    return true;
  }
};

void TakeBytes(TScpComPort& port, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    if (!port.WaitCharReady(1000)) return;
    while (got < n && port.CharReady()) {
      port.GetChar();
      ++got;
    }
  }
}

void BM_ScpCommandReply(benchmark::State& state) {
  Radio radio;
  TScpComPort port;
  port.SetDevicePath(radio.path);
  port.SetOpen(true);
  std::atomic<bool> done{false};
  std::thread echo([&] {
    std::uint8_t frame[140];
    const std::uint8_t reply[8] = {0xBA, 0x7F, 0x01, 0x02, 0x07, 0x00, 0x77, 0x7E};
    while (!done.load() && radio.ReadExactly(frame, sizeof frame)) {
      if (::write(radio.master, reply, sizeof reply) != sizeof reply) break;
    }
  });
  const std::vector<std::uint8_t> frame(140, 0x5A);
  for (auto _ : state) {
    port.PutBlock(frame.data(), 140);
    TakeBytes(port, 8);
  }
  done.store(true);
  port.PutBlock(frame.data(), 140);  // lets the echo thread see `done`
  echo.join();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 148);
}
BENCHMARK(BM_ScpCommandReply)->UseRealTime();

void BM_ScpOutputThroughput(benchmark::State& state) {
  Radio radio;
  TScpComPort port;
  port.SetDevicePath(radio.path);
  port.SetOpen(true);
  constexpr std::size_t kBlock = 1024;
  constexpr std::size_t kPerIteration = 256 * 1024;
  const std::vector<std::uint8_t> block(kBlock, 0xA5);
  for (auto _ : state) {
    std::thread sink([&] {
      std::vector<std::uint8_t> buf(kPerIteration);
      radio.ReadExactly(buf.data(), buf.size());
    });
    std::size_t sent = 0;
    while (sent < kPerIteration) {
      if (port.OutBuffFree() < kBlock) {
        port.WaitCharReady(1);  // a short blocking wait, as a pumping caller does
        continue;
      }
      port.PutBlock(block.data(), kBlock);
      sent += kBlock;
    }
    sink.join();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPerIteration));
}
BENCHMARK(BM_ScpOutputThroughput)->UseRealTime();

double ProcessCpuMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// CPU time an open port with nothing to do costs in one second.
void PrintIdleCost() {
  Radio radio;
  TScpComPort port;
  port.SetDevicePath(radio.path);
  port.SetOpen(true);
  const double before = ProcessCpuMs();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double after = ProcessCpuMs();
  std::printf("idle open port: %.3f ms CPU per second\n", after - before);
}

}  // namespace

int main(int argc, char** argv) {
  PrintIdleCost();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
