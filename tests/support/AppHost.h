#pragma once
// Test doubles for the window's logic: a host that records what the user
// would see and answers from a script, a port list of the test's making, a
// view that counts redraws, and attribute resources.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/CodeUpdater.h"
#include "app/CodeUpdaterView.h"
#include "app/ResourceAttributes.h"
#include "platform/Clock.h"
#include "platform/Host.h"
#include "platform/PortDiscovery.h"
#include "platform/Resources.h"
#include "platform/Timer.h"

namespace bcu::testing {

struct AppMessage {
  std::string text;
  std::string caption;
  platform::MsgIcon icon;
  platform::MsgButtons buttons;
};

// Real milliseconds per clock millisecond of the tests' hosts, and the factor
// their updaters shorten reply time-outs by (0.1 makes a 4 s time-out last
// 0.4 s; the link never goes below its floor).
inline constexpr double kAppTimeScale = 0.1;

class AppTestHost final : public platform::Host {
 public:
  // `scale`: real milliseconds per clock millisecond.
  explicit AppTestHost(double scale = kAppTimeScale);

  void ShowStatusText(const std::string& text) override { statuses.push_back(text); }
  platform::ProgressBar& Progress() override { return progress; }
  platform::MsgResult ShowMessage(const std::string& text, const std::string& caption,
                                  platform::MsgIcon icon, platform::MsgButtons buttons) override;
  bool AskPassword(platform::PasswordPurpose purpose, std::string& text) override;
  std::unique_ptr<platform::Timer> CreateTimer(platform::TimerHandler handler) override {
    return timers.Create(std::move(handler));
  }
  platform::Clock& GetClock() override { return clock; }
  void Pump() override;

  std::string LastStatus() const { return statuses.empty() ? std::string() : statuses.back(); }

  platform::SteadyClock clock;
  platform::TimerQueue timers;
  platform::ProgressValues progress;
  std::vector<std::string> statuses;
  std::vector<AppMessage> messages;
  std::deque<platform::MsgResult> answers;  // for Yes/No boxes; empty: No
  std::deque<std::string> passwords;        // empty: Cancel
  int passwordPrompts = 0;
  std::function<void()> onPump;
  std::function<void()> onMessage;  // while a message box is open
  long pumps = 0;
};

// A port list of the test's making. Paths without a scripted open result are
// tested for real (a pseudo-terminal is free, a made-up path missing).
class AppFakeDiscovery final : public platform::PortDiscovery {
 public:
  bool ListDevices(std::vector<platform::SerialDeviceInfo>& out) override;
  platform::PortTestResult TestOpen(const std::string& path) override;

  // Adds a device named like the system's ("ttyUSB0" -> /dev/ttyUSB0).
  void AddDevice(const std::string& name, const std::string& product = {},
                 platform::PortAccess access = platform::PortAccess::Free);

  std::vector<platform::SerialDeviceInfo> devices;
  std::map<std::string, platform::PortTestResult> results;
  bool listFails = false;
  int listCalls = 0;
};

class AppRecordingView final : public app::CodeUpdaterView {
 public:
  void RunningStateChanged() override { ++runningChanged; }
  void PortListChanged() override { ++portListChanged; }
  void PortSelectionChanged() override { ++selectionChanged; }
  void VersionPanelToggled() override { ++panelToggled; }
  void VersionPanelChanged() override { ++panelChanged; }
  void TargetLabelsChanged() override { ++targetChanged; }
  void UpgradeChoiceChanged() override { ++choiceChanged; }
  void FocusRetrieveButton() override { ++focusRetrieve; }
  void SetWaitCursor(bool on) override { waitCursor.push_back(on); }
  void ShowAboutBox() override {
    ++aboutShown;
    if (onAboutBox) onAboutBox();
  }
  std::function<void()> onAboutBox;  // while the about box is open

  int runningChanged = 0, portListChanged = 0, selectionChanged = 0, panelToggled = 0,
      panelChanged = 0, targetChanged = 0, choiceChanged = 0, focusRetrieve = 0, aboutShown = 0;
  std::vector<bool> waitCursor;
};

// Options of a test's updater: reply time-outs shortened by kAppTimeScale.
app::CodeUpdaterOptions AppOptions();

// Attributes of an updater for `family` (0 portable, 1 mobile).
app::ResourceAttributes AppAttributes(std::uint8_t family, std::uint8_t series,
                                      std::uint8_t newPlatform = 1,
                                      std::uint8_t upgradeType = app::kUpgradeApplication);
// Resources that hold only the attributes record.
std::unique_ptr<platform::MemoryResources> AppResources(const app::ResourceAttributes& attributes);

}  // namespace bcu::testing
