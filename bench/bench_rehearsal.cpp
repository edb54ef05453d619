// The rehearsal before a real update, against a virtual radio paced at the
// line rate on a pseudo-terminal, with the updater's fixed waits at their
// real length:
//
// - the time the rehearsal adds (the reads on the real line plus the
//   rehearsed run in process) against the real update's time (goal: below
//   10%);
// - the rehearsal's predicted time against the measured real update
//   (goal: within 2%).
//
// The embedded set's code is about 4 MB, some six minutes at 115,200 baud; by
// default the set is cut to its loader and first code chunks
// (BENCH_REHEARSAL_CHUNKS=N, or "all" for the whole set).
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/CodeUpdater.h"
#include "app/CodeplugBackup.h"
#include "app/ResourceAttributes.h"
#include "cli/Rehearsal.h"
#include "cli/UpdateOutcome.h"
#include "platform/Clock.h"
#include "platform/EmbeddedResources.h"
#include "platform/PortDiscovery.h"
#include "platform/Resources.h"
#include "platform/Timer.h"
#include "sim/PtyRadio.h"

using namespace bcu;

namespace {

class CutSet final : public platform::ResourceSource {
 public:
  explicit CutSet(int chunks) {
    std::span<const std::uint8_t> stored;
    platform::EmbeddedResources().Find("TEXT", "ResourceAttributes_", stored);
    app::ResourceAttributes a = app::DecodeResourceAttributes(stored.data());
    if (chunks > 0 && chunks < a.CodeChunks) a.CodeChunks = chunks;
    codeChunks = a.CodeChunks;
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
  int codeChunks = 0;

 private:
  std::array<std::uint8_t, app::kResourceAttributesSize> record_{};
};

// The real run's host: the system's clock, every question answered Yes.
class BenchHost final : public platform::Host {
 public:
  BenchHost() : timers_(clock_) {}
  void ShowStatusText(const std::string& text) override { status = text; }
  platform::ProgressBar& Progress() override { return bar_; }
  platform::MsgResult ShowMessage(const std::string&, const std::string&, platform::MsgIcon,
                                  platform::MsgButtons buttons) override {
    return buttons == platform::MsgButtons::Ok ? platform::MsgResult::Ok : platform::MsgResult::Yes;
  }
  bool AskPassword(platform::PasswordPurpose purpose, std::string& text) override {
    if (purpose != platform::PasswordPurpose::Start) return false;
    text = "gablers";
    return true;
  }
  std::unique_ptr<platform::Timer> CreateTimer(platform::TimerHandler handler) override {
    return timers_.Create(std::move(handler));
  }
  platform::Clock& GetClock() override { return clock_; }
  void Pump() override { timers_.Poll(); }
  std::string status;

 private:
  platform::SteadyClock clock_;
  platform::TimerQueue timers_;
  platform::ProgressValues bar_;
};

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

}  // namespace

int main() {
  const char* env = std::getenv("BENCH_REHEARSAL_CHUNKS");
  const std::string chunksText = env ? env : "1";
  const int chunks = chunksText == "all" ? 0 : std::atoi(chunksText.c_str());
  auto set = std::make_shared<CutSet>(chunks);

  sim::RadioConfig config;
  config.startMode = sim::RadioMode::kApplication;  // its codeplug is read first
  config.bootVersion = {4, 2};
  config.pacing = true;
  sim::PtyRadio radio(config, 1.0);
  std::string error;
  if (!radio.Start(&error)) {
    std::fprintf(stderr, "bench_rehearsal: %s\n", error.c_str());
    return 1;
  }
  const std::string backups = std::filesystem::temp_directory_path() / "bcu-bench-rehearsal";
  std::filesystem::create_directories(backups);

  cli::RehearsalInput in;
  in.resources = set;
  in.programPath = "/opt/bcu/bcu";
  in.port = radio.DevicePath();
  in.updaterOptions.backupRoot = backups;
  in.updaterOptions.workDir = backups;
  in.updaterOptions.processorCount = [] { return 1u; };
  in.password = "gablers";
  std::printf("bench_rehearsal: code chunks %d, load average before %s\n", set->codeChunks,
              LoadAverage().c_str());

  BenchHost readHost;
  const std::uint64_t t0 = platform::RealMicros();
  const cli::RehearsalResult r = cli::Rehearse(in, readHost);
  const double rehearsal = static_cast<double>(platform::RealMicros() - t0) / 1e6;
  std::printf(
      "rehearsal: %.2f s (outcome \"%s\", exit %d), predicted real update %.2f s "
      "(fixed waits %.2f s, line %.2f s)\n",
      rehearsal, r.outcome.c_str(), r.exitCode, r.predictedSeconds, r.fixedWaitSeconds,
      r.lineSeconds);

  // The technician puts the radio into bootload mode; the real run.
  radio.With([](sim::VirtualRadio& v) {
    v.SetMode(sim::RadioMode::kBootload);
    return 0;
  });
  BenchHost host;
  app::CodeUpdaterView view;
  platform::SystemPortDiscovery discovery;
  app::CodeUpdaterOptions options = in.updaterOptions;
  options.extraDevicePaths = {radio.DevicePath()};
  options.bootloadWait = [](app::CodeUpdater& u, const std::string&) {
    return u.WaitForBootloadMode(60000) == app::BootloadWaitResult::Ready;
  };
  app::CodeUpdater u(host, view, *set, in.programPath, discovery, options);
  u.SelectPortItem(0);
  const std::uint64_t t1 = platform::RealMicros();
  u.m_StartButtonClick();
  const double real = static_cast<double>(platform::RealMicros() - t1) / 1e6;
  radio.Stop();
  std::filesystem::remove_all(backups);

  std::printf("real update: %.2f s (last status \"%s\")\n", real, host.status.c_str());
  std::printf("rehearsal added / real update: %.3f (goal < 0.10)\n", rehearsal / real);
  std::printf("predicted / measured real update: %.4f (goal within 0.98 .. 1.02)\n",
              r.predictedSeconds / real);
  std::printf("load average after %s\n", LoadAverage().c_str());
  return 0;
}
