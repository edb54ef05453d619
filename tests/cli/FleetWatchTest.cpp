// Plug-and-update (`bcu update --watch`) with the port monitor replaced by
// the test: ports "appear" as virtual radios on pseudo-terminals, and the
// fleet updates each radio once per serial number while it runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cli/ExitCodes.h"
#include "cli/FleetUpdate.h"
#include "cli/UpdaterSetup.h"
#include "sim/PtyRadio.h"
#include "sim/VirtualRadio.h"
#include "tests/support/UpdateRig.h"

namespace bcu::cli {
namespace {

constexpr double kScale = 0.02;

// Port events as the test makes them.
class FakePortMonitor final : public platform::PortMonitor {
 public:
  void Push(platform::PortEvent::Kind kind, const std::string& path) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back({kind, path});
    }
    changed_.notify_all();
  }
  bool Next(platform::PortEvent& event, int timeoutMs) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return !events_.empty(); }))
      return false;
    event = events_.front();
    events_.pop_front();
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<platform::PortEvent> events_;
};

class FleetWatchTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testsupport::MakeTempDir("bcu-watch-test"); }
  void TearDown() override {
    stops_ = 2;
    if (fleet_.joinable()) fleet_.join();
    for (auto& r : radios_) r->Stop();
    if (out_ != nullptr) std::fclose(out_);
    if (err_ != nullptr) std::fclose(err_);
    testsupport::RemoveTree(dir_);
  }

  sim::PtyRadio& AddRadio(std::uint8_t serialEnd) {
    sim::RadioConfig c;
    c.bootVersion = {4, 2};
    c.serialNumber = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, serialEnd};
    c.timeScale = kScale;
    radios_.push_back(std::make_unique<sim::PtyRadio>(c, kScale));
    std::string error;
    EXPECT_TRUE(radios_.back()->Start(&error)) << error;
    return *radios_.back();
  }

  void StartWatching() {
    out_ = std::tmpfile();
    err_ = std::tmpfile();
    options_.watch = true;
    options_.password = "gablers";
    options_.yes = true;
    options_.delayScale = kScale;
    options_.historyPath = dir_ + "/history.jsonl";
    options_.resources = UpdaterSetup{}.Resources();
    options_.programPath = "bcu";
    options_.updaterOptions.workDir = dir_;
    options_.updaterOptions.backupRoot = dir_ + "/backups";
    options_.monitor = &monitor_;
    options_.stopSignals = [this] { return stops_.load(); };
    options_.out = out_;
    options_.err = err_;
    options_.in = nullptr;
    options_.display = DisplayMode::Lines;
    fleet_ = std::thread([this] { exitCode_ = RunFleetUpdate(options_); });
  }
  int StopWatching() {
    stops_ = 1;
    fleet_.join();
    return exitCode_;
  }

  std::vector<nlohmann::json> History() const {
    std::vector<nlohmann::json> lines;
    std::ifstream in(options_.historyPath);
    std::string line;
    while (std::getline(in, line)) lines.push_back(nlohmann::json::parse(line));
    return lines;
  }
  bool WaitForHistory(std::size_t lines) {
    for (int i = 0; i < 4800; ++i) {
      if (History().size() >= lines) return true;
      usleep(50000);
    }
    return false;
  }
  static std::string Read(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    return text;
  }
  static int CodeFiles(sim::PtyRadio& radio) {
    return radio.With([](sim::VirtualRadio& r) {
      int n = 0;
      for (const auto& f : r.Files())
        if (f.kind == sim::ReceivedFile::Kind::kApplication) ++n;
      return n;
    });
  }

  std::string dir_;
  std::vector<std::unique_ptr<sim::PtyRadio>> radios_;
  FakePortMonitor monitor_;
  FleetOptions options_;
  std::atomic<int> stops_{0};
  std::thread fleet_;
  int exitCode_ = -1;
  std::FILE* out_ = nullptr;
  std::FILE* err_ = nullptr;
};

// One radio plugged in, updated; then a second adapter appears with the same
// radio serial number behind it (the radio moved to another port), and it is
// reported and left alone. A port with no radio behind it is passed by.
TEST_F(FleetWatchTest, EachSerialNumberIsUpdatedOnce) {
  sim::PtyRadio& first = AddRadio(0x11);
  sim::PtyRadio& again = AddRadio(0x11);
  sim::PtyRadio& other = AddRadio(0x22);
  StartWatching();
  monitor_.Push(platform::PortEvent::Kind::Added, first.DevicePath());
  ASSERT_TRUE(WaitForHistory(1));
  monitor_.Push(platform::PortEvent::Kind::Added, again.DevicePath());
  monitor_.Push(platform::PortEvent::Kind::Added, other.DevicePath());
  ASSERT_TRUE(WaitForHistory(2));
  EXPECT_EQ(StopWatching(), kExitOk);

  const auto history = History();
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].at("serialNumber"), "001A2B3C4D5E6F11");
  EXPECT_EQ(history[0].at("port"), first.DevicePath());
  EXPECT_EQ(history[1].at("serialNumber"), "001A2B3C4D5E6F22");
  EXPECT_EQ(CodeFiles(first), 1);
  EXPECT_EQ(CodeFiles(again), 0);
  EXPECT_EQ(CodeFiles(other), 1);
  const std::string out = Read(out_);
  EXPECT_NE(out.find(again.DevicePath() +
                     ": finished, exit code 0: Already updated during this command; left alone."),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("2 radios: 2 done, 0 failed"), std::string::npos) << out;
}

// A radio unplugged during its run fails alone and its serial number may be
// updated when it comes back; the watch goes on.
TEST_F(FleetWatchTest, ARadioUnpluggedDuringItsRunIsItsFailureOnly) {
  sim::PtyRadio& pulled = AddRadio(0x33);
  StartWatching();
  monitor_.Push(platform::PortEvent::Kind::Added, pulled.DevicePath());
  // Pulled once the code download is under way.
  for (int i = 0; i < 2400 && CodeFiles(pulled) == 0; ++i) usleep(50000);
  pulled.Stop();
  monitor_.Push(platform::PortEvent::Kind::Removed, pulled.DevicePath());
  ASSERT_TRUE(WaitForHistory(1));
  sim::PtyRadio& back = AddRadio(0x33);
  monitor_.Push(platform::PortEvent::Kind::Added, back.DevicePath());
  ASSERT_TRUE(WaitForHistory(2));
  EXPECT_EQ(StopWatching(), kExitSomeFailed);
  const auto history = History();
  EXPECT_NE(history[0].at("outcome").at("code"), kExitOk);
  EXPECT_EQ(history[1].at("outcome").at("code"), kExitOk);
  EXPECT_EQ(history[1].at("serialNumber"), "001A2B3C4D5E6F33");
  const std::string err = Read(err_);
  EXPECT_NE(err.find(pulled.DevicePath() + ": the port is gone."), std::string::npos) << err;
}

}  // namespace
}  // namespace bcu::cli
