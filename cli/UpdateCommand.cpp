// `bcu update`: the update the window runs, on a terminal.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "app/CodeUpdater.h"
#include "app/CodeplugBackup.h"
#include "app/EmbeddedFiles.h"
#include "app/ProgramVersion.h"
#include "app/UpdateHistory.h"
#include "cli/Commands.h"
#include "cli/FleetUpdate.h"
#include "cli/Output.h"
#include "cli/Rehearse.h"
#include "cli/StopSignals.h"
#include "cli/TerminalHost.h"
#include "cli/TraceFile.h"
#include "cli/UpdateOutcome.h"
#include "cli/UpdaterSetup.h"
#include "platform/AtomicWrite.h"
#include "platform/Clock.h"
#include "platform/HelpWords.h"
#include "platform/PortDiscovery.h"
#include "resources/FirmwareSetFolder.h"

namespace bcu::cli {

namespace {

constexpr std::uint32_t kDefaultBootloadWaitSeconds = 300;
// While it waits for bootload mode, the command says how long it has left
// this often.
constexpr std::uint32_t kBootloadReportMs = 10000;

constexpr const char* kUpdateExitCodes =
    "Exit codes as in `bcu --help`: 3 start password or radio check refused, 4 port not opened "
    "or nothing answered, 13 firmware set refused, 14 work files not written (nothing written "
    "to the radio in these cases); 5 to 12 what failed after the download began; 15 several "
    "radios (more than one --port, --all-ports, --watch) and at least one did not end "
    "\"Done.\" (each radio's own code is in the final table).\n";

std::string UpdateFooter() {
  return kUpdateExitCodes +
         ("Every codeplug read from the radio is kept in " +
          platform::DataFolderWords("backups/<serial>/")) +
         platform::DataFolderDefaultWords("...") +
         "; `bcu codeplug backups` lists them. Every update is recorded in " +
         platform::DataFolderWords("history.jsonl") + "; `bcu history` prints it.";
}

struct UpdateArgs {
  UpdaterSetup setup;
  std::optional<std::string> password;
  std::optional<std::string> codeplugPassword;
  bool boot = false;
  bool yes = false;
  bool force = false;
  double waitBootloadSeconds = kDefaultBootloadWaitSeconds;
  double delayScale = 1.0;
  std::string tracePath;
  bool traceSecrets = false;
  std::string firmwareDir;  // empty: the set compiled into the program
  bool json = false;
  bool noVerify = false;
  Verbosity verbosity = Verbosity::kNormal;
  bool allPorts = false;       // every port `bcu ports` lists as free
  bool watch = false;          // plug-and-update until Ctrl-C
  std::string reportPath;      // the run's table as CSV
  bool rehearse = false;       // rehearse only
  bool rehearseFirst = false;  // rehearse, then update the radios whose rehearsal ended "Done."
  std::string codeplugFormat;  // what the new code expects, for the rehearsal
  // --rehearse-first --json: the rehearsals' object, printed with the real
  // run's result so that the output stays one JSON document (one radio: its
  // member "rehearsals" beside the run's own; a fleet: the first line of its
  // JSON lines, {"event": "rehearsals", ...}).
  const nlohmann::ordered_json* rehearsals = nullptr;
};

// The terminal host, with the passwords of the command line.
class UpdateHost final : public platform::Host {
 public:
  UpdateHost(TerminalHost& terminal, const UpdateArgs& args) : terminal_(terminal), args_(args) {}

  void ShowStatusText(const std::string& text) override { terminal_.ShowStatusText(text); }
  platform::ProgressBar& Progress() override { return terminal_.Progress(); }
  platform::MsgResult ShowMessage(const std::string& text, const std::string& caption,
                                  platform::MsgIcon icon, platform::MsgButtons buttons) override {
    ++messages;
    return terminal_.ShowMessage(text, caption, icon, buttons);
  }
  bool AskPassword(platform::PasswordPurpose purpose, std::string& text) override {
    const auto& given =
        purpose == platform::PasswordPurpose::Start ? args_.password : args_.codeplugPassword;
    if (given) {
      text = *given;
      return true;
    }
    return terminal_.AskPassword(purpose, text);
  }
  std::unique_ptr<platform::Timer> CreateTimer(platform::TimerHandler handler) override {
    return terminal_.CreateTimer(std::move(handler));
  }
  platform::Clock& GetClock() override { return terminal_.GetClock(); }
  void Pump() override { terminal_.Pump(); }
  bool QuitRequested() const override { return terminal_.QuitRequested(); }

