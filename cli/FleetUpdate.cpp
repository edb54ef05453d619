#include "cli/FleetUpdate.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <list>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "app/CodeplugBackup.h"
#include "app/FirmwareSetIdentity.h"
#include "app/RunHistory.h"
#include "app/UpdateHistory.h"
#include "cli/ExitCodes.h"
#include "cli/StopSignals.h"
#include "cli/TerminalHost.h"
#include "cli/UpdateOutcome.h"
#include "link/CommLink.h"
#include "platform/AtomicWrite.h"
#include "platform/Clock.h"
#include "platform/Console.h"
#include "platform/PortDiscovery.h"
#include "platform/Timer.h"
#include "platform/TimerPump.h"

namespace bcu::cli {

namespace {

constexpr auto kNap = std::chrono::milliseconds(20);
constexpr int kMonitorWaitMs = 100;
constexpr std::uint64_t kBytesReportUs = 200000;
constexpr std::uint32_t kBootloadReportMs = 10000;

std::string CanonicalPath(const std::string& path) {
  std::error_code ec;
  const auto canonical = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : canonical.string();
}

// The system's ports as one radio's updater sees them: only its own (with
// what the system knows about it, such as an interface box), so that no
// updater opens another radio's port to test it.
class OnePortDiscovery final : public platform::PortDiscovery {
 public:
  explicit OnePortDiscovery(const std::string& path) : canonical_(CanonicalPath(path)) {}
  bool ListDevices(std::vector<platform::SerialDeviceInfo>& devices) override {
    std::vector<platform::SerialDeviceInfo> all;
    devices.clear();
    if (!system_.ListDevices(all)) return false;
    for (auto& d : all)
      if (CanonicalPath(d.path) == canonical_) devices.push_back(std::move(d));
    return true;
  }
  platform::PortTestResult TestOpen(const std::string& path) override {
    return system_.TestOpen(path);
  }

 private:
  std::string canonical_;
  platform::SystemPortDiscovery system_;
};

class RadioHost;

// What the radios share: the display, the one prompt on the terminal, the
// stop level and the serial numbers updated so far.
class Fleet {
 public:
  explicit Fleet(const FleetOptions& options, DisplayMode mode)
      : options(options), display(mode, options.out, options.err) {
    identity = app::ReadFirmwareSetIdentity(*options.resources);
    historyPath = options.historyPath.empty() ? app::DefaultHistoryPath() : options.historyPath;
  }

  // Takes the prompt, pumping `host` meanwhile; false when a stop came first.
  bool AcquirePrompt(RadioHost& host);
  void ReleasePrompt() {
    display.EndPrompt();
    promptMutex_.unlock();
  }
  // One line of the input, pumping `host` meanwhile (no echo when `hide` and
  // the input is a terminal). False at the end of the input or at a stop.
  bool ReadAnswer(RadioHost& host, std::string& line, bool hide);

  // Claims a serial number for an update; false when it was updated (or is
  // being updated) during this command.
  bool Claim(const std::string& serial) {
    std::lock_guard<std::mutex> lock(mutex_);
    return claimed_.insert(serial).second;
  }
  void Unclaim(const std::string& serial) {
    std::lock_guard<std::mutex> lock(mutex_);
    claimed_.erase(serial);
  }
  void AddResult(app::HistoryRecord record) {
    std::lock_guard<std::mutex> lock(mutex_);
    results_.push_back(std::move(record));
  }
  std::vector<app::HistoryRecord> Results() {
    std::lock_guard<std::mutex> lock(mutex_);
    return results_;
  }

  const FleetOptions& options;
  FleetDisplay display;
  std::string startPassword;
  app::FirmwareSetIdentity identity;
  std::string historyPath;
  std::atomic<int> stopLevel{0};

 private:
  std::mutex promptMutex_;
  std::mutex mutex_;
  std::set<std::string> claimed_;
  std::vector<app::HistoryRecord> results_;
};

// The progress bar of one radio: the display's line.
class RadioProgress final : public platform::ProgressValues {
 public:
  RadioProgress(FleetDisplay& display, int radio) : display_(display), radio_(radio) {}
  void SetMin(int value) override {
    ProgressValues::SetMin(value);
    Report();
  }
  void SetMax(int value) override {
    ProgressValues::SetMax(value);
    Report();
  }
  void SetPosition(int value) override {
    ProgressValues::SetPosition(value);
    Report();
  }

