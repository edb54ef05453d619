// Flash download throughput against a virtual radio served in another process
// over a pseudo-terminal.
//
// 1. Unpaced: the whole demo application image (about 4 MB of data) as fast as
//    the pty carries it, against the ceiling of a raw 130-byte block plus
//    7-byte answer round trip between two processes over a pty.
// 2. Paced at 115,200 baud by the radio: wall time over the time the bytes of
//    the dialogue need on the line (10 bits a byte, one direction at a time),
//    and the updater's CPU time over wall time.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "link/CommLink.h"
#include "link/FlashDownload.h"
#include "link/Frame.h"
#include "platform/Clock.h"
#include "platform/EmbeddedResources.h"
#include "platform/Host.h"
#include "platform/PortTable.h"
#include "platform/TimerPump.h"
#include "sim/PtyRadio.h"
#include "tools/DemoFirmware.h"

using namespace bcu;

namespace {

double Seconds() {
  return static_cast<double>(platform::RealMicros()) / 1e6;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A virtual radio in a child process; the parent learns its device path.
class ForkedRadio {
 public:
  ForkedRadio(const sim::RadioConfig& config, double scale) {
    int toParent[2], toChild[2];
    if (pipe(toParent) != 0 || pipe(toChild) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(toParent[0]);
      close(toChild[1]);
      sim::PtyRadio radio(config, scale);
      std::string error;
      std::string path = radio.Start(&error) ? radio.DevicePath() : "";
      path += "\n";
      (void)!write(toParent[1], path.data(), path.size());
      char c;
      (void)!read(toChild[0], &c, 1);  // until the parent closes its end
      radio.Stop();
      _exit(0);
    }
    close(toParent[1]);
    close(toChild[0]);
    control_ = toChild[1];
    char buf[256];
    ssize_t n = read(toParent[0], buf, sizeof buf - 1);
    close(toParent[0]);
    if (n > 0) path_.assign(buf, static_cast<std::size_t>(n - 1));
  }
  ~ForkedRadio() {
    if (control_ >= 0) close(control_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  const std::string& Path() const { return path_; }

 private:
  pid_t pid_ = -1;
  int control_ = -1;
  std::string path_;
};

// Counts the bytes of the dialogue on the wire inside a window.
struct WireCounter final : link::CommTrace {
  bool counting = false;
  std::int64_t bytes = 0;
  double endTime = 0;
  double endCpu = 0;
  void OnSent(const std::uint8_t* b, int n) override {
    if (!counting) return;
    bytes += n;
    // The end of download command (BA 7F 01 02 04 cs 7E) closes the window.
    if (n == 7 && b[3] == 0x02 && b[4] == 0x04) {
      counting = false;
      endTime = Seconds();
      endCpu = CpuSeconds();
    }
  }
  void OnReceived(const std::uint8_t* payload, int n) override {
    if (counting)
      bytes += static_cast<std::int64_t>(link::BuildFrame(payload, n, 0x01, 0x7F).size());
  }
};

struct Window {
  WireCounter wire;
  double start = 0;
  double cpuStart = 0;
  static void Status(void* form, const std::string& text) {
    auto* w = static_cast<Window*>(form);
    if (text == "Downloading Application code ...") {
      w->start = Seconds();
      w->cpuStart = CpuSeconds();
      w->wire.counting = true;
    }
  }
};

struct RunResult {
  int result = 0;
  double seconds = 0;
  double cpuSeconds = 0;
  std::int64_t wireBytes = 0;
};

RunResult RunDownload(const std::string& device, const std::string& loader, const std::string& code,
                      double scale, int baud) {
  platform::SteadyClock clock(scale);
  platform::TimerQueue timers(clock);
  platform::TimerPump pump(timers);
  platform::PortTable ports;
  ports.SetDevicePath(1, device);
  link::CommLink link;
  link::CommInitLink(link);
  link.pump = &pump;
  link.clock = &clock;
  link.ports = &ports;
  auto commTimer = timers.Create([&] {
    link::CommSetRunning(link, false);
    link.timeoutTimer->SetEnabled(false);
  });
  link.timeoutTimer = commTimer.get();
  Window window;
  link.trace = &window.wire;
  std::string error;
  RunResult r;
  if (!link::CommOpenSerialDevice(link, 1, 19200, 0, error)) {
    std::fprintf(stderr, "open %s: %s\n", device.c_str(), error.c_str());
    return r;
  }
  link::CommSetFramed(link, true);
  link::CommSetRunning(link, true);
  if (baud != 19200) link::CommChangeBaud(link, baud);
  std::istringstream loaderFile(loader), codeFile(code);
  platform::ProgressValues bar;
  link::FlashDownloader download(link, &Window::Status, &window, 0, bar, false, false);
  r.result = download.Run(loaderFile, codeFile);
  r.seconds = window.wire.endTime - window.start;
  r.cpuSeconds = window.wire.endCpu - window.cpuStart;
  r.wireBytes = window.wire.bytes;
  link::CommCloseLink(link);
  link.timeoutTimer = nullptr;
  return r;
}

// Raw ceiling: 130 bytes one way, 7 back, over a pty between two processes.
double RawRoundTripsPerSecond(int rounds) {
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return 0;
  termios t{};
  tcgetattr(slave, &t);
  cfmakeraw(&t);
  tcsetattr(slave, TCSANOW, &t);
  tcgetattr(master, &t);
  cfmakeraw(&t);
  tcsetattr(master, TCSANOW, &t);
  auto readFull = [](int fd, std::uint8_t* b, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
      ssize_t k = read(fd, b + got, n - got);
      if (k <= 0) return false;
      got += static_cast<std::size_t>(k);
    }
    return true;
  };
  pid_t pid = fork();
  if (pid == 0) {
    close(slave);
    std::uint8_t block[130], ack[7] = {0xBA, 0x01, 0x7F, 0x02, 0x07, 0x77, 0x7E};
    for (int i = 0; i < rounds; ++i) {
      if (!readFull(master, block, sizeof block)) break;
      (void)!write(master, ack, sizeof ack);
    }
    _exit(0);
  }
  close(master);
  std::uint8_t block[130] = {0xBA, 0x7F, 0x01, 0x02, 0x09}, ack[7];
  const double t0 = Seconds();
  for (int i = 0; i < rounds; ++i) {
    (void)!write(slave, block, sizeof block);
    if (!readFull(slave, ack, sizeof ack)) break;
  }
  const double elapsed = Seconds() - t0;
  close(slave);
  waitpid(pid, nullptr, 0);
  return rounds / elapsed;
}

std::string Join(const tools::DemoImage& image) {
  std::string s;
  for (const auto& c : image.chunks) s += c;
  return s;
}

}  // namespace

int main() {
  std::string loader, code;
  for (const auto& image : tools::DemoImages()) {
    if (image.baseName == "Loader") loader = Join(image);
    if (image.baseName == "Code") code = Join(image);
  }
  const double dataBytes = static_cast<double>(tools::DemoImageData("Code").size());
  const double blocks = std::ceil(dataBytes / 256.0) * 2;

  // 1. Unpaced.
  {
    sim::RadioConfig config;
    config.codeKind = sim::CodeKind::kApplication;
    ForkedRadio radio(config, 0.05);
    RunResult r = RunDownload(radio.Path(), loader, code, 0.05, 19200);
    const double ceiling = RawRoundTripsPerSecond(20000);
    const double rate = blocks / r.seconds;
    std::printf("unpaced: demo application image, %.0f data bytes, %.0f blocks\n", dataBytes,
                blocks);
    std::printf("  result %d, %.2f s, %.0f blocks/s, %.2f MB/s of data\n", r.result, r.seconds,
                rate, dataBytes / r.seconds / 1e6);
    std::printf("  raw ceiling (130-byte block + 7-byte answer over a pty): %.0f round trips/s\n",
                ceiling);
    std::printf("  blocks/s over ceiling: %.1f %% (target >= 80 %%)\n", 100.0 * rate / ceiling);
  }

  // 2. Paced at 115,200 baud: a 256 KB application.
  {
    std::vector<std::uint8_t> data;
    std::string small;
    std::uint8_t rec[16];
    std::uint32_t v = 12345;
    for (int i = 0; i < 16384; ++i) {
      for (auto& b : rec) b = static_cast<std::uint8_t>((v = v * 1103515245u + 12345u) >> 16);
      small += tools::MakeSRecord('3', 0x100000 + 16u * i, rec, 16);
    }
    small += tools::MakeSRecord('9', 0, nullptr, 0);
    sim::RadioConfig config;
    config.codeKind = sim::CodeKind::kApplication;
    config.pacing = true;
    config.eraseMs = 100;
    ForkedRadio radio(config, 1.0);
    RunResult r = RunDownload(radio.Path(), loader, small, 1.0, 115200);
    const double bound = static_cast<double>(r.wireBytes) * 10.0 / 115200.0;
    std::printf("paced at 115200 baud: 262144 data bytes\n");
    std::printf("  result %d, wall %.3f s, protocol-bound %.3f s (%lld bytes on the line)\n",
                r.result, r.seconds, bound, static_cast<long long>(r.wireBytes));
    std::printf("  wall / bound: %.4f (target <= 1.03)\n", r.seconds / bound);
    std::printf("  updater CPU / wall: %.2f %% (target < 2 %%)\n",
                100.0 * r.cpuSeconds / r.seconds);
  }
  return 0;
}
