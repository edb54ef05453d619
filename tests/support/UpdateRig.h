#pragma once
// A whole update against the virtual radio: a CodeUpdater with a recording
// host, a small firmware set in memory, and a PtyRadio on a pseudo-terminal,
// both on clocks scaled by the same factor so that the fixed waits pass
// quickly.
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/CodeUpdater.h"
#include "platform/Clock.h"
#include "platform/Host.h"
#include "platform/PortDiscovery.h"
#include "platform/Resources.h"
#include "platform/Timer.h"
#include "sim/PtyRadio.h"
#include "sim/RadioConfig.h"

namespace bcu::testsupport {

// Real milliseconds per clock millisecond of both sides.
inline constexpr double kUpdateTimeScale = 0.04;
// The updater's reply time-outs are shortened less than its clock: a 4 s
// time-out lasts 1 s, which a radio thread on a busy machine always meets.
inline constexpr double kUpdateReplyTimeoutScale = 0.25;

struct ShownMessage {
  std::string text;
  std::string caption;
  platform::MsgIcon icon;
};

class RecordingHost final : public platform::Host {
 public:
  explicit RecordingHost(double scale);
  void ShowStatusText(const std::string& text) override { status.push_back(text); }
  platform::ProgressBar& Progress() override { return progress; }
  platform::MsgResult ShowMessage(const std::string& text, const std::string& caption,
                                  platform::MsgIcon icon, platform::MsgButtons buttons) override;
  bool AskPassword(platform::PasswordPurpose purpose, std::string& text) override;
  std::unique_ptr<platform::Timer> CreateTimer(platform::TimerHandler handler) override {
    return timers_.Create(std::move(handler));
  }
  platform::Clock& GetClock() override { return clock_; }
  void Pump() override;
  bool QuitRequested() const override { return quit; }

  std::vector<std::string> status;
  std::vector<ShownMessage> messages;
  platform::ProgressValues progress;
  // Answers to the password dialogs, in order; nullopt cancels. An empty
  // queue cancels.
  std::deque<std::optional<std::string>> startPasswords;
  std::deque<std::optional<std::string>> codeplugPasswords;
  int startPrompts = 0;
  int codeplugPrompts = 0;
  // Answers to Yes/No boxes, in order; an empty queue answers Yes.
  std::deque<platform::MsgResult> answers;
  // The program is told to quit (the window was closed).
  bool quit = false;
  // Runs on every pump pass and when a message box is shown.
  std::function<void()> onPump;
  std::function<void(const ShownMessage&)> onMessage;

 private:
  platform::SteadyClock clock_;
  platform::TimerQueue timers_;
};

// No system ports: only the device the test names.
class NoSystemPorts final : public platform::PortDiscovery {
 public:
  bool ListDevices(std::vector<platform::SerialDeviceInfo>& devices) override {
    devices.clear();
    return true;
  }
  platform::PortTestResult TestOpen(const std::string& path) override {
    return platform::TestOpenDevice(path);
  }
};

// The firmware set of the tests: S-record images small enough to download in
// a moment. Application code is `codeBytes` long, boot code `bootBytes`.
struct TestFirmware {
  std::uint8_t upgradeType = 3;
  std::uint8_t series = 4;
  std::uint8_t family = 1;  // mobile
  // 0: a mobile set of platform code 1, whose radios are not asked for their
  // boot version before a download; 1: platform code 7 (series 4).
  std::uint8_t newPlatform = 0;
  std::uint8_t bootMajor = 4;
  std::uint8_t bootMinor = 2;
  int codeBytes = 4096;
  int bootBytes = 512;
  // The set's own name and release (empty: it carries none).
  std::string setName{};
  std::string setRelease{};
};
std::shared_ptr<platform::MemoryResources> MakeTestResources(const TestFirmware& firmware);
// The data bytes of the application code and of the boot code of that set.
std::vector<std::uint8_t> TestCodeData(int bytes, std::uint8_t seed);

// Every frame the updater sends, as (group, code) of its payload.
class SentCodes final : public link::CommTrace {
 public:
  void OnSent(const std::uint8_t* bytes, int n) override;
  void OnReceived(const std::uint8_t*, int) override {}
  // Frames sent so far.
  std::size_t Count() const;
  // Frames from index `from` on whose code is one of those that write to the
  // radio or move data (02 00, 02 01, 02 09, 03 00, 03 02, 03 07).
  std::vector<std::pair<int, int>> WritesFrom(std::size_t from) const;
  // The index of the first frame sent with this code at or after `from`, or
  // -1.
  long Find(int group, int code, std::size_t from = 0) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<int, int>> codes_;
};

class UpdateRig {
 public:
  // A radio whose application code files are the sizes above (boot code up
  // to 1024 bytes), and an updater for `firmware` working in `workDir`, both
  // on clocks of `scale` real milliseconds per clock millisecond; `options`
  // (extra ports, work and backup folders and reply time-outs are the rig's).
  UpdateRig(sim::RadioConfig config, TestFirmware firmware, std::string workDir,
            double scale = kUpdateTimeScale, app::CodeUpdaterOptions options = {});
  ~UpdateRig();

  sim::PtyRadio& Radio() { return *radio_; }
  // Waits (at most a few seconds) until `done` holds for the radio: the
  // updater may return before the radio has taken its last frame.
  bool WaitForRadio(const std::function<bool(sim::VirtualRadio&)>& done);
  RecordingHost& Host() { return host_; }
  app::CodeUpdater& Updater() { return *updater_; }
  const std::string& WorkDir() const { return workDir_; }
  // Files in the work folder.
  std::vector<std::string> WorkFiles() const;
  // What the updater sent.
  SentCodes& Sent() { return sent_; }
  // The codeplug backup folder of the updater (a folder of its own) and the
  // backup files in it, as paths.
  const std::string& BackupRoot() const { return backupRoot_; }
  std::vector<std::string> BackupFiles() const;

 private:
  SentCodes sent_;
  RecordingHost host_;
  app::CodeUpdaterView view_;
  NoSystemPorts discovery_;
  std::shared_ptr<platform::MemoryResources> resources_;
  std::unique_ptr<sim::PtyRadio> radio_;
  std::unique_ptr<app::CodeUpdater> updater_;
  std::string workDir_;
  std::string backupRoot_;
};

// Every file below `dir`, as paths, sorted.
std::vector<std::string> FilesBelow(const std::string& dir);
// A whole file's bytes (empty when it cannot be read).
std::vector<std::uint8_t> ReadBytes(const std::string& path);

// A fresh empty folder under the system's temporary folder.
std::string MakeTempDir(const std::string& stem);
void RemoveTree(const std::string& dir);

}  // namespace bcu::testsupport
