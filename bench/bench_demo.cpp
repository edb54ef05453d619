// The demo's whole update against the virtual radio (in-process, served on a
// pseudo-terminal, unpaced), with the fixed waits scaled down: the total time,
// the part the fixed waits take (erase and restart waits, counted from the
// waits the run announced), and the share spent outside them.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/CodeUpdater.h"
#include "app/CodeplugBackup.h"
#include "link/DelayTicks.h"
#include "platform/Clock.h"
#include "platform/EmbeddedResources.h"
#include "platform/Host.h"
#include "platform/PortDiscovery.h"
#include "platform/Timer.h"
#include "sim/PtyRadio.h"
#include "sim/RadioConfig.h"

namespace {

constexpr double kScale = 0.01;

class BenchHost final : public bcu::platform::Host, public bcu::app::CodeplugStepObserver {
 public:
  BenchHost() : clock_(kScale), timers_(clock_) {}
  void ShowStatusText(const std::string& text) override {
    status.push_back(text);
    // The fixed waits of a run: the erase wait and the two restart waits.
    if (text == "Erasing flash (40 seconds)...") fixedTicks += 720;
    if (text == "Erasing flash (2 seconds)...") fixedTicks += 36;
    if (text == "Erasing flash (80 seconds)...") fixedTicks += 1440;
    if (text == "Resetting radio..." || text == "Resetting radio and converting codeplug...")
      fixedTicks += 360;
  }
  bcu::platform::ProgressBar& Progress() override { return progress_; }
  bcu::platform::MsgResult ShowMessage(const std::string&, const std::string&,
                                       bcu::platform::MsgIcon,
                                       bcu::platform::MsgButtons buttons) override {
    ++messages;
    return buttons == bcu::platform::MsgButtons::YesNo ? bcu::platform::MsgResult::Yes
                                                       : bcu::platform::MsgResult::Ok;
  }
  bool AskPassword(bcu::platform::PasswordPurpose purpose, std::string& text) override {
    text = purpose == bcu::platform::PasswordPurpose::Start ? "gablers" : "";
    return purpose == bcu::platform::PasswordPurpose::Start;
  }
  std::unique_ptr<bcu::platform::Timer> CreateTimer(bcu::platform::TimerHandler h) override {
    return timers_.Create(std::move(h));
  }
  bcu::platform::Clock& GetClock() override { return clock_; }
  void Pump() override { timers_.Poll(); }
  void OnCodeplugStep(const bcu::app::CodeplugStepReport& r) override { report = r; }

  std::vector<std::string> status;
  int fixedTicks = 0;
  int messages = 0;
  bcu::app::CodeplugStepReport report;

 private:
  bcu::platform::SteadyClock clock_;
  bcu::platform::TimerQueue timers_;
  bcu::platform::ProgressValues progress_;
};

class NoPorts final : public bcu::platform::PortDiscovery {
 public:
  bool ListDevices(std::vector<bcu::platform::SerialDeviceInfo>& d) override {
    d.clear();
    return true;
  }
  bcu::platform::PortTestResult TestOpen(const std::string& path) override {
    return bcu::platform::TestOpenDevice(path);
  }
};

}  // namespace

int main() {
  namespace fs = std::filesystem;
  const fs::path work =
      fs::temp_directory_path() / ("bcu-bench-demo-" + std::to_string(::getpid()));
  fs::create_directories(work);

  bcu::sim::RadioConfig config;  // the defaults: out-of-date boot, codeplug 5.9 -> 5.10
  bcu::sim::PtyRadio radio(config, kScale);
  std::string error;
  if (!radio.Start(&error)) {
    std::fprintf(stderr, "virtual radio: %s\n", error.c_str());
    return 1;
  }
  BenchHost host;
  bcu::app::CodeUpdaterView view;
  NoPorts discovery;
  bcu::app::CodeUpdaterOptions options;
  options.extraDevicePaths = {radio.DevicePath()};
  options.processorCount = [] { return 1u; };
  options.workDir = work.string();
  options.backupRoot = (work / "backups").string();
  bcu::app::CodeUpdater updater(host, view, bcu::platform::EmbeddedResources(), "bcu", discovery,
                                options);
  updater.SelectPortItem(0);

  const auto start = std::chrono::steady_clock::now();
  updater.m_StartButtonClick();
  const double total =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  radio.Stop();
  fs::remove_all(work);

  const double fixed = host.fixedTicks * bcu::link::kTickMs * kScale / 1000.0;
  const std::string last = host.status.empty() ? "" : host.status.back();
  std::printf("demo update, unpaced, fixed waits scaled by %.2f: final status \"%s\"\n", kScale,
              last.c_str());
  std::printf("  total            %8.2f s\n", total);
  std::printf("  fixed waits      %8.2f s (%d ticks of 55 ms, scaled)\n", fixed, host.fixedTicks);
  std::printf("  outside them     %8.2f s (%.0f%% of the run)\n", total - fixed,
              total > 0 ? 100.0 * (total - fixed) / total : 0.0);
  std::printf("  codeplug         %d bytes read, %d written\n", host.report.uploadedBytes,
              host.report.downloadedBytes);
  return last == "Done." ? 0 : 1;
}