  int messages = 0;

 private:
  TerminalHost& terminal_;
  const UpdateArgs& args_;
};

// What the read-back after the codeplug download found.
std::string ReadBackText(const app::CodeplugStepReport& r) {
  if (r.downloadedBytes == 0) return "none";
  if (r.verifySkipped) return "skipped (--no-verify)";
  if (r.verified) return "verified";
  if (r.verifyDifferentWord >= 0)
    return "differs from what was written at word " + std::to_string(r.verifyDifferentWord);
  return "failed, not verified";
}

// What the run is doing, for the line a stop signal prints.
std::string CurrentStep(const std::string& status) {
  return status.empty() || status == kIdleStatus ? std::string("starting") : status;
}

// The window's box after the automatic boot update ends "Press OK once the
// radio is ready."; on a terminal the last sentence says what to do here, or
// (--yes) what the program does instead.
std::string BootloadBoxText(const std::string& text, const std::string& lastSentence) {
  const std::string press = "Press OK once the radio is ready.";
  const auto at = text.rfind(press);
  if (at == std::string::npos) return text;
  return text.substr(0, at) + lastSentence + text.substr(at + press.size());
}

// "4:58": minutes and seconds.
std::string MinutesSeconds(std::uint32_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%u:%02u", seconds / 60, seconds % 60);
  return text;
}

// Waits for the radio to be back in bootload mode after the automatic boot
// update: the person presses Enter, or (--yes) the radio is asked for its boot
// information once a second until it answers or the time is up.
bool WaitForBootload(TerminalHost& terminal, const UpdateArgs& args, app::CodeUpdater& u,
                     const std::string& text, bool& notInBootload) {
  const auto limitSeconds = static_cast<std::uint32_t>(args.waitBootloadSeconds);
  terminal.ShowMessage(
      BootloadBoxText(text, args.yes ? "Waiting for the radio in bootload mode, " +
                                           MinutesSeconds(limitSeconds) + " left (--yes)."
                                     : std::string("Press Enter once the radio is ready.")),
      "Brisant Code Updater", platform::MsgIcon::Information, platform::MsgButtons::Ok);
  if (!args.yes) {
    std::fprintf(stderr,
                 "Put the radio back into bootload mode, then press Enter (Ctrl-C stops).\n");
    std::fflush(stderr);
    if (terminal.WaitForEnter([&u] { return u.StopRequested(); })) return true;
    if (!u.StopRequested()) {
      std::fprintf(stderr,
                   "bcu update: no answer (the input ended); use --yes to wait for the radio "
                   "instead\n");
      notInBootload = true;
    }
    return false;
  }
  const auto limitMs = static_cast<std::uint32_t>(args.waitBootloadSeconds * 1000.0);
  // Progress of the wait; -q leaves only its failure.
  const bool quiet = args.verbosity == Verbosity::kQuiet;
  if (!quiet) {
    std::fprintf(stderr,
                 "Waiting up to %.0f s for the radio to answer in bootload mode (boot "
                 "information request once a second)...\n",
                 args.waitBootloadSeconds);
    std::fflush(stderr);
  }
  std::uint32_t nextReport = kBootloadReportMs;
  const auto result = u.WaitForBootloadMode(limitMs, [&](std::uint32_t waitedMs) {
    if (waitedMs < nextReport) return;
    nextReport += kBootloadReportMs;
    if (quiet) return;
    std::fprintf(stderr, "Waiting for the radio in bootload mode, %s left\n",
                 MinutesSeconds((limitMs - waitedMs + 999) / 1000).c_str());
    std::fflush(stderr);
  });
  switch (result) {
    case app::BootloadWaitResult::Ready:
      if (!quiet) std::fprintf(stderr, "The radio answers in bootload mode.\n");
      return true;
    case app::BootloadWaitResult::TimedOut:
      std::fprintf(stderr, "bcu update: the radio did not answer in bootload mode within %.0f s\n",
                   args.waitBootloadSeconds);
      notInBootload = true;
      return false;
    case app::BootloadWaitResult::Stopped:
      break;
  }
  return false;
}

// Options that would make the updater write firmware that the radio checks
// refuse: only with --force, which says what it disables.
bool OverridesAllowed(const UpdateArgs& args) {
  const std::vector<std::string> overrides = args.setup.Overrides();
  if (overrides.empty()) return true;
  std::string list;
  for (const auto& o : overrides) list += (list.empty() ? "" : ", ") + o;
  if (!args.force)
    Fail(kExitUsage, list +
                         " changes what the updater believes it carries, so the radio checks "
                         "would compare the radio with that instead of with the firmware set; "
                         "refused without --force");
  std::fprintf(stderr,
               "bcu update: --force: %s; the check that the radio fits the firmware this program "
               "carries (family, series, platform, upgrade type) is disabled\n",
               list.c_str());
  return true;
}

// --boot asks for a boot update; an updater that cannot make one refuses it
// instead of running an application update.
bool BootChoiceAllowed(const app::CodeUpdater& u, bool boot) {
  if (!boot) return true;
  if (u.m_UpgradeChoiceVisible || u.m_Attributes.UpgradeType == app::kUpgradeBoot) return true;
  Fail(kExitUsage, "--boot: this updater (upgrade type " + u.m_Target.m_TargetUpgradeTypeLabel +
                       (u.m_AutoBootUpdate ? ", boot code brought up to date by itself" : "") +
                       ") has no boot update to choose");
}

// The firmware set of this run: the one compiled in, or a set folder checked
// as the build checks the set it embeds.
std::shared_ptr<const platform::ResourceSource> FirmwareSet(const UpdateArgs& args) {
  if (args.firmwareDir.empty()) return args.setup.Resources();
  std::string error;
  resources::FirmwareSetDescription set;
  auto loaded = resources::LoadFirmwareSet(args.firmwareDir, error, &set);
  if (!loaded) Fail(kExitFileInvalid, "firmware set refused: " + error);
  if (!args.json && args.verbosity != Verbosity::kQuiet)
    std::printf("Firmware set %s, release %s (%s)\n",
                set.identity.name.empty() ? "unnamed" : set.identity.name.c_str(),
                set.identity.release.empty() ? "none" : set.identity.release.c_str(),
                args.firmwareDir.c_str());
  return loaded;
}

// The run's history line (the updater wrote it) in the report, when one was
// asked for.
void WriteReport(const UpdateArgs& args, const app::HistoryRecord& record) {
  if (args.reportPath.empty()) return;
  std::string error;
  if (!platform::WriteFileAtomically(args.reportPath, app::HistoryCsv({record}), {}, error))
    std::fprintf(stderr, "bcu update: the report could not be written: %s\n", error.c_str());
}

// The ports of a fleet update: those named, then (--all-ports) every port of
// the system that can be opened now.
std::vector<std::string> FleetPorts(const UpdateArgs& args) {
  std::vector<std::string> ports = args.setup.ports;
  if (!args.allPorts) return ports;
  platform::SystemPortDiscovery discovery;
  std::vector<platform::SerialDeviceInfo> devices;
  discovery.ListDevices(devices);
  for (const auto& d : devices) {
    if (std::find(ports.begin(), ports.end(), d.path) != ports.end()) continue;
    if (discovery.TestOpen(d.path).access == platform::PortAccess::Free) ports.push_back(d.path);
  }
  return ports;
}

int RunFleet(const UpdateArgs& args, std::shared_ptr<const platform::ResourceSource> resources) {
  if (!args.tracePath.empty()) Fail(kExitUsage, "--trace follows one radio; give one --port");
  FleetOptions options;
  options.ports = FleetPorts(args);
  if (options.ports.empty() && !args.watch)
    Fail(kExitPort, "--all-ports: no serial port can be opened");
  options.watch = args.watch;
  options.password = args.password;
  options.codeplugPassword = args.codeplugPassword;
  options.boot = args.boot;
  options.yes = args.yes;
  options.waitBootloadSeconds = args.waitBootloadSeconds;
  options.delayScale = args.delayScale;
  options.json = args.json;
  if (args.json && args.rehearsals != nullptr) {
    nlohmann::ordered_json line = {{"event", "rehearsals"}};
    line["rehearsals"] = args.rehearsals->value("rehearsals", nlohmann::ordered_json::array());
    std::printf("%s\n", line.dump().c_str());
    std::fflush(stdout);
  }
  options.reportPath = args.reportPath;
  options.programPath = args.setup.programPath.empty() ? ProgramPath() : args.setup.programPath;
  options.resources = std::move(resources);
  options.updaterOptions = args.setup.UpdaterOptions();
  options.updaterOptions.verifyCodeplug = !args.noVerify;
  return RunFleetUpdate(options);
}

int RunUpdateCommand(const UpdateArgs& args);

// --rehearse and --rehearse-first: every radio rehearsed on its own; then,
// for --rehearse-first and after one question, the real run on the radios
// whose rehearsal ended "Done.".
int RehearseThenUpdate(const UpdateArgs& args,
                       std::shared_ptr<const platform::ResourceSource> resources) {
  if (args.watch) Fail(kExitUsage, "--rehearse and --rehearse-first take named ports, not --watch");
  RehearseRequest request;
  request.ports = FleetPorts(args);
  if (request.ports.empty()) Fail(kExitPort, "--all-ports: no serial port can be opened");
  request.json = args.json;
  request.verbosity = args.verbosity;
  RehearsalInput& in = request.input;
  in.resources = resources;
  in.programPath = args.setup.programPath.empty() ? ProgramPath() : args.setup.programPath;
  in.updaterOptions = args.setup.UpdaterOptions();
  in.updaterOptions.verifyCodeplug = !args.noVerify;
  in.password = args.password;
  in.codeplugPassword = args.codeplugPassword;
  in.boot = args.boot;
  if (!args.codeplugFormat.empty()) {
    unsigned major = 0, minor = 0;
    char end = 0;
    if (std::sscanf(args.codeplugFormat.c_str(), "%u.%u%c", &major, &minor, &end) != 2 ||
        major > 255 || minor > 255)
      Fail(kExitUsage, "--codeplug-format: give MAJOR.MINOR, such as 5.10");
    in.newFormat = {static_cast<std::uint8_t>(major), static_cast<std::uint8_t>(minor)};
    in.newFormatGiven = true;
  }
  TerminalOptions options;
  options.assumeYes = args.yes;
  options.quiet = args.json || args.verbosity == Verbosity::kQuiet;
  TerminalHost terminal(options);
  nlohmann::ordered_json held;
  if (args.json && args.rehearseFirst) request.heldJson = &held;
  std::vector<std::string> passed;
  const int code = RunRehearsals(request, terminal, passed);
  const auto noRealRun = [&] {
    if (request.heldJson != nullptr) std::printf("%s\n", held.dump(2).c_str());
    return code;
  };
  if (args.rehearse || passed.empty()) return noRealRun();
  if (!ConfirmRealRun(terminal, passed.size())) return noRealRun();
  UpdateArgs real = args;
  real.rehearse = real.rehearseFirst = false;
  real.rehearsals = request.heldJson;
  real.allPorts = false;
  real.setup.ports = passed;
  real.password = in.password;
  const int realCode = RunUpdateCommand(real);
  // A fleet whose rehearsals left radios out has not updated them all.
  return realCode == kExitOk && passed.size() < request.ports.size() ? kExitSomeFailed : realCode;
}

int RunUpdateCommand(const UpdateArgs& args) {
  if (args.setup.ports.empty() && !args.allPorts && !args.watch)
    Fail(kExitUsage, "name the radio's port (--port DEV), or use --all-ports or --watch");
  OverridesAllowed(args);
  const auto resources = FirmwareSet(args);
  if (args.rehearse || args.rehearseFirst) return RehearseThenUpdate(args, resources);
  if (args.setup.ports.size() > 1 || args.allPorts || args.watch) return RunFleet(args, resources);
  if (args.verbosity == Verbosity::kVerbose) {
    // The second line of the version text: the set's name, release and radio.
    std::string set = app::VersionText("bcu", *resources);
    set = set.substr(set.find('\n') + 1);
    if (!set.empty() && set.back() == '\n') set.pop_back();
    Detail(args.verbosity, set);
  }
  for (const auto& port : args.setup.ports) Detail(args.verbosity, "port: " + port);
  TraceFile trace;
  trace.ShowSecrets(args.traceSecrets);
  if (!args.tracePath.empty()) {
    std::string error;
    if (!trace.Open(args.tracePath, error))
      Fail(kExitFileError, "cannot write the trace: " + error);
    Detail(args.verbosity, "trace: " + args.tracePath);
  }
  TerminalOptions options;
  options.assumeYes = args.yes;
  options.delayScale = args.delayScale;
  options.quiet = args.json || args.verbosity == Verbosity::kQuiet;
  options.timestamps = args.verbosity == Verbosity::kVerbose;
  options.hideInformation = args.verbosity == Verbosity::kQuiet;
  TerminalHost terminal(options);
  UpdateHost host(terminal, args);
  app::CodeUpdaterView view;
  platform::SystemPortDiscovery discovery;
  bool notInBootload = false;
  app::CodeUpdaterOptions updaterOptions = args.setup.UpdaterOptions();
  updaterOptions.verifyCodeplug = !args.noVerify;
  bool waitingForBootload = false;  // the step a first stop signal names
  // The run goes into the update history as a window's run does; a stop
  // signal counts whether or not a pump passed it to the updater.
  bool stopped = false;
  updaterOptions.recordHistory = true;
  updaterOptions.runFacts = [&](UpdateRunFacts& facts) {
    if (stopped || StopSignalCount() > 0) facts.stopped = true;
    if (notInBootload) facts.notInBootload = true;
  };
  updaterOptions.bootloadWait = [&](app::CodeUpdater& u, const std::string& text) {
    waitingForBootload = true;
    const bool ready = WaitForBootload(terminal, args, u, text, notInBootload);
    waitingForBootload = false;
    return ready;
  };
  app::CodeUpdater updater(host, view, *resources,
                           args.setup.programPath.empty() ? ProgramPath() : args.setup.programPath,
                           discovery, std::move(updaterOptions));
  BootChoiceAllowed(updater, args.boot);
  if (!args.tracePath.empty()) updater.SetTrace(&trace);
  updater.SelectPortItem(0);
  if (args.boot) updater.m_BootRadioButtonClick();

  // The first stop signal is the Stop button: the run stops at its next safe
  // point (a step that must not be cut runs to its end, the loader and the
  // application code stop at their next block, a fixed wait in progress runs
  // to its end). The second stops at once: whatever runs is cut, fixed waits
  // end too, and the run unwinds, closing the link and removing its work
  // files; its last status line says what the radio may now hold.
  TerminalHost::InstallInterruptHandler();
  terminal.onInterrupt = [&] {
    stopped = true;
    if (updater.m_RunState != app::RunState::Running) return;
    std::fprintf(stderr, "\nbcu update: %s: %s (%s). Press Ctrl-C again to stop at once.\n",
                 FirstStopSignalName(), updater.StopNotice().c_str(),
                 waitingForBootload ? "waiting for the radio in bootload mode"
                                    : CurrentStep(terminal.StatusText()).c_str());
    std::fflush(stderr);
    updater.m_StartButtonClick();  // Stop
  };
  terminal.onForceQuit = [&] {
    stopped = true;
    std::fprintf(stderr,
                 "\nbcu update: stopping at once: %s is cut short; the link is closed "
                 "now.\n",
                 app::RunStepName(updater.m_Step));
    std::fflush(stderr);
    terminal.RequestQuit();
    updater.RequestStop(app::StopLevel::AtOnce);
  };
  const std::uint64_t startUs = platform::RealMicros();
  updater.m_StartButtonClick();
  const double seconds = static_cast<double>(platform::RealMicros() - startUs) / 1e6;
  const bool started = updater.m_PasswordAccepted;
  // A signal at a prompt ends the prompt before any pump has seen it.
  if (StopSignalCount() > 0) stopped = true;
  // How the run ended, as the updater recorded it: the failing step's own
  // text (the status line reads "Idle" after most failures) and the code.
  const app::LastRun& run = updater.LastRunRecord();
  UpdateRunFacts facts;
  if (started && run.ran) {
    facts = run.facts;
  } else {
    facts.started = started;
    facts.stopped = stopped;
  }
  std::string status = facts.status;
  if (status.empty()) status = terminal.StatusText();
  const std::optional<app::CodeplugStepReport>& codeplug = facts.codeplug;
  const int code = started && run.ran ? run.outcomeCode : UpdateExitCode(facts);
  if (started && run.ran) WriteReport(args, run.record);
  if (stopped && code == kExitStopped && codeplug && !codeplug->backupPath.empty()) {
    std::fprintf(stderr, "bcu update: the codeplug read from the radio is saved in %s\n",
                 codeplug->backupPath.c_str());
  }

  // What the plain output says of a failure: the password, or how the run
  // ended (the failing step's text, or the error box that ended it).
  std::string failure;
  if (code != kExitOk) failure = !started && !stopped ? "the password was refused" : status;
  // After the box that refused the port: the port and the system's reason.
  // After a failed step: what it knows beyond its status line (the block,
  // the reply or the time-out that ended it).
  if (!args.json && args.verbosity != Verbosity::kQuiet) {
    if (!updater.m_PortProblem.empty())
      std::fprintf(stderr, "bcu update: %s\n", updater.m_PortProblem.c_str());
    else if (code != kExitOk && !updater.m_RunResult.ResultFromBox() &&
             status != terminal.ShownStatusText())
      std::fprintf(stderr, "bcu update: %s\n", status.c_str());
  }
  if (!started && !stopped && !args.json)
    std::fprintf(stderr, "bcu update: the password was refused\n");
  else if (code != kExitOk && !args.json && args.verbosity == Verbosity::kQuiet &&
           !updater.m_RunResult.ResultFromBox())  // an error box has said it already
    std::fprintf(stderr, "bcu update: %s\n", failure.c_str());
  Detail(args.verbosity, "exit code " + std::to_string(code) + " (" + ExitCodeName(code) + ")");
  if (args.json) {
    nlohmann::ordered_json j;
    if (code != kExitOk) j["error"] = ErrorObject(code, failure);
    j["statusText"] = status;
    j["exitCode"] = code;
    j["seconds"] = seconds;
    j["messageBoxCount"] = host.messages;
    if (codeplug) {
      const auto& r = *codeplug;
      j["codeplug"] = {
          {"outcome", r.outcome},
          {"formatBefore", CodeplugFormatName(r.imageFormatIndex)},
          {"formatAfter",
           CodeplugFormatName(r.downloadedBytes > 0 ? r.targetFormatIndex : r.imageFormatIndex)},
          {"radioFormat", CodeplugFormatName(r.targetFormatIndex)},
          {"bytesRead", r.uploadedBytes},
          {"bytesWritten", r.downloadedBytes},
          {"readBack", ReadBackText(r)},
          {"readBackSeconds", r.verifySeconds},
          {"backupFile", r.backupPath}};
      if (!r.backupError.empty()) j["codeplug"]["backupError"] = r.backupError;
    }
    if (args.rehearsals != nullptr) {
      nlohmann::ordered_json both = *args.rehearsals;
      both["update"] = std::move(j);
      j = std::move(both);
    }
    std::printf("%s\n", j.dump(2).c_str());
  } else if (codeplug && args.verbosity != Verbosity::kQuiet) {
    const auto& r = *codeplug;
    std::printf("Codeplug: format %s in the radio, %s expected; %d bytes read, %d written\n",
                CodeplugFormatName(r.imageFormatIndex).c_str(),
                CodeplugFormatName(r.targetFormatIndex).c_str(), r.uploadedBytes,
                r.downloadedBytes);
    if (r.downloadedBytes > 0) {
      std::printf("Read-back: %s", ReadBackText(r).c_str());
      if (!r.verifySkipped) std::printf(", %.1f s", r.verifySeconds);
      std::printf("\n");
    }
    if (!r.backupPath.empty())
      std::printf("Backup: %s\n", r.backupPath.c_str());
    else if (!r.backupError.empty())
      std::printf("Backup: none (%s)\n", r.backupError.c_str());
    std::printf("Time: %.1f s\n", seconds);
  }
  return code;
}

}  // namespace

void RegisterUpdateCommand(CLI::App& app) {
  auto args = std::make_shared<UpdateArgs>();
  CLI::App* cmd =
      app.add_subcommand("update", "Update the connected radio: its code, then its codeplug");
  cmd->footer(UpdateFooter());
  AddPortOption(*cmd, args->setup);
  cmd->add_flag("--all-ports", args->allPorts,
                "Update a radio on every port that `bcu ports` lists as free, all at once");
  cmd->add_flag("--watch", args->watch,
                "Run until Ctrl-C and update every radio plugged in meanwhile, once per serial "
                "number");
  cmd->add_option("--report", args->reportPath,
                  "Also write the table of the radios updated as CSV to FILE")
      ->type_name("FILE");
  AddTargetOptions(*cmd, args->setup);
  cmd->add_option("--password", args->password,
                  "Start password (asked without echo when not given)")
      ->type_name("PASSWORD");
  cmd->add_flag("--boot", args->boot,
                "Boot code update (an Application/Boot updater that offers the choice)");
  cmd->add_flag("--force", args->force,
                "Allow --family, --series, --new-platform and --upgrade-type, which disable the "
                "check that the radio fits the firmware this program carries");
  cmd->add_option("--codeplug-password", args->codeplugPassword,
                  "Digits to give when the radio asks for its codeplug password")
      ->type_name("DIGITS");
  cmd->add_flag("--yes,-y", args->yes, "Answer every question with Yes / OK");
  cmd->add_option("--wait-bootload", args->waitBootloadSeconds,
                  "With --yes: seconds to wait for the radio to come back in bootload mode after "
                  "its boot code was updated (1 to 86400)")
      ->type_name("SECONDS")
      ->check(FiniteNumber())
      ->check(Unnamed(CLI::Range(1.0, 86400.0)))
      ->capture_default_str();
  cmd->add_option("--delay-scale", args->delayScale,
                  "Real time per clock time of the fixed waits (0.01: 100 times faster); reply "
                  "time-outs are not scaled; 0.0001 to 100")
      ->type_name("SCALE")
      ->check(FiniteNumber())
      ->check(Unnamed(CLI::Range(0.0001, 100.0)));
  cmd->add_option("--trace", args->tracePath,
                  "Write every frame sent and received to FILE (mode 0600; the codeplug "
                  "password's digits masked)")
      ->type_name("FILE");
  cmd->add_flag("--trace-secrets", args->traceSecrets,
                "Write the codeplug password's digits into the trace as sent");
  cmd->add_option("--firmware", args->firmwareDir,
                  "Firmware set folder (attributes.json and chunk files) to write instead of "
                  "the set built into the program; checked as the build checks a set")
      ->type_name("DIR")
      ->check(Unnamed(CLI::ExistingDirectory));
  AddJsonFlag(*cmd, args->json, "Print the result");
  cmd->add_flag("--no-verify", args->noVerify,
                "Do not read the codeplug back after writing it to compare (saves the time "
                "of one more upload)");
  cmd->add_flag("--rehearse", args->rehearse,
                "Read the radio (nothing is written to it) and run the whole update on a "
                "virtual copy of it first; report every check, transfer, the codeplug "
                "conversion and its diff, the predicted time and the real run's outcome; "
                "exit with the real run's code");
  cmd->add_flag("--rehearse-first", args->rehearseFirst,
                "Rehearse, then update the radios whose rehearsal ended \"Done.\" after one "
                "question (--yes skips it)");
  cmd->add_option("--codeplug-format", args->codeplugFormat,
                  "For the rehearsal: the codeplug format the new code expects (MAJOR.MINOR; "
                  "the firmware set does not say it); default 5.10")
      ->type_name("VERSION");
  cmd->callback([args, cmd] {
    args->verbosity = VerbosityOf(*cmd);
    if (args->rehearse && args->rehearseFirst)
      Fail(kExitUsage, "--rehearse and --rehearse-first: give one");
    const int code = RunUpdateCommand(*args);
    if (code != kExitOk) throw CLI::RuntimeError(code);
  });
}

}  // namespace bcu::cli
