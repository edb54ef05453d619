// Flash downloads against the virtual radio, one after another, counting the
// ones that fail: the reproducer for downloads failing on a busy machine
// (scripts/load-downloads runs it under busy loops and under memory and I/O
// load).
//
// Each download goes as an update's does: open the pseudo-terminal as the
// serial device, probe for the interface box (500 ms), switch to 115,200
// baud, loader, erase wait, code. Every second download is paced at the line
// rate by the radio, the others go as fast as the pty carries them. Both
// sides run on clocks scaled as the test rigs scale them, so that the fixed
// waits pass quickly while the reply time-outs keep their own scale.
//
// For each failure it prints the result and status texts, what was waiting
// at the PC when the download gave up, and the last frames each side saw with
// the real times between them. At the end: downloads, failures, the reply
// times the PC saw (after each frame it sent, how long until the next frame
// came), how late the radio's own timed wake-ups came, and the load average.
// The exit code is 1 when any download failed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/CommLink.h"
#include "link/FlashDownload.h"
#include "platform/Clock.h"
#include "platform/Host.h"
#include "platform/PortTable.h"
#include "platform/TimerPump.h"
#include "sim/PtyRadio.h"
#include "sim/RadioFrameLog.h"
#include "tools/DemoFirmware.h"
#include "transfer/VYXCommDeviceSerial.h"

using namespace bcu;

namespace {

struct Options {
  int count = 20;
  double scale = 0.04;       // real ms per clock ms, both sides
  double replyScale = 0.25;  // real ms per ms of reply time-out
  int platformCode = 1;      // 1: the shortest erase wait after an application loader
  bool boot = false;
  int codeBytes = 8192;
  bool verbose = false;
};

void Usage() {
  std::fprintf(stderr,
               "usage: bench_load_downloads [--count N] [--scale S] [--reply-scale R]\n"
               "                            [--platform P] [--boot] [--code-bytes B] [-v]\n"
               "  --count N        downloads (default 20), every second one paced\n"
               "  --scale S        real ms per clock ms of both sides (default 0.04)\n"
               "  --reply-scale R  real ms per ms of the reply time-outs (default 0.25;\n"
               "                   1 keeps them real; never below 1500 ms)\n"
               "  --platform P     platform code of the download (default 1)\n"
               "  --boot           a boot code download\n"
               "  --code-bytes B   data bytes of the code (default 8192)\n"
               "  -v               one line per download\n");
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](double& out) {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      out = std::strtod(argv[++i], &end);
      return end != nullptr && *end == '\0';
    };
    double v = 0;
    if (a == "--count" && value(v)) {
      o.count = static_cast<int>(v);
    } else if (a == "--scale" && value(v)) {
      o.scale = v;
    } else if (a == "--reply-scale" && value(v)) {
      o.replyScale = v;
    } else if (a == "--platform" && value(v)) {
      o.platformCode = static_cast<int>(v);
    } else if (a == "--code-bytes" && value(v)) {
      o.codeBytes = static_cast<int>(v);
    } else if (a == "--boot") {
      o.boot = true;
    } else if (a == "-v") {
      o.verbose = true;
    } else {
      return false;
    }
  }
  return o.count > 0 && o.scale > 0 && o.replyScale > 0 && o.codeBytes > 0;
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// S-record text of `bytes` random data bytes, 16 to a record, and its data.
std::string SRecords(int bytes, std::uint32_t seed, std::vector<std::uint8_t>& data) {
  std::mt19937 random(seed);
  data.resize(static_cast<std::size_t>(bytes));
  for (auto& b : data) b = static_cast<std::uint8_t>(random());
  std::string text = tools::MakeSRecord('0', 0, nullptr, 0);
  for (int at = 0; at < bytes; at += 16) {
    const int n = std::min(16, bytes - at);
    text += tools::MakeSRecord('3', 0x100000u + static_cast<std::uint32_t>(at), data.data() + at,
                               static_cast<std::size_t>(n));
  }
  return text + tools::MakeSRecord('7', 0, nullptr, 0);
}

