// Flash download throughput against a virtual radio served in another process
// over a pseudo-terminal.
//
// 1. Unpaced: an application image (512 KB of data unless told) as fast as
//    the pty carries it, against the ceiling of a raw 130-byte block plus
//    7-byte answer round trip between two processes over a pty. The two are
//    measured in alternating rounds within one run (the ceiling itself moves
//    with the machine's load), each round's ratio printed, and their median.
// 2. Paced at 115,200 baud by the radio: wall time over the time the bytes of
//    the dialogue need on the line (10 bits a byte, one direction at a time),
//    the updater's CPU time over wall time, and the turnaround: from the last
//    byte of a reply on the line (the radio hands the frame's end marker over)
//    to the first byte of our next frame (its write), median and 99th
//    percentile. Once on a quiet machine and twice under two busy loops, with
//    the download's priority raise and without it.
//
// Usage: bench_download [paced data bytes, default 131072] [unpaced rounds, default 3]
//                       [unpaced data bytes, default 524288]
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "link/CommLink.h"
#include "link/FlashDownload.h"
#include "link/Frame.h"
#include "platform/Clock.h"
#include "platform/EmbeddedResources.h"
#include "platform/Host.h"
#include "platform/PortTable.h"
#include "platform/SerialDriver.h"
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
      radio.RecordFrameEnds(true);
      std::string error;
      std::string path = radio.Start(&error) ? radio.DevicePath() : "";
      path += "\n";
      (void)!write(toParent[1], path.data(), path.size());
      char c;
      (void)!read(toChild[0], &c, 1);  // until the parent closes its end
      radio.Stop();
      // Then the times the radio's frames were on the line, for the parent.
      const std::vector<std::uint64_t> ends = radio.FrameEndTimes();
      const std::uint64_t count = ends.size();
      (void)!write(toParent[1], &count, sizeof count);
      const char* p = reinterpret_cast<const char*>(ends.data());
      std::size_t left = ends.size() * sizeof(std::uint64_t);
      while (left > 0) {
        const ssize_t w = write(toParent[1], p, left);
        if (w <= 0) break;
        p += w;
        left -= static_cast<std::size_t>(w);
      }
      _exit(0);
    }
    close(toParent[1]);
    close(toChild[0]);
    control_ = toChild[1];
    fromChild_ = toParent[0];
    char buf[256];
    ssize_t n = read(fromChild_, buf, sizeof buf - 1);
    if (n > 0) path_.assign(buf, static_cast<std::size_t>(n - 1));
  }
  ~ForkedRadio() { Stop(); }
  const std::string& Path() const { return path_; }

  // Stops the radio; the real times at which its frames' end markers went out.
  std::vector<std::uint64_t> Stop() {
    std::vector<std::uint64_t> ends;
    if (control_ >= 0) close(control_);
    control_ = -1;
    if (fromChild_ >= 0) {
      std::uint64_t count = 0;
      if (ReadAll(&count, sizeof count) && count < (1u << 26)) {
        ends.resize(count);
        if (!ReadAll(ends.data(), count * sizeof(std::uint64_t))) ends.clear();
      }
      close(fromChild_);
      fromChild_ = -1;
    }
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return ends;
  }

 private:
  bool ReadAll(void* to, std::size_t n) {
    char* p = static_cast<char*>(to);
    while (n > 0) {
      const ssize_t r = read(fromChild_, p, n);
      if (r <= 0) return false;
      p += r;
      n -= static_cast<std::size_t>(r);
    }
    return true;
  }
  pid_t pid_ = -1;
  int control_ = -1;
  int fromChild_ = -1;
  std::string path_;
};

// Busy loops in child processes, stopped by their process ids.
class BusyLoops {
 public:
  explicit BusyLoops(int n) {
    for (int i = 0; i < n; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        volatile unsigned long spin = 0;
        for (;;) spin = spin + 1;
      }
      if (pid > 0) pids_.push_back(pid);
    }
  }
  ~BusyLoops() {
    for (pid_t pid : pids_) kill(pid, SIGKILL);
    for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
  }

 private:
  std::vector<pid_t> pids_;
};

// Counts the bytes of the dialogue on the wire inside a window.
struct WireCounter final : link::CommTrace {
  bool counting = false;
  std::int64_t bytes = 0;
  double endTime = 0;
  double endCpu = 0;
  std::vector<std::uint64_t> sentUs;  // when each frame of ours went to the port
  void OnSent(const std::uint8_t* b, int n) override {
    if (!counting) return;
    sentUs.push_back(platform::RealMicros());  // (its write follows at once)
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
  std::vector<std::uint64_t> sentUs;
  std::string priority = "normal";
};

RunResult RunDownload(const std::string& device, const std::string& loader, const std::string& code,
                      double scale, int baud, bool raise = true) {
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
  link.raiseExchangePriority = raise;
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
  {
    // What the download's own raise gets, asked the same way beforehand.
    platform::SerialDriver& driver = platform::SystemSerialDriver();
    const platform::SerialPriorityGrant g =
        raise ? driver.RaiseExchangePriority() : platform::SerialPriorityGrant{};
    r.priority = g.kind == platform::SerialPriority::RealTime ? "raised (real-time)"
                 : g.kind == platform::SerialPriority::Nice   ? "raised (nice)"
                 : raise                                      ? "refused, normal"
                                                              : "normal (not raised)";
    if (g.kind != platform::SerialPriority::Normal) driver.RestoreExchangePriority(g);
  }
  r.result = download.Run(loaderFile, codeFile);
  r.seconds = window.wire.endTime - window.start;
  r.cpuSeconds = window.wire.endCpu - window.cpuStart;
  r.wireBytes = window.wire.bytes;
  r.sentUs = window.wire.sentUs;
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

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// For each frame we sent right after a reply came (a reply's end marker went
// out after our previous frame): the time from that end marker to our frame.
std::vector<double> Turnarounds(const std::vector<std::uint64_t>& sent,
                                const std::vector<std::uint64_t>& replyEnds) {
  std::vector<double> out;
  std::size_t r = 0;
  for (std::size_t i = 1; i < sent.size(); ++i) {
    while (r < replyEnds.size() && replyEnds[r] <= sent[i - 1]) ++r;
    std::size_t last = r;
    while (last < replyEnds.size() && replyEnds[last] <= sent[i]) ++last;
    if (last == r) continue;  // no reply between our two frames
    out.push_back(static_cast<double>(sent[i] - replyEnds[last - 1]));
  }
  return out;
}

double LoadAverage() {
  double l = 0;
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &l) != 1) l = 0;
    std::fclose(f);
  }
  return l;
}

