// Sixteen radios updated at once, each virtual radio paced at 115,200 baud on
// its own pseudo-terminal, served from a child process (so that the figures
// below are the updater's alone):
//
// - each radio's time in the fleet against the time of one radio updated
//   alone in the same run (goal: within 5%);
// - the updater's CPU time over wall time while the sixteen run (goal: below
//   5% of one core), and where it goes: the threads' CPU times (sampled from
//   /proc while the run goes), the radios' threads against sixteen times the
//   solo radio's, and the rest (the main thread: port monitor, display,
//   history);
// - the updater's peak resident memory.
//
// A whole update of the embedded set (about 4 MB of code) takes several
// minutes at 115,200 baud, so the set is cut to its loader and its first code
// chunk (about 340 KB of code data); the fixed waits are shortened (the
// radio's erase and restart, and the updater's waits by --delay-scale 0.02),
// the line rate is not.
#include <dirent.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "app/ResourceAttributes.h"
#include "cli/FleetUpdate.h"
#include "platform/Clock.h"
#include "platform/EmbeddedResources.h"
#include "platform/Resources.h"
#include "sim/PtyRadio.h"

using namespace bcu;

namespace {

constexpr int kFleet = 16;
constexpr double kDelayScale = 0.02;

double Seconds() {
  return static_cast<double>(platform::RealMicros()) / 1e6;
}

double LoadAverage() {
  double l = 0;
  if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &l) != 1) l = 0;
    std::fclose(f);
  }
  return l;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The embedded set with one code chunk instead of all of them.
class OneChunkSet final : public platform::ResourceSource {
 public:
  OneChunkSet() {
    std::span<const std::uint8_t> stored;
    platform::EmbeddedResources().Find("TEXT", "ResourceAttributes_", stored);
    app::ResourceAttributes a = app::DecodeResourceAttributes(stored.data());
    a.CodeChunks = 1;
    app::EncodeResourceAttributes(a, record_.data());
  }
  bool Find(std::string_view type, std::string_view name,
            std::span<const std::uint8_t>& bytes) const override {
    if (type == "TEXT" && name == "ResourceAttributes_") {
      bytes = std::span<const std::uint8_t>(record_.data(), record_.size());
      return true;
    }
    return platform::EmbeddedResources().Find(type, name, bytes);
  }

 private:
  std::array<std::uint8_t, app::kResourceAttributesSize> record_{};
};

