// The update history at scale: a file of 100,000 records (one line each, as
// a busy shop collects over years), and what it costs to add one record to it
// and to list it.
//
// - one append at 1,000 and at 100,000 lines: CPU seconds and peak memory of
//   a fresh process doing only that (goal: the same at both sizes);
// - `bcu history` over 100,000 lines, all of them, one serial number, and
//   since a date: CPU seconds and peak memory (goal: < 0.5 s and < 20 MB).
//
// Each figure comes from a child process (the bench itself, or bcu), so that
// the peak memory is that operation's alone. The load average is printed
// beside the figures.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/UpdateHistory.h"

using namespace bcu;

#ifndef BCU_PROGRAM
#define BCU_PROGRAM "bcu"
#endif

namespace {

constexpr int kLines = 100000;
constexpr double kGoalListSeconds = 0.5;
constexpr double kGoalListMb = 20;

app::HistoryRecord Record(int i) {
  app::HistoryRecord r;
  r.port = "/dev/ttyUSB" + std::to_string(i % 4);
  char serial[16];
  std::snprintf(serial, sizeof serial, "%03dABC%04d", i % 977, i % 10000);
  r.serialNumber = serial;
  r.versionsBefore = {"5.9", "D06.01.00", "R03.04.00", "HW 3", "B01.02", "S02.00"};
  r.versionsAfter = {"5.10", "D06.02.00", "R04.04.00", "HW 3", "B01.03", "S02.00"};
  r.codeplugFormatBefore = "5.9";
  r.codeplugFormatAfter = "5.10";
  r.firmwareSetName = "Portable 6400 series 2 application";
  r.firmwareSetRelease = "R04.04.00";
  r.backupPath = "/home/technician/.local/share/brisant-code-updater/backups/" + r.serialNumber +
                 "-20261208T140305Z.cpl";
  r.outcomeCode = i % 7 == 0 ? 5 : 0;
  r.outcomeText = i % 7 == 0 ? "Codeplug Not Converted - codeplug version 5.7 not supported"
                             : "Radio Update Completed Successfully";
  // One record an hour, from 2015 on.
  r.startTime = app::IsoUtcTime(static_cast<std::time_t>(1420070400 + 3600ll * i));
  r.durationSeconds = 312.4 + i % 50;
  return r;
}

// The file with `lines` records, written directly (not through the append).
void WriteHistory(const std::string& path, int lines) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::perror(path.c_str());
    std::exit(1);
  }
  for (int i = 0; i < lines; ++i)
    std::fprintf(f, "%s\n", app::HistoryRecordToJson(Record(i)).dump().c_str());
  std::fclose(f);
}

struct Cost {
  bool ok = false;
  double cpu = 0;
  double peakMb = 0;
};

// Runs argv with stdout to /dev/null; its CPU seconds and peak memory.
Cost Run(const std::vector<std::string>& argv, const std::string& dataHome) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage u{};
  if (pid < 0 || wait4(pid, &status, 0, &u) != pid) return {};
  Cost c;
  c.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  c.cpu = static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
          static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  c.peakMb = static_cast<double>(u.ru_maxrss) / 1024.0;  // kB on Linux
  return c;
}

std::string Load() {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) != 3) return "load ?";
  char text[64];
  std::snprintf(text, sizeof text, "load %.2f %.2f %.2f", load[0], load[1], load[2]);
  return text;
}

// The child that appends one record.
int AppendOnce(const char* path) {
  std::string error;
  if (!app::AppendHistory(path, {Record(kLines)}, error)) {
    std::fprintf(stderr, "append: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--append-once") == 0) return AppendOnce(argv[2]);
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  const std::string bcu = argc > 1 ? argv[1] : BCU_PROGRAM;

  char pattern[] = "/tmp/bench_history.XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string dataHome = pattern;
  const std::string path = dataHome + "/brisant-code-updater/history.jsonl";
  int failures = 0;

  for (const int lines : {1000, kLines}) {
    WriteHistory(path, lines);
    // The first append after writing pays for the page cache; take the second.
    Run({self, "--append-once", path}, dataHome);
    const Cost c = Run({self, "--append-once", path}, dataHome);
    std::printf("append one record at %6d lines: %.4f s CPU, peak %.1f MB  (%s)%s\n", lines, c.cpu,
                c.peakMb, Load().c_str(), c.ok ? "" : "  FAILED");
    if (!c.ok) ++failures;
  }

  WriteHistory(path, kLines);
  std::printf("history file: %d lines, %.1f MB\n", kLines,
              static_cast<double>(std::filesystem::file_size(path)) / 1e6);
  struct Listing {
    const char* what;
    std::vector<std::string> args;
  };
  const Listing listings[] = {
      {"bcu history", {bcu, "history"}},
      {"bcu history --csv", {bcu, "history", "--csv"}},
      {"bcu history --serial 042ABC0042", {bcu, "history", "--serial", "042ABC0042"}},
      {"bcu history --since 2026-01-01", {bcu, "history", "--since", "2026-01-01"}},
  };
  for (const Listing& l : listings) {
    const Cost c = Run(l.args, dataHome);
    const bool met = c.cpu < kGoalListSeconds && c.peakMb < kGoalListMb;
    std::printf("%-34s %.3f s CPU, peak %.1f MB  (goal < %.1f s, < %.0f MB: %s)  (%s)%s\n", l.what,
                c.cpu, c.peakMb, kGoalListSeconds, kGoalListMb, met ? "met" : "missed",
                Load().c_str(), c.ok ? "" : "  FAILED");
    if (!c.ok) ++failures;
  }
  std::filesystem::remove_all(dataHome);
  return failures == 0 ? 0 : 1;
}