// The PC's side: every frame sent and every good frame accepted by a wait,
// with its real time; and the reply times.
class PcFrames final : public link::CommTrace {
 public:
  struct Note {
    bool sent;
    std::uint64_t realUs;
    std::uint8_t group, code;
    int length;
  };
  void OnSent(const std::uint8_t* b, int n) override {
    const std::uint64_t now = platform::RealMicros();
    // A frame: BA 7F 01, then the payload's code bytes (never stuffed).
    Add({true, now, n > 3 ? b[3] : std::uint8_t{0}, n > 4 ? b[4] : std::uint8_t{0}, n});
    lastSentUs_ = now;
    awaiting_ = true;
  }
  void OnReceived(const std::uint8_t* p, int n) override {
    const std::uint64_t now = platform::RealMicros();
    Add({false, now, n > 0 ? p[0] : std::uint8_t{0}, n > 1 ? p[1] : std::uint8_t{0}, n});
    if (awaiting_) replyUs.push_back(now - lastSentUs_);
    awaiting_ = false;
  }
  std::string Format(std::size_t count, std::uint64_t originUs) const {
    std::string text;
    const std::size_t from = notes_.size() > count ? notes_.size() - count : 0;
    for (std::size_t i = from; i < notes_.size(); ++i) {
      const Note& n = notes_[i];
      const double at = (static_cast<double>(n.realUs) - static_cast<double>(originUs)) / 1000.0;
      const double since =
          i == from ? 0.0
                    : (static_cast<double>(n.realUs) - static_cast<double>(notes_[i - 1].realUs)) /
                          1000.0;
      char line[160];
      std::snprintf(line, sizeof line, "  %10.3f ms  +%9.3f  PC %s %02X %02X (%d bytes)\n", at,
                    since, n.sent ? "sent" : "got ", n.group, n.code, n.length);
      text += line;
    }
    return text;
  }
  void Clear() {
    notes_.clear();
    awaiting_ = false;
  }
  std::vector<std::uint64_t> replyUs;

 private:
  void Add(const Note& n) {
    notes_.push_back(n);
    while (notes_.size() > 32) notes_.pop_front();
  }
  std::deque<Note> notes_;
  std::uint64_t lastSentUs_ = 0;
  bool awaiting_ = false;
};

struct Statuses {
  std::vector<std::string> texts;
  static void Show(void* form, const std::string& text) {
    static_cast<Statuses*>(form)->texts.push_back(text);
  }
};

struct Totals {
  int downloads = 0, failures = 0, pacedFailures = 0, unpacedFailures = 0;
  std::uint64_t radioWakes = 0, radioMaxLateUs = 0, radioLate10ms = 0, radioLate100ms = 0;
  int repliesAfterTimeout = 0;  // taken at the port after the time-out had passed
};

// One download; true when the radio holds the whole code afterwards.
bool OneDownload(const Options& o, int index, bool paced, const std::string& loader,
                 const std::string& code, const std::vector<std::uint8_t>& codeData, PcFrames& pc,
                 Totals& totals) {
  sim::RadioConfig config;
  config.codeKind = o.boot ? sim::CodeKind::kBoot : sim::CodeKind::kApplication;
  config.pacing = paced;
  config.timeScale = o.scale;
  sim::PtyRadio radio(config, o.scale);
  std::string error;
  if (!radio.Start(&error)) {
    std::fprintf(stderr, "download %d: no virtual radio: %s\n", index, error.c_str());
    return false;
  }

  platform::SteadyClock clock(o.scale);
  platform::TimerQueue timers(clock);
  platform::TimerPump pump(timers);
  platform::PortTable ports;
  ports.SetDevicePath(1, radio.DevicePath());
  link::CommLink link;
  link::CommInitLink(link);
  link.pump = &pump;
  link.clock = &clock;
  link.ports = &ports;
  link.replyTimeoutScale = o.replyScale;
  auto commTimer = timers.Create([&] {
    link::CommSetRunning(link, false);
    link.timeoutTimer->SetEnabled(false);
  });
  link.timeoutTimer = commTimer.get();
  pc.Clear();
  link.trace = &pc;

  const std::uint64_t startUs = platform::RealMicros();
  Statuses statuses;
  std::string failure;
  int result = 0;
  if (!link::CommOpenSerialDevice(link, 1, 19200, 0, error)) {
    failure = "open: " + error;
  } else {
    link::CommSetFramed(link, true);
    link::CommSetRunning(link, true);
    link::CommSetTimeout(link, 500);
    if (!link::CommProbeInterface(link)) {
      failure = "no interface box answered the probe";
    } else {
      if (o.platformCode != 1) link::CommChangeBaud(link, 115200);
      std::istringstream loaderFile(loader), codeFile(code);
      platform::ProgressValues bar;
      link::FlashDownloader download(link, &Statuses::Show, &statuses,
                                     static_cast<std::uint8_t>(o.platformCode), bar, o.boot, false);
      result = download.Run(loaderFile, codeFile);
      if (result != link::kCommSuccess) failure = "result " + std::to_string(result);
    }
  }
  // What was waiting at the PC when it gave up.
  int waiting = 0;
  if (!failure.empty() && link.serialDevice != nullptr && link.serialDevice->IsOpen()) {
    std::uint8_t b = 0;
    while (link.serialDevice->HasInput() && link.serialDevice->ReadByte(&b) == 1) ++waiting;
  }
  const std::uint64_t endUs = platform::RealMicros();
  totals.repliesAfterTimeout += link.repliesAfterTimeout;
  link::CommCloseLink(link);
  link.timeoutTimer = nullptr;

  if (failure.empty()) {
    // The radio may take the end of the download a moment after the PC sent it.
    const auto kind =
        o.boot ? sim::ReceivedFile::Kind::kBoot : sim::ReceivedFile::Kind::kApplication;
    bool holds = false;
    for (int i = 0; i < 400 && !holds; ++i) {
      holds = radio.With([&](sim::VirtualRadio& r) {
        const sim::ReceivedFile* f = r.LastFile(kind);
        return f != nullptr && f->data.size() >= codeData.size() &&
               std::equal(codeData.begin(), codeData.end(), f->data.begin());
      });
      if (!holds) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!holds) failure = "the radio does not hold the code that was sent";
  }

  const sim::PtyRadioLateness late = radio.Lateness();
  totals.radioWakes += late.wakes;
  totals.radioMaxLateUs = std::max(totals.radioMaxLateUs, late.maxLateUs);
  totals.radioLate10ms += late.over10ms;
  totals.radioLate100ms += late.over100ms;
  ++totals.downloads;
  if (o.verbose || !failure.empty()) {
    std::printf("download %d (%s): %s, %.3f s, load %s\n", index, paced ? "paced" : "unpaced",
                failure.empty() ? "ok" : ("FAILED: " + failure).c_str(),
                static_cast<double>(endUs - startUs) / 1e6, LoadAverage().c_str());
  }
  if (failure.empty()) {
    radio.Stop();
    return true;
  }
  ++totals.failures;
  ++(paced ? totals.pacedFailures : totals.unpacedFailures);
  std::printf("  status texts:");
  for (const auto& t : statuses.texts) std::printf(" \"%s\"", t.c_str());
  std::printf("\n  bytes waiting at the PC when it gave up: %d\n", waiting);
  std::printf("  radio's wake-ups: %llu, latest %.3f ms late\n",
              static_cast<unsigned long long>(late.wakes),
              static_cast<double>(late.maxLateUs) / 1000.0);
  std::printf("  the PC's last frames (real time from the start of the download):\n%s",
              pc.Format(12, startUs).c_str());
  const std::string radioNotes = radio.With([&](sim::VirtualRadio& r) {
    return sim::FormatRadioFrameNotes(r.FrameLog().Notes(), 14, startUs);
  });
  std::printf("  the radio's last frames (line times on its clock of %g real ms per ms):\n%s",
              o.scale, radioNotes.c_str());
  std::fflush(stdout);
  radio.Stop();
  return false;
}

