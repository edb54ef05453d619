// `bcu update`: what the window's Start button runs, on a terminal.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "app/CodeUpdater.h"
#include "app/CodeplugBackup.h"
#include "cli/Commands.h"
#include "cli/TerminalHost.h"
#include "cli/TraceFile.h"
#include "cli/UpdaterSetup.h"
#include "codeplug/FormatVersion.h"
#include "platform/Clock.h"
#include "platform/PortDiscovery.h"
#include "resources/FirmwareSetFolder.h"

namespace bcu::cli {

namespace {

// Exit codes of `bcu update` beyond the shared ones.
enum UpdateExit : int {
  kExitPasswordRefused = 3,
  kExitNotStarted = 4,        // port, embedded files or radio checks: nothing written
  kExitCodeDownload = 5,      // the code download failed
  kExitNoAnswer = 6,          // the radio did not answer after its new code started
  kExitCodeplugUpload = 7,    // the codeplug could not be read (radio unchanged)
  kExitCodeplugDownload = 8,  // the codeplug could not be written back (backup kept)
  kExitNotConvertible = 9,    // code updated, codeplug format not convertible
  kExitStopped = 10,          // stopped with Ctrl-C
  kExitNotVerified = 11,      // codeplug written, but reading it back failed
};

constexpr const char* kExitHelp =
    "Exit codes: 0 done; 1 other failure; 2 bad command line; 3 start password refused; "
    "4 not started (firmware set, port, embedded files or radio check; nothing written); "
    "5 code download failed; 6 radio not answering after the update; 7 codeplug could not be read (or is "
    "invalid); 8 codeplug could not be written back, or read back differently (the backup file "
    "named in the summary holds it); 9 code updated but the codeplug format cannot be "
    "converted; 10 stopped with Ctrl-C; 11 codeplug written but not verified (reading it back "
    "failed).\n"
    "Every codeplug read from the radio is kept in "
    "$XDG_DATA_HOME/brisant-code-updater/backups/<serial>/ (default ~/.local/share/...); "
    "`bcu codeplug backups` lists them.";

struct UpdateArgs {
  UpdaterSetup setup;
  std::optional<std::string> password;
  std::optional<std::string> codeplugPassword;
  bool boot = false;
  bool yes = false;
  double delayScale = 1.0;
  std::string tracePath;
  bool traceSecrets = false;
  std::string firmwareDir;  // empty: the set compiled into the program
  bool json = false;
  bool noVerify = false;
};

// The terminal host, with the passwords of the command line and an ear for
// what the run did.
class UpdateHost final : public platform::Host, public app::CodeplugStepObserver {
 public:
  UpdateHost(TerminalHost& terminal, const UpdateArgs& args) : terminal_(terminal), args_(args) {}

  void ShowStatusText(const std::string& text) override {
    if (text.rfind("Preparing to download", 0) == 0) downloadStarted = true;
    terminal_.ShowStatusText(text);
  }
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

  void OnCodeplugStep(const app::CodeplugStepReport& report) override { codeplug = report; }

  std::optional<app::CodeplugStepReport> codeplug;
  bool downloadStarted = false;
  int messages = 0;