// S3 records of 16 pseudo-random data bytes, `bytes` in all, and the end.
std::string MakeImage(int bytes, std::uint32_t seed) {
  std::string text;
  std::uint8_t rec[16];
  std::uint32_t v = seed;
  for (int i = 0; i < bytes / 16; ++i) {
    for (auto& b : rec) b = static_cast<std::uint8_t>((v = v * 1103515245u + 12345u) >> 16);
    text += tools::MakeSRecord('3', 0x100000 + 16u * static_cast<std::uint32_t>(i), rec, 16);
  }
  return text + tools::MakeSRecord('9', 0, nullptr, 0);
}

std::string Join(const tools::DemoImage& image) {
  std::string s;
  for (const auto& c : image.chunks) s += c;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const int pacedBytes = argc > 1 ? std::max(4096, std::atoi(argv[1])) : 131072;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const int unpacedBytes = argc > 3 ? std::max(4096, std::atoi(argv[3])) : 524288;
  std::string loader;
  for (const auto& image : tools::DemoImages())
    if (image.baseName == "Loader") loader = Join(image);
  const std::string code = MakeImage(unpacedBytes, 777);
  const double dataBytes = unpacedBytes / 16 * 16;
  const double blocks = std::ceil(dataBytes / 256.0) * 2;

  // 1. Unpaced, against the raw ceiling in alternating rounds.
  {
    std::printf("unpaced: %.0f data bytes, %.0f blocks, %d rounds\n", dataBytes, blocks, rounds);
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
      sim::RadioConfig config;
      config.codeKind = sim::CodeKind::kApplication;
      ForkedRadio radio(config, 0.05);
      const double load = LoadAverage();
      RunResult r = RunDownload(radio.Path(), loader, code, 0.05, 19200);
      radio.Stop();
      const double rate = r.seconds > 0 ? blocks / r.seconds : 0;
      const double ceiling =
          RawRoundTripsPerSecond(static_cast<int>(std::clamp(rate, 2000.0, 20000.0)));
      const double ratio = ceiling > 0 ? rate / ceiling : 0;
      ratios.push_back(ratio);
      std::printf(
          "  round %d (load %.2f): result %d, %.2f s, %.0f blocks/s, %.2f MB/s of data; raw "
          "ceiling "
          "%.0f round trips/s; ratio %.1f %%\n",
          round + 1, load, r.result, r.seconds, rate, dataBytes / r.seconds / 1e6, ceiling,
          100.0 * ratio);
    }
    std::printf("  blocks/s over the raw ceiling, median of %d rounds: %.1f %% (goal >= 60 %%)\n",
                rounds, 100.0 * Percentile(ratios, 0.5));
  }

  // 2. Paced at 115,200 baud.
  const std::string small = MakeImage(pacedBytes, 12345);
  struct Case {
    const char* title;
    int busyLoops;
    bool raise;
    double ratioGoal;
  };
  const Case cases[] = {{"quiet", 0, true, 1.01},
                        {"two busy loops", 2, true, 1.03},
                        {"two busy loops, priority not raised", 2, false, 1.03}};
  std::printf("paced at 115200 baud: %d data bytes\n", pacedBytes / 16 * 16);
  for (const Case& c : cases) {
    sim::RadioConfig config;
    config.codeKind = sim::CodeKind::kApplication;
    config.pacing = true;
    config.eraseMs = 100;
    ForkedRadio radio(config, 1.0);
    RunResult r;
    double load = 0;
    {
      BusyLoops busy(c.busyLoops);
      load = LoadAverage();
      r = RunDownload(radio.Path(), loader, small, 1.0, 115200, c.raise);
    }
    const std::vector<double> turn = Turnarounds(r.sentUs, radio.Stop());
    const double bound = static_cast<double>(r.wireBytes) * 10.0 / 115200.0;
    std::printf("  %s (load %.2f at the start; priority %s):\n", c.title, load, r.priority.c_str());
    std::printf("    result %d, wall %.3f s, protocol-bound %.3f s (%lld bytes on the line)\n",
                r.result, r.seconds, bound, static_cast<long long>(r.wireBytes));
    std::printf("    wall / bound: %.4f (goal <= %.2f)\n", r.seconds / bound, c.ratioGoal);
    std::printf("    updater CPU / wall: %.2f %% of one core (goal < 0.5 %%)\n",
                100.0 * r.cpuSeconds / r.seconds);
    std::printf(
        "    turnaround, reply's last byte on the line -> our next frame (%zu): median %.0f us "
        "(goal < 100), 99%% %.0f us (goal < 1000), max %.0f us\n",
        turn.size(), Percentile(turn, 0.5), Percentile(turn, 0.99), Percentile(turn, 1.0));
    std::fflush(stdout);
  }
  return 0;
}