double Percentile(std::vector<std::uint64_t> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t at =
      std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size() - 1)));
  return static_cast<double>(v[at]) / 1000.0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) {
    Usage();
    return 2;
  }
  std::vector<std::uint8_t> loaderData, codeData;
  const std::string loader = SRecords(1024, 7, loaderData);
  const std::string code = SRecords(o.codeBytes, 11, codeData);
  const std::string loadBefore = LoadAverage();
  std::printf(
      "%d downloads (%s code, %d bytes, platform code %d), clocks at %g, reply "
      "time-outs at %g; load average %s\n",
      o.count, o.boot ? "boot" : "application", o.codeBytes, o.platformCode, o.scale, o.replyScale,
      loadBefore.c_str());
  std::fflush(stdout);
  PcFrames pc;
  Totals totals;
  std::vector<std::uint64_t> replies;
  const std::uint64_t startUs = platform::RealMicros();
  for (int i = 1; i <= o.count; ++i) {
    OneDownload(o, i, i % 2 == 0, loader, code, codeData, pc, totals);
    replies.insert(replies.end(), pc.replyUs.begin(), pc.replyUs.end());
    pc.replyUs.clear();
  }
  const double seconds = static_cast<double>(platform::RealMicros() - startUs) / 1e6;
  std::printf("downloads: %d, failures: %d (paced %d, unpaced %d), %.1f s\n", totals.downloads,
              totals.failures, totals.pacedFailures, totals.unpacedFailures, seconds);
  std::printf(
      "reply times seen by the PC: %zu, median %.3f ms, 99%% %.3f ms, 99.9%% %.3f ms, "
      "longest %.3f ms\n",
      replies.size(), Percentile(replies, 0.5), Percentile(replies, 0.99),
      Percentile(replies, 0.999), Percentile(replies, 1.0));
  std::printf(
      "radio's timed wake-ups: %llu, latest %.3f ms late, %llu over 10 ms, %llu over "
      "100 ms\n",
      static_cast<unsigned long long>(totals.radioWakes),
      static_cast<double>(totals.radioMaxLateUs) / 1000.0,
      static_cast<unsigned long long>(totals.radioLate10ms),
      static_cast<unsigned long long>(totals.radioLate100ms));
  std::printf("replies found waiting at the port after their time-out had passed: %d\n",
              totals.repliesAfterTimeout);
  std::printf("load average: before %s, after %s\n", loadBefore.c_str(), LoadAverage().c_str());
  return totals.failures == 0 ? 0 : 1;
}