 private:
  TerminalHost& terminal_;
  const UpdateArgs& args_;
};

std::string FormatName(int index) {
  const auto v = codeplug::VersionOfFormatIndex(static_cast<std::uint8_t>(index));
  if (v.major == 0) return "unknown";
  return std::to_string(v.major) + "." + std::to_string(v.minor);
}

// What the read-back after the codeplug download found.
std::string ReadBackText(const app::CodeplugStepReport& r) {
  if (r.downloadedBytes == 0) return "none";
  if (r.verifySkipped) return "skipped (--no-verify)";
  if (r.verified) return "verified";
  if (r.verifyDifferentWord >= 0)
    return "differs from what was written at word " + std::to_string(r.verifyDifferentWord);
  return "failed, not verified";
}

int ExitCodeOf(const UpdateHost& host, const std::string& status, bool started, bool stopped) {
  if (!started) return kExitPasswordRefused;
  if (stopped) return kExitStopped;
  if (host.codeplug) {
    switch (host.codeplug->outcome) {
      case app::kCodeplugNoConversion:
      case app::kCodeplugConverted:
        return kExitOk;
      case app::kCodeplugNotConvertible:
      case app::kCodeplugConversionFailed:
        return kExitNotConvertible;
      case app::kCodeplugUploadFailed:
        return kExitCodeplugUpload;
      case app::kCodeplugDownloadFailed:
        return kExitCodeplugDownload;
      case app::kCodeplugNotVerified:
        return kExitNotVerified;
      default:
        return kExitNoAnswer;
    }
  }
  // Boot and DSP updates end on the download's own last text.
  if (status.rfind("Download finished", 0) == 0) return kExitOk;
  return host.downloadStarted ? kExitCodeDownload : kExitNotStarted;
}

// The firmware set of this run: the one compiled in, or a set folder checked
// as the build checks the set it embeds.
std::shared_ptr<const platform::ResourceSource> FirmwareSet(const UpdateArgs& args) {
  if (args.firmwareDir.empty()) return args.setup.Resources();
  std::string error;
  resources::FirmwareSetDescription set;
  auto loaded = resources::LoadFirmwareSet(args.firmwareDir, error, &set);
  if (!loaded) {
    std::fprintf(stderr, "bcu update: firmware set refused: %s\n", error.c_str());
    return nullptr;
  }
  if (!args.json)
    std::printf("Firmware set %s, release %s (%s)\n",
                set.identity.name.empty() ? "unnamed" : set.identity.name.c_str(),
                set.identity.release.empty() ? "none" : set.identity.release.c_str(),
                args.firmwareDir.c_str());
  return loaded;
}

int RunUpdateCommand(const UpdateArgs& args) {
  const auto resources = FirmwareSet(args);
  if (!resources) return kExitNotStarted;
  TraceFile trace;
  trace.ShowSecrets(args.traceSecrets);
  if (!args.tracePath.empty()) {
    std::string error;
    if (!trace.Open(args.tracePath, error)) {
      std::fprintf(stderr, "bcu update: cannot write the trace: %s\n", error.c_str());
      return kExitFailure;
    }
  }
  TerminalOptions options;
  options.assumeYes = args.yes;
  options.delayScale = args.delayScale;
  options.quiet = args.json;
  TerminalHost terminal(options);
  UpdateHost host(terminal, args);
  app::CodeUpdaterView view;
  platform::SystemPortDiscovery discovery;
  app::CodeUpdaterOptions updaterOptions = args.setup.UpdaterOptions();
  updaterOptions.verifyCodeplug = !args.noVerify;
  app::CodeUpdater updater(host, view, *resources,
                           args.setup.programPath.empty() ? ProgramPath() : args.setup.programPath,
                           discovery, updaterOptions);
  if (!args.tracePath.empty()) updater.SetTrace(&trace);
  updater.SelectPortItem(0);
  if (args.boot) updater.m_BootRadioButtonClick();

  bool stopped = false;
  TerminalHost::InstallInterruptHandler();
  terminal.onInterrupt = [&] {
    if (updater.m_Running) {
      stopped = true;
      updater.m_StartButtonClick();  // Stop
    }
  };
  const std::uint64_t startUs = platform::RealMicros();
  updater.m_StartButtonClick();
  const double seconds = static_cast<double>(platform::RealMicros() - startUs) / 1e6;
  const bool started = updater.m_PasswordAccepted;
  const std::string status = terminal.StatusText();
  const int code = ExitCodeOf(host, status, started, stopped);

  if (!started && !args.json) std::fprintf(stderr, "bcu update: the password was refused\n");
  if (args.json) {
    nlohmann::json j;
    j["status"] = status;
    j["exitCode"] = code;
    j["seconds"] = seconds;
    j["messages"] = host.messages;
    if (host.codeplug) {
      const auto& r = *host.codeplug;
      j["codeplug"] = {{"outcome", r.outcome},
                       {"formatBefore", FormatName(r.imageFormatIndex)},
                       {"formatAfter", FormatName(r.downloadedBytes > 0 ? r.targetFormatIndex
                                                                        : r.imageFormatIndex)},
                       {"radioFormat", FormatName(r.targetFormatIndex)},
                       {"bytesRead", r.uploadedBytes},
                       {"bytesWritten", r.downloadedBytes},
                       {"readBack", ReadBackText(r)},
                       {"readBackSeconds", r.verifySeconds},
                       {"backup", r.backupPath}};
      if (!r.backupError.empty()) j["codeplug"]["backupError"] = r.backupError;
    }
    std::printf("%s\n", j.dump(2).c_str());
  } else if (host.codeplug) {
    const auto& r = *host.codeplug;
    std::printf("Codeplug: format %s in the radio, %s expected; %d bytes read, %d written\n",
                FormatName(r.imageFormatIndex).c_str(), FormatName(r.targetFormatIndex).c_str(),
                r.uploadedBytes, r.downloadedBytes);
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
  CLI::App* cmd = app.add_subcommand(
      "update", "Update the connected radio (the Start button): code, then its codeplug");
  cmd->footer(kExitHelp);
  AddPortOption(*cmd, args->setup);
  cmd->get_option("--port")->required();
  AddTargetOptions(*cmd, args->setup);
  cmd->add_option("--password", args->password,
                  "Start password (asked without echo when not given)");
  cmd->add_flag("--boot", args->boot, "Boot code update (an Application/Boot updater)");
  cmd->add_option("--codeplug-password", args->codeplugPassword,
                  "Digits to give when the radio asks for its codeplug password");
  cmd->add_flag("--yes,-y", args->yes, "Answer every question with Yes / OK");
  cmd->add_option("--delay-scale", args->delayScale,
                  "Real time per clock time of the fixed waits (0.01: 100 times faster)")
      ->check(CLI::Range(0.0001, 100.0));
  cmd->add_option("--trace", args->tracePath,
                  "Write every frame sent and received to FILE (mode 0600; the codeplug "
                  "password's digits masked)");
  cmd->add_flag("--trace-secrets", args->traceSecrets,
                "Write the codeplug password's digits into the trace as sent");
  cmd->add_option("--firmware", args->firmwareDir,
                  "Firmware set folder (attributes.json and chunk files) to write instead of "
                  "the set built into the program; checked as the build checks a set")
      ->check(CLI::ExistingDirectory);
  cmd->add_flag("--json", args->json, "Print the result as JSON instead of status lines");
  cmd->add_flag("--no-verify", args->noVerify,
                "Do not read the codeplug back after writing it to compare (saves the time "
                "of one more upload)");
  cmd->callback([args] {
    const int code = RunUpdateCommand(*args);
    if (code != kExitOk) throw CLI::RuntimeError(code);
  });
}

}  // namespace bcu::cli