 private:
  void Report() { display_.Progress(radio_, Min(), Max(), Position()); }
  FleetDisplay& display_;
  int radio_;
};

// One radio's host: its own clock, timers and pump; status texts and the
// progress bar go to its display line, message boxes and prompts through the
// fleet; it counts the bytes of the radio link and hears the codeplug step.
class RadioHost final : public platform::Host,
                        public app::CodeplugStepObserver,
                        public link::CommTrace {
 public:
  RadioHost(Fleet& fleet, int radio, std::string port)
      : port(std::move(port)),
        fleet_(fleet),
        radio_(radio),
        clock_(fleet.options.delayScale),
        timers_(clock_),
        progress_(fleet.display, radio) {}

  void ShowStatusText(const std::string& text) override {
    if (text.rfind("Preparing to download", 0) == 0) downloadStarted = true;
    if (!quiet) start.OnStatus(text);
    // The radio's line keeps the text before "Idle": it says how the run ended.
    if (text == kIdleStatus) return;
    status = text;
    if (!quiet) fleet_.display.Status(radio_, text);
  }
  platform::ProgressBar& Progress() override { return progress_; }
  platform::MsgResult ShowMessage(const std::string& text, const std::string& caption,
                                  platform::MsgIcon icon, platform::MsgButtons buttons) override {
    if (!quiet) start.OnMessage(text, caption, icon);
    // One line per radio: the same box from several radios stays readable.
    if (!quiet)
      fleet_.display.Note(
          radio_, std::string("[") + IconWord(icon) + "] " + caption + ": " + app::OneLine(text));
    if (buttons == platform::MsgButtons::Ok) return platform::MsgResult::Ok;
    if (fleet_.options.yes) return platform::MsgResult::Yes;
    if (!fleet_.AcquirePrompt(*this)) return platform::MsgResult::No;
    std::fprintf(fleet_.options.err, "%s (radio %s): [y/N] ", port.c_str(), Serial().c_str());
    std::fflush(fleet_.options.err);
    std::string answer;
    const bool got = fleet_.ReadAnswer(*this, answer, false);
    fleet_.ReleasePrompt();
    return got && (answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes")
               ? platform::MsgResult::Yes
               : platform::MsgResult::No;
  }
  bool AskPassword(platform::PasswordPurpose purpose, std::string& text) override {
    if (purpose == platform::PasswordPurpose::Start) {
      text = fleet_.startPassword;
      return true;
    }
    if (fleet_.options.codeplugPassword) {
      text = *fleet_.options.codeplugPassword;
      return true;
    }
    if (!fleet_.AcquirePrompt(*this)) return false;
    std::fprintf(fleet_.options.err, "Codeplug password of radio %s on %s: ", Serial().c_str(),
                 port.c_str());
    std::fflush(fleet_.options.err);
    const bool got = fleet_.ReadAnswer(*this, text, true);
    fleet_.ReleasePrompt();
    return got;
  }
  std::unique_ptr<platform::Timer> CreateTimer(platform::TimerHandler handler) override {
    return timers_.Create(std::move(handler));
  }
  platform::Clock& GetClock() override { return clock_; }
  bool QuitRequested() const override { return quit_; }

  void Pump() override {
    timers_.Poll();
    const std::uint64_t now = platform::RealMicros();
    if (now - bytesReportedUs_ >= kBytesReportUs) {
      bytesReportedUs_ = now;
      fleet_.display.Bytes(radio_, bytes_);
    }
    const int level = fleet_.stopLevel.load();
    // A stop reaches the updater while it holds the link; one that comes
    // between its steps is seen at the next pump (or before the run starts).
    if (level >= 1 && stopHandled_ < 1 && updater != nullptr && updater->Busy()) {
      stopHandled_ = 1;
      stopped = true;
      if (updater->m_RunState == app::RunState::Running) {
        fleet_.display.Note(radio_, updater->StopNotice() + " (" +
                                        (status.empty() ? std::string("starting") : status) + ").");
        updater->m_StartButtonClick();  // Stop
      } else {
        updater->RequestStop();
      }
    }
    if (level >= 2 && stopHandled_ < 2 && updater != nullptr) {
      stopHandled_ = 2;
      quit_ = true;
      updater->RequestStop(app::StopLevel::AtOnce);
    }
  }

  void OnCodeplugStep(const app::CodeplugStepReport& report) override { codeplug = report; }
  void OnSent(const std::uint8_t*, int n) override { bytes_ += static_cast<std::uint64_t>(n); }
  void OnReceived(const std::uint8_t*, int n) override { bytes_ += static_cast<std::uint64_t>(n); }

  std::string Serial() const { return serial.empty() ? std::string("unknown") : serial; }
  int Radio() const { return radio_; }
  Fleet& GetFleet() { return fleet_; }

  const std::string port;
  std::string serial;
  std::string status;
  app::CodeUpdater* updater = nullptr;
  std::optional<app::CodeplugStepReport> codeplug;
  bool downloadStarted = false;
  StartFailureWatch start;  // why the run ended before its download, if it did
  bool stopped = false;     // a stop signal reached this radio
  bool quiet = false;       // the version reads around the run show nothing

 private:
  Fleet& fleet_;
  int radio_;
  platform::SteadyClock clock_;
  platform::TimerQueue timers_;
  RadioProgress progress_;
  std::uint64_t bytes_ = 0;
  std::uint64_t bytesReportedUs_ = 0;
  int stopHandled_ = 0;
  bool quit_ = false;
};

bool Fleet::AcquirePrompt(RadioHost& host) {
  while (!promptMutex_.try_lock()) {
    host.Pump();
    if (stopLevel.load() > 0) return false;
    std::this_thread::sleep_for(kNap);
  }
  if (stopLevel.load() > 0) {
    promptMutex_.unlock();
    return false;
  }
  display.BeginPrompt();
  return true;
}

bool Fleet::ReadAnswer(RadioHost& host, std::string& line, bool hide) {
  line.clear();
  if (options.in == nullptr) return false;
  std::optional<platform::EchoOff> quiet;
  if (hide) quiet.emplace(options.in);
  bool got = false;
  for (;;) {
    host.Pump();
    if (stopLevel.load() > 0) break;
    const platform::InputWait ready = platform::WaitForInput(options.in, 20);
    if (ready == platform::InputWait::Failed) break;
    if (ready != platform::InputWait::Ready) continue;
    char c = 0;
    const int n = platform::ReadInputByte(options.in, c);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the input ended
    if (c == '\n') {
      got = true;
      break;
    }
    if (c != '\r') line += c;
  }
  if (quiet && quiet->Active()) {
    quiet.reset();
    std::fputc('\n', options.err);
  }
  return got;
}

// After the automatic boot update: the technician puts the radio back into
// bootload mode and presses Enter (one radio at a time, the prompt naming the
// port), or with --yes the radio is asked until it answers.
bool WaitForBootload(RadioHost& host, app::CodeUpdater& u, const std::string& text,
                     bool& notInBootload) {
  Fleet& fleet = host.GetFleet();
  // The window's box asks for OK; here the prompt below (or --yes) says what
  // happens, so the box's last sentence goes.
  std::string box = text;
  const std::string press = "Press OK once the radio is ready.";
  if (const auto at = box.rfind(press); at != std::string::npos) box.erase(at, press.size());
  fleet.display.Note(host.Radio(), "[Information] Brisant Code Updater: " + app::OneLine(box));
  if (!fleet.options.yes) {
    if (!fleet.AcquirePrompt(host)) return false;
    std::fprintf(fleet.options.err,
                 "%s (radio %s): put the radio back into bootload mode, then press Enter "
                 "(Ctrl-C stops).\n",
                 host.port.c_str(), host.Serial().c_str());
    std::fflush(fleet.options.err);
    std::string line;
    const bool got = fleet.ReadAnswer(host, line, false);
    fleet.ReleasePrompt();
    if (got) return true;
    if (!u.StopRequested() && fleet.stopLevel.load() == 0) {
      fleet.display.Note(host.Radio(),
                         "no answer (the input ended); use --yes to wait for the radio instead");
      notInBootload = true;
    }
    return false;
  }
  const auto limitMs = static_cast<std::uint32_t>(fleet.options.waitBootloadSeconds * 1000.0);
  std::uint32_t nextReport = 0;
  const auto result = u.WaitForBootloadMode(limitMs, [&](std::uint32_t waitedMs) {
    if (waitedMs < nextReport) return;
    nextReport += kBootloadReportMs;
    const std::uint32_t left = (limitMs - waitedMs + 999) / 1000;
    char text[64];
    std::snprintf(text, sizeof text, "Waiting for the radio in bootload mode, %u:%02u left",
                  left / 60, left % 60);
    fleet.display.Status(host.Radio(), text);
  });
  switch (result) {
    case app::BootloadWaitResult::Ready:
      fleet.display.Note(host.Radio(), "the radio answers in bootload mode.");
      return true;
    case app::BootloadWaitResult::TimedOut:
      fleet.display.Note(host.Radio(),
                         "the radio did not answer in bootload mode within " +
                             std::to_string(static_cast<int>(fleet.options.waitBootloadSeconds)) +
                             " s");
      notInBootload = true;
      return false;
    case app::BootloadWaitResult::Stopped:
      break;
  }
  return false;
}

// Reads the radio's versions (the Retrieve button) without showing anything.
bool ReadVersions(RadioHost& host, app::CodeUpdater& updater, app::RadioVersions& versions,
                  std::string& serial) {
  host.quiet = true;
  updater.m_VersionPanel = app::VersionPanelTexts{};
  updater.m_RetrieveVersionInfoButtonClick();
  host.quiet = false;
  if (updater.m_VersionPanel.SerialNumberLabel.empty()) return false;
  versions = app::VersionsOfPanel(updater.m_VersionPanel);
  serial = app::CompactSerial(updater.m_VersionPanel.SerialNumberLabel);
  return true;
}

nlohmann::json ResultDetails(const app::HistoryRecord& r) {
  return {{"codeplugFormatBefore", r.codeplugFormatBefore},
          {"codeplugFormatAfter", r.codeplugFormatAfter},
          {"backupFile", r.backupPath},
          {"seconds", r.durationSeconds}};
}

// One radio, from the first look at it to its line in the history.
void RunRadio(Fleet& fleet, int radio, const std::string& port) {
  const FleetOptions& options = fleet.options;
  RadioHost host(fleet, radio, port);
  app::CodeUpdaterView view;
  OnePortDiscovery discovery(port);
  app::CodeUpdaterOptions updaterOptions = options.updaterOptions;
  updaterOptions.extraDevicePaths = {port};
  bool notInBootload = false;
  updaterOptions.bootloadWait = [&](app::CodeUpdater& u, const std::string& text) {
    return WaitForBootload(host, u, text, notInBootload);
  };
  app::CodeUpdater updater(host, view, *options.resources, options.programPath, discovery,
                           std::move(updaterOptions));
  updater.SetTrace(&host);
  updater.SelectPortItem(0);
  host.updater = &updater;

  app::HistoryRecord record;
  record.port = port;
  record.firmwareSetName = fleet.identity.name;
  record.firmwareSetRelease = fleet.identity.release;
  const std::time_t startTime = std::time(nullptr);
  const std::uint64_t startUs = platform::RealMicros();
  record.startTime = app::IsoUtcTime(startTime);

  const bool answered = ReadVersions(host, updater, record.versionsBefore, record.serialNumber);
  if (answered) {
    host.serial = record.serialNumber;
    fleet.display.SetSerial(radio, record.serialNumber);
  }
  if (options.watch) {
    if (!answered) {
      fleet.display.Finished(radio, kExitPort, "No radio answers; not updated.", {});
      return;
    }
    if (!fleet.Claim(record.serialNumber)) {
      fleet.display.Finished(radio, kExitOk, "Already updated during this command; left alone.",
                             {{"alreadyUpdated", true}});
      return;
    }
  }
  if (options.boot) {
    if (!updater.m_UpgradeChoiceVisible && updater.m_Attributes.UpgradeType != app::kUpgradeBoot) {
      fleet.display.Finished(radio, kExitUsage, "This updater has no boot update to choose.", {});
      return;
    }
    updater.m_BootRadioButtonClick();
  }

  if (fleet.stopLevel.load() == 0) updater.m_StartButtonClick();
  if (fleet.stopLevel.load() > 0) host.stopped = true;

  UpdateRunFacts facts;
  facts.started = updater.m_PasswordAccepted;
  facts.stopped = host.stopped;
  facts.notInBootload = notInBootload;
  facts.downloadStarted = host.downloadStarted;
  facts.startFailureCode = host.start.Code();
  facts.refused = updater.m_RunResult.Refused();
  // How the run ended, before the version read after it shows anything: the
  // failing step's own text (the status line reads "Idle" after most
  // failures).
  const std::string result =
      updater.RunResultText().empty() ? host.status : updater.RunResultText();
  facts.status = result;
  facts.codeplug = host.codeplug;
  const int code = UpdateExitCode(facts);

  if (host.codeplug) {
    const auto& r = *host.codeplug;
    if (r.uploadedBytes > 0) {
      record.codeplugFormatBefore = CodeplugFormatName(r.imageFormatIndex);
      record.codeplugFormatAfter =
          CodeplugFormatName(r.downloadedBytes > 0 ? r.targetFormatIndex : r.imageFormatIndex);
    }
    record.backupPath = r.backupPath;
    if (record.serialNumber.empty()) record.serialNumber = r.serialNumber;
  }
  // What the radio runs now, when new code went in.
  if (facts.started && (host.codeplug || code == kExitOk) && fleet.stopLevel.load() < 2) {
    std::string serialAfter;
    ReadVersions(host, updater, record.versionsAfter, serialAfter);
  }
  record.outcomeCode = code;
  if (facts.started)
    record.outcomeText = result;
  else if (facts.stopped)
    record.outcomeText = "Stopped. Nothing was written to the radio.";
  else
    record.outcomeText = "The start password was refused.";
  record.durationSeconds = static_cast<double>(platform::RealMicros() - startUs) / 1e6;
  if (options.watch && code != kExitOk) fleet.Unclaim(record.serialNumber);

  if (facts.started) {
    std::string error;
    if (!app::AppendHistory(fleet.historyPath, {record}, error))
      fleet.display.Note(radio, "the update history could not be written: " + error);
  }
  if (code != kExitOk && !record.backupPath.empty())
    fleet.display.Note(radio, "the codeplug read from the radio is saved in " + record.backupPath);
  fleet.display.Finished(radio, code, record.outcomeText, ResultDetails(record));
  fleet.AddResult(std::move(record));
}

// A radio's run in its own thread.
struct RadioThread {
  std::string port;
  std::atomic<bool> done{false};
  std::thread thread;
};

// The final table, its port and serial columns as wide as their entries.
void PrintTable(std::FILE* out, const std::vector<app::HistoryRecord>& results) {
  int portWidth = 4;
  int serialWidth = 6;
  for (const auto& r : results) {
    portWidth = std::max(portWidth, static_cast<int>(r.port.size()));
    serialWidth =
        std::max(serialWidth, static_cast<int>(std::max<std::size_t>(1, r.serialNumber.size())));
  }
  std::fprintf(out, "\n%-*s %-*s %4s %8s  %s\n", portWidth, "Port", serialWidth, "Serial", "Code",
               "Time", "Result");
  int failed = 0;
  for (const auto& r : results) {
    if (r.outcomeCode != kExitOk) ++failed;
    std::fprintf(out, "%-*s %-*s %4d %7.1fs  %s\n", portWidth, r.port.c_str(), serialWidth,
                 r.serialNumber.empty() ? "?" : r.serialNumber.c_str(), r.outcomeCode,
                 r.durationSeconds, r.outcomeText.c_str());
    if (r.outcomeCode != kExitOk && !r.backupPath.empty())
      std::fprintf(out, "%-*s %-*s %4s %8s  backup: %s\n", portWidth, "", serialWidth, "", "", "",
                   r.backupPath.c_str());
  }
  std::fprintf(out, "%zu radio%s: %zu done, %d failed\n", results.size(),
               results.size() == 1 ? "" : "s", results.size() - static_cast<std::size_t>(failed),
               failed);
  std::fflush(out);
}

}  // namespace

int RunFleetUpdate(const FleetOptions& options) {
  const std::function<int()> stopSignals =
      options.stopSignals ? options.stopSignals : std::function<int()>(StopSignalCount);
  if (!options.stopSignals) InstallStopSignals();
  DisplayMode mode = DisplayMode::Lines;
  if (options.display)
    mode = *options.display;
  else if (options.json)
    mode = DisplayMode::Json;
  else if (platform::IsTerminal(options.out) && platform::EnableControlSequences(options.out))
    mode = DisplayMode::Terminal;

  std::unique_ptr<platform::SystemPortMonitor> udev;
  platform::PortMonitor* monitor = options.monitor;
  if (options.watch && monitor == nullptr) {
    udev = std::make_unique<platform::SystemPortMonitor>();
    std::string error;
    if (!udev->Start(error)) {
      std::fprintf(options.err, "bcu update: --watch: %s\n", error.c_str());
      return kExitFailure;
    }
    monitor = udev.get();
  }

  std::string password;
  if (options.password) {
    password = *options.password;
  } else {
    TerminalOptions terminal;
    terminal.in = options.in;
    terminal.err = options.err;
    terminal.out = options.out;
    TerminalHost prompt(terminal);
    if (!prompt.AskPassword(platform::PasswordPurpose::Start, password)) {
      std::fprintf(options.err, "bcu update: no password given\n");
      return stopSignals() > 0 ? kExitStopped : kExitRefused;
    }
  }

  Fleet fleet(options, mode);
  fleet.startPassword = password;
  std::list<RadioThread> threads;
  const auto start = [&](const std::string& port) {
    auto& t = threads.emplace_back();
    t.port = port;
    const int radio = fleet.display.AddRadio(port);
    t.thread = std::thread([&fleet, &t, radio] {
      RunRadio(fleet, radio, t.port);
      t.done = true;
    });
  };
  const auto running = [&](const std::string& port) {
    const std::string canonical = CanonicalPath(port);
    for (const auto& t : threads)
      if (!t.done && CanonicalPath(t.port) == canonical) return true;
    return false;
  };
  const auto watchStops = [&] {
    const int signals = stopSignals();
    if (signals > fleet.stopLevel.load()) {
      if (fleet.stopLevel.load() == 0 && signals >= 1)
        fleet.display.Note(std::string("bcu update: ") +
                           (options.stopSignals ? "stop" : FirstStopSignalName()) +
                           ": every radio stops after its current step; press Ctrl-C again to "
                           "stop at once.");
      fleet.stopLevel = std::min(signals, 2);
    }
  };

  for (const auto& port : options.ports)
    if (!running(port)) start(port);
  if (options.watch) {
    fleet.display.Note("bcu update: watching for radios; Ctrl-C ends.");
    // A port that appears again while the run on it still unwinds waits for
    // that run to end.
    std::vector<std::string> waiting;
    std::set<std::string> seen(options.ports.begin(), options.ports.end());
    while (fleet.stopLevel.load() == 0) {
      watchStops();
      for (auto it = waiting.begin(); it != waiting.end();) {
        if (running(*it)) {
          ++it;
          continue;
        }
        start(*it);
        it = waiting.erase(it);
      }
      platform::PortEvent event;
      if (!monitor->Next(event, kMonitorWaitMs)) continue;
      if (event.kind == platform::PortEvent::Kind::Added) {
        seen.insert(event.path);
        if (running(event.path))
          waiting.push_back(event.path);
        else
          start(event.path);
      } else if (seen.count(event.path) > 0) {
        std::erase(waiting, event.path);
        fleet.display.Note(event.path + ": the port is gone.");
      }
    }
  }
  for (;;) {
    watchStops();
    bool all = true;
    for (const auto& t : threads) all = all && t.done;
    if (all) break;
    std::this_thread::sleep_for(kNap);
  }
  for (auto& t : threads) t.thread.join();
  fleet.display.Stop();

  const std::vector<app::HistoryRecord> results = fleet.Results();
  if (!options.json) PrintTable(options.out, results);
  int code = kExitOk;
  for (const auto& r : results)
    if (r.outcomeCode != kExitOk) code = kExitSomeFailed;
  if (!options.reportPath.empty()) {
    std::string error;
    if (!platform::WriteFileAtomically(options.reportPath, app::HistoryCsv(results), {}, error)) {
      std::fprintf(options.err, "bcu update: the report could not be written: %s\n", error.c_str());
      if (code == kExitOk) code = kExitFileError;
    }
  }
  return code;
}

}  // namespace bcu::cli