// kFleet + 1 paced radios in a child process; the parent learns their paths.
class ForkedRadios {
 public:
  explicit ForkedRadios(int count) {
    int toParent[2], toChild[2];
    if (pipe(toParent) != 0 || pipe(toChild) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(toParent[0]);
      close(toChild[1]);
      std::vector<std::unique_ptr<sim::PtyRadio>> radios;
      std::string paths;
      for (int i = 0; i < count; ++i) {
        sim::RadioConfig c;
        c.bootVersion = {4, 2};
        c.pacing = true;
        c.eraseMs = 100;
        c.restartMs = 200;
        c.serialNumber[7] = static_cast<std::uint8_t>(i);
        radios.push_back(std::make_unique<sim::PtyRadio>(c, 1.0));
        std::string error;
        paths += (radios.back()->Start(&error) ? radios.back()->DevicePath() : "") + "\n";
      }
      (void)!write(toParent[1], paths.data(), paths.size());
      char c;
      (void)!read(toChild[0], &c, 1);  // until the parent closes its end
      for (auto& r : radios) r->Stop();
      _exit(0);
    }
    close(toParent[1]);
    close(toChild[0]);
    control_ = toChild[1];
    std::string text;
    char buf[4096];
    while (std::count(text.begin(), text.end(), '\n') < count) {
      const ssize_t n = read(toParent[0], buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<std::size_t>(n));
    }
    close(toParent[0]);
    std::size_t from = 0;
    for (std::size_t at; (at = text.find('\n', from)) != std::string::npos; from = at + 1)
      paths_.push_back(text.substr(from, at - from));
  }
  ~ForkedRadios() {
    if (control_ >= 0) close(control_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  const std::vector<std::string>& Paths() const { return paths_; }

 private:
  pid_t pid_ = -1;
  int control_ = -1;
  std::vector<std::string> paths_;
};

// CPU seconds of every thread of this process, sampled every 50 ms until
// stopped (a thread's last 50 ms before it ends may be missed); the sampler's
// own time is left out.
class ThreadSampler {
 public:
  ThreadSampler() : thread_([this] { Loop(); }) {}
  ~ThreadSampler() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // tid -> CPU seconds; the main thread is getpid().
  std::map<long, double> Cpu() {
    std::lock_guard lock(mutex_);
    return cpu_;
  }
  double SamplerCpu() const { return samplerCpu_; }

 private:
  void Loop() {
    const long self = static_cast<long>(::syscall(SYS_gettid));
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    while (!stop_) {
      if (DIR* d = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(d)) {
          if (e->d_name[0] == '.') continue;
          const long tid = std::atol(e->d_name);
          const std::string path = std::string("/proc/self/task/") + e->d_name + "/stat";
          std::FILE* f = std::fopen(path.c_str(), "r");
          if (f == nullptr) continue;
          char buf[1024];
          const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
          std::fclose(f);
          buf[n] = 0;
          const char* p = std::strrchr(buf, ')');
          if (p == nullptr) continue;
          unsigned long long utime = 0, stime = 0;
          // Fields after the name: state (3) ... utime (14), stime (15).
          if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                          &stime) != 2)
            continue;
          const double secs = static_cast<double>(utime + stime) / tick;
          if (tid == self) {
            samplerCpu_ = secs;
            continue;
          }
          std::lock_guard lock(mutex_);
          cpu_[tid] = std::max(cpu_[tid], secs);
        }
        ::closedir(d);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::map<long, double> cpu_;
  std::atomic<double> samplerCpu_{0};
  std::thread thread_;
};

struct FleetRun {
  int code = -1;
  double wall = 0;
  double cpu = 0;
  double mainCpu = 0;                                  // the main thread
  std::vector<double> threadCpu;                       // every other thread, largest first
  std::vector<std::pair<std::string, double>> radios;  // port, seconds, from the history
  std::vector<int> codes;
};

FleetRun Update(const std::vector<std::string>& ports, const std::string& dir) {
  const std::string history = dir + "/history-" + std::to_string(ports.size()) + ".jsonl";
  cli::FleetOptions o;
  o.ports = ports;
  o.password = "gablers";
  o.yes = true;
  o.delayScale = kDelayScale;
  o.historyPath = history;
  o.programPath = "bcu";
  o.resources = std::make_shared<OneChunkSet>();
  o.updaterOptions.workDir = dir;
  o.updaterOptions.backupRoot = dir + "/backups";
  o.stopSignals = [] { return 0; };
  o.out = std::fopen("/dev/null", "w");
  o.err = o.out;
  o.in = nullptr;
  o.display = cli::DisplayMode::Lines;
  FleetRun run;
  const long mainTid = static_cast<long>(::getpid());
  const std::map<long, double> before = [] {
    ThreadSampler once;
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    once.Stop();
    return once.Cpu();
  }();
  ThreadSampler sampler;
  const double wall0 = Seconds();
  const double cpu0 = CpuSeconds();
  const double sampler0 = sampler.SamplerCpu();
  run.code = cli::RunFleetUpdate(o);
  run.wall = Seconds() - wall0;
  sampler.Stop();
  run.cpu = CpuSeconds() - cpu0 - (sampler.SamplerCpu() - sampler0);
  for (const auto& [tid, secs] : sampler.Cpu()) {
    const auto was = before.find(tid);
    const double used = secs - (was != before.end() ? was->second : 0.0);
    if (tid == mainTid)
      run.mainCpu = used;
    else if (used > 0)
      run.threadCpu.push_back(used);
  }
  std::sort(run.threadCpu.rbegin(), run.threadCpu.rend());
  std::fclose(o.out);
  std::ifstream in(history);
  std::string line;
  while (std::getline(in, line)) {
    const auto j = nlohmann::json::parse(line);
    run.radios.emplace_back(j.at("port").get<std::string>(), j.at("durationSeconds").get<double>());
    run.codes.push_back(j.at("outcome").at("code").get<int>());
  }
  return run;
}

}  // namespace

int main() {
  char pattern[] = "/tmp/bcu-bench-fleet-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (made == nullptr) return 1;
  const std::string dir = made;
  ForkedRadios radios(kFleet + 1);
  if (radios.Paths().size() != kFleet + 1 ||
      std::any_of(radios.Paths().begin(), radios.Paths().end(),
                  [](const std::string& p) { return p.empty(); })) {
    std::fprintf(stderr, "bench_fleet: the virtual radios did not start\n");
    return 1;
  }
  std::printf(
      "Fleet update: %d virtual radios paced at 115,200 baud (reduced firmware set: "
      "loader and the first code chunk, about 340 KB of code; fixed waits shortened)\n",
      kFleet);
  std::fflush(stdout);

  const FleetRun solo = Update({radios.Paths().front()}, dir);
  if (solo.radios.size() != 1 || solo.code != 0) {
    std::fprintf(stderr, "bench_fleet: the solo update failed (exit code %d)\n", solo.code);
    return 1;
  }
  const double soloSeconds = solo.radios.front().second;
  std::printf(
      "solo radio:             %8.2f s (CPU %.2f s, %.2f%% of one core; its thread %.2f s, "
      "main thread %.2f s)\n",
      soloSeconds, solo.cpu, 100.0 * solo.cpu / solo.wall,
      solo.threadCpu.empty() ? 0.0 : solo.threadCpu.front(), solo.mainCpu);
  std::fflush(stdout);

  const std::vector<std::string> fleetPorts(radios.Paths().begin() + 1, radios.Paths().end());
  const FleetRun fleet = Update(fleetPorts, dir);
  double worst = 0, sum = 0;
  int failed = 0;
  for (std::size_t i = 0; i < fleet.radios.size(); ++i) {
    const double ratio = fleet.radios[i].second / soloSeconds;
    worst = std::max(worst, ratio);
    sum += ratio;
    if (fleet.codes[i] != 0) ++failed;
    std::printf("  %-14s %8.2f s  %+6.1f%% against solo%s\n", fleet.radios[i].first.c_str(),
                fleet.radios[i].second, 100.0 * (ratio - 1.0),
                fleet.codes[i] != 0 ? "  (FAILED)" : "");
  }
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  std::printf("%d radios at once:      %8.2f s wall, exit code %d, %d failed\n", kFleet, fleet.wall,
              fleet.code, failed);
  std::printf("time against solo:      mean %+.1f%%, worst %+.1f%% (goal: within 5%%)\n",
              fleet.radios.empty() ? 0.0 : 100.0 * (sum / fleet.radios.size() - 1.0),
              100.0 * (worst - 1.0));
  std::printf(
      "updater CPU over wall:  %.1f%% of one core (goal: below 5%%), %.2f s CPU; load %.2f\n",
      100.0 * fleet.cpu / fleet.wall, fleet.cpu, LoadAverage());
  // Where it goes: the radios' own threads (the largest kFleet) against
  // sixteen solo radios, the main thread, the rest.
  double radiosCpu = 0, restCpu = 0;
  for (std::size_t i = 0; i < fleet.threadCpu.size(); ++i)
    (i < static_cast<std::size_t>(kFleet) ? radiosCpu : restCpu) += fleet.threadCpu[i];
  const double soloRadio = solo.threadCpu.empty() ? 0.0 : solo.threadCpu.front();
  std::printf(
      "  radio threads:        %.2f s CPU (%.3f s a radio; %d solo radios' threads: %.2f s)\n",
      radiosCpu, radiosCpu / kFleet, kFleet, kFleet * soloRadio);
  std::printf("  main thread:          %.2f s CPU (solo run: %.2f s)\n", fleet.mainCpu,
              solo.mainCpu);
  std::printf("  other threads:        %.2f s CPU\n", restCpu);
  std::printf("  beyond %d solo runs:  %+.2f s CPU (solo run: %.2f s CPU in all)\n", kFleet,
              fleet.cpu - kFleet * solo.cpu, solo.cpu);
  std::printf("updater peak RSS:       %.1f MiB\n", static_cast<double>(u.ru_maxrss) / 1024.0);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
