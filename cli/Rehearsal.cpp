#include "cli/Rehearsal.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "app/EmbeddedFiles.h"
#include "cli/ExitCodes.h"
#include "cli/UpdateOutcome.h"
#include "codeplug/CodeplugFile.h"
#include "codeplug/FormatVersion.h"
#include "codeplug/Validity.h"
#include "platform/Clock.h"
#include "platform/FolderRoom.h"
#include "platform/Timer.h"
#include "sim/InProcessRadio.h"
#include "transfer/VYXTransferParms.h"

namespace bcu::cli {

const char* const kRehearsalLimits =
    "A rehearsal cannot foresee a radio or cable that fails in the middle of the real run, the "
    "radio's own erase and restart times (the model's are counted), nor how long the radio "
    "takes to be put back into bootload mode.";

namespace {

constexpr std::uint32_t kTransferTimeoutMs = 4000;

// ---- The reads ---------------------------------------------------------

bool AskGroup4(link::CommLink& link, std::uint8_t code, link::CommPacket& reply,
               std::uint32_t timeoutMs) {
  link::CommSetTimeout(link, timeoutMs);
  link::CommPacket request;
  request.length = 2;
  request.data[0] = 0x04;
  request.data[1] = code;
  link::CommSendPacket(link, request);
  link::CommSetRunning(link, true);
  reply = link::CommPacket{};
  int got = link::CommReceive(link, reply, 255, -1);
  // A radio that has just started announces itself first.
  if (got > 0 && reply.length >= 2 && reply.data[0] == 0x07 && reply.data[1] == 0x25) {
    reply = link::CommPacket{};
    got = link::CommReceive(link, reply, 255, -1);
  }
  link::CommEndExchange(link);
  return got > 0;
}

}  // namespace

RadioSnapshot ReadRadioSnapshot(const RehearsalInput& in, platform::Host& host) {
  RadioSnapshot s;
  app::CodeUpdaterView view;
  platform::SystemPortDiscovery systemPorts;
  platform::PortDiscovery& discovery = in.discovery ? *in.discovery : systemPorts;
  app::CodeUpdaterOptions options = in.updaterOptions;
  options.extraDevicePaths = {in.port};
  app::CodeUpdater u(host, view, *in.resources, in.programPath, discovery, options);
  u.SelectPortItem(0);
  s.platformCode = u.m_PlatformCode;
  s.attributes = u.m_Attributes;
  {
    const std::string root =
        options.backupRoot.empty() ? app::DefaultBackupRoot() : options.backupRoot;
    const auto room = options.folderRoom
                          ? options.folderRoom
                          : std::function<platform::FolderRoom(const std::string&)>(
                                [](const std::string& f) { return platform::QueryFolderRoom(f); });
    std::string reason;
    if (!app::BackupCanBeKept(root, room, reason)) s.backupRoom = reason;
  }
  u.m_Stop.Reset();
  // As a Retrieve opens it: at the radio's present rate.
  if (!u.OpenSelectedPort(true)) {
    s.failure = "The port could not be opened.";
    s.failureCode = kExitPort;
    return s;
  }
  s.portOpened = true;
  link::CommLink& link = u.m_Link;
  s.infoResult = link::CommReadRadioInfoTimed(link, u.m_PlatformCode, s.info, true);
  s.answered = s.infoResult == link::kCommSuccess || s.infoResult == link::kCommNotAvailable ||
               s.infoResult == link::kCommNoExtraBoot;
  if (!s.answered) {
    s.failure = "Communication error while retrieving version information.";
    s.failureCode = kExitPort;
    u.ReleasePort();
    return s;
  }
  link::CommPacket reply;
  if (AskGroup4(link, 0x67, reply, 500) && reply.length >= 3 && reply.data[0] == 0x04 &&
      reply.data[1] == 0x68)
    s.kind = reply.data[2];
  std::string key;
  link::CommSetTimeout(link, kTransferTimeoutMs);
  if (u.ReadRadioKey(key)) s.key = key;
  if (AskGroup4(link, 0x1C, reply, kTransferTimeoutMs) && reply.length >= 4 &&
      reply.data[0] == 0x04 && reply.data[1] == 0x1D) {
    s.formatRead = true;
    s.format = {reply.data[2], reply.data[3]};
  }

  // The codeplug, as the update's codeplug step uploads it.
  std::vector<std::uint8_t> bytes(transfer::kCodeplugBufferSize, 0);
  transfer::VYXTransferParms transfer;
  transfer.SetBuffer(bytes.data(), 0);
  transfer.SetRadioKey(s.key);
  transfer.SetLink(&link);
  transfer::VYXTransferParmsPassChecker& checker = transfer.PassChecker();
  checker.SetHost(&host);
  checker.SetPrompt([&](std::string& text) {
    s.passwordAsked = true;
    if (in.codeplugPassword) {
      text = *in.codeplugPassword;
    } else if (!checker.PromptCodeplugPassword(text)) {
      return false;
    }
    s.passwordGiven = text;
    return true;
  });
  link::CommSetTimeout(link, kTransferTimeoutMs);
  host.ShowStatusText("Uploading codeplug...");
  const std::int32_t result = transfer.Upload();
  if (result > 0) {
    s.uploaded = true;
    bytes.resize(static_cast<std::size_t>(transfer.GetLength()));
    s.codeplug = std::move(bytes);
  }
  link::CommEndExchange(link);
  u.ReleasePort();
  return s;
}

namespace {

// ---- The host of the rehearsed run ---------------------------------------

// The updater's clock: the line's, with its fixed waits counted apart.
class CountingClock final : public platform::Clock {
 public:
  explicit CountingClock(transfer::LineClock& line) : line_(line) {}
  std::uint64_t NowMs() override { return line_.NowMs(); }
  std::uint64_t NowUs() override { return line_.NowUs(); }
  void SleepMs(std::uint32_t clockMs) override {
    sleptUs += std::uint64_t{clockMs} * 1000;
    line_.SleepMs(clockMs);
  }
  std::uint64_t sleptUs = 0;

 private:
  transfer::LineClock& line_;
};

class RehearsalHost final : public platform::Host, public app::CodeplugStepObserver {
 public:
  RehearsalHost(sim::InProcessRadio& radio, const RehearsalInput& in, const RadioSnapshot& snap)
      : radio_(radio), in_(in), snap_(snap), clock_(radio.Clock()), timers_(clock_) {}

  void ShowStatusText(const std::string& text) override {
    Close();
    if (text.rfind("Preparing to download", 0) == 0) downloadStarted = true;
    // The model tells boot code from application code as the PC announces it.
    if (text.rfind("Downloading Boot", 0) == 0) radio_.Radio().SetCodeKind(sim::CodeKind::kBoot);
    if (text.rfind("Downloading Application", 0) == 0)
      radio_.Radio().SetCodeKind(sim::CodeKind::kApplication);
    start.OnStatus(text);
    status = text;
    open_ = true;
    current_ = RehearsalStep{};
    current_.text = text;
    Mark();
  }
  platform::ProgressBar& Progress() override { return progress_; }
  platform::MsgResult ShowMessage(const std::string& text, const std::string& caption,
                                  platform::MsgIcon icon, platform::MsgButtons buttons) override {
    start.OnMessage(text, caption, icon);
    boxes.push_back(caption + ": " + text);
    return buttons == platform::MsgButtons::Ok ? platform::MsgResult::Ok : platform::MsgResult::Yes;
  }
  bool AskPassword(platform::PasswordPurpose purpose, std::string& text) override {
    const auto& given =
        purpose == platform::PasswordPurpose::Start ? in_.password : snap_.passwordGiven;
    if (!given) return false;
    text = *given;
    return true;
  }
  std::unique_ptr<platform::Timer> CreateTimer(platform::TimerHandler handler) override {
    return timers_.Create(std::move(handler));
  }
  platform::Clock& GetClock() override { return clock_; }
  void Pump() override { timers_.Poll(); }
  void OnCodeplugStep(const app::CodeplugStepReport& report) override { codeplug = report; }

  // Ends the step that stands in the status line.
  void Close() {
    if (!open_) return;
    const transfer::LineTally& t = radio_.Tally();
    current_.bytesToRadio = t.bytesToRadio - mark_.bytesToRadio;
    current_.bytesFromRadio = t.bytesFromRadio - mark_.bytesFromRadio;
    current_.lineSeconds = static_cast<double>((t.lineUsToRadio - mark_.lineUsToRadio) +
                                               (t.lineUsFromRadio - mark_.lineUsFromRadio)) /
                           1e6;
    current_.seconds = static_cast<double>(radio_.Clock().NowUs() - markUs_) / 1e6;
    current_.fixedWaitSeconds = static_cast<double>(clock_.sleptUs - markSleptUs_) / 1e6;
    steps.push_back(current_);
    open_ = false;
  }
  // Starts counting afresh: what passes outside the run proper (the bootload
  // wait) is left out.
  void Mark() {
    mark_ = radio_.Tally();
    markUs_ = radio_.Clock().NowUs();
    markSleptUs_ = clock_.sleptUs;
  }

 private:
  sim::InProcessRadio& radio_;
  const RehearsalInput& in_;
  const RadioSnapshot& snap_;
  CountingClock clock_;
  platform::TimerQueue timers_;
  platform::ProgressValues progress_;
  bool open_ = false;
  RehearsalStep current_;
  transfer::LineTally mark_;
  std::uint64_t markUs_ = 0;
  std::uint64_t markSleptUs_ = 0;

 public:
  std::vector<RehearsalStep> steps;
  std::vector<std::string> boxes;
  std::optional<app::CodeplugStepReport> codeplug;
  bool downloadStarted = false;
  StartFailureWatch start;
  std::string status;
};

std::string VersionText(std::uint8_t major, std::uint8_t minor) {
  return std::to_string(major) + "." + std::to_string(minor);
}

// A password the radio will refuse: the one given, one digit changed.
std::string RefusedPassword(const std::optional<std::string>& given) {
  std::string p = given && !given->empty() ? *given : std::string("0");
  std::string digits;
  for (char c : p)
    if (c >= '0' && c <= '9') digits += c;
  if (digits.empty()) digits = "0";
  digits.back() = digits.back() == '9' ? '0' : static_cast<char>(digits.back() + 1);
  return digits;
}

sim::RadioConfig ConfigOf(const RehearsalInput& in, const RadioSnapshot& s,
                          const app::ResourceAttributes& a) {
  sim::RadioConfig c;
  const std::uint8_t* d = s.info.data;
  const bool portable = s.kind >= 0 ? s.kind == 1 : a.RadioFamily == 0;
  c.family = portable ? sim::RadioFamily::kPortable : sim::RadioFamily::kMobile;
  c.answersKindQuery = s.kind >= 0;
  c.startMode = sim::RadioMode::kBootload;
  c.formatBefore = {s.format.major, s.format.minor};
  if (!s.formatRead) c.formatBefore = {d[0], d[1]};
  c.formatAfter = {in.newFormat.major, in.newFormat.minor};
  std::copy(d + 2, d + 5, c.dspVersion.begin());
  std::copy(d + 5, d + 8, c.controllerVersion.begin());
  std::copy(d + 8, d + 11, c.hardwareVersion.begin());
  std::copy(d + 11, d + 19, c.serialNumber.begin());
  c.bootVersion = {d[19], d[20]};
  c.semVersion = {d[21], d[22]};
  c.hasBootInfo = s.infoResult != link::kCommNotAvailable;
  c.hasSem = s.infoResult != link::kCommNoExtraBoot;
  c.bootVersionAfter = {static_cast<std::uint8_t>(a.BootMajor),
                        static_cast<std::uint8_t>(a.BootMinor)};
  c.processor = a.Processor416 ? 4 : 8;
  c.boxPresent = true;
  c.codeKind = sim::CodeKind::kApplication;
  c.bootReentryMs = 0;
  if (s.passwordAsked)
    c.password =
        s.uploaded && s.passwordGiven ? *s.passwordGiven : RefusedPassword(s.passwordGiven);
  return c;
}

std::vector<std::string> ConversionPath(int from, int to) {
  std::vector<std::string> path;
  if (from < 0 || to < 0 || from > 5 || to > 5) return path;
  const int step = from <= to ? 1 : -1;
  for (int i = from;; i += step) {
    path.push_back(CodeplugFormatName(i));
    if (i == to) break;
  }
  return path;
}

void AddCheck(RehearsalResult& r, std::string name, bool passed, std::string result) {
  r.checks.push_back({std::move(name), passed, std::move(result)});
}

bool StatusSeen(const RehearsalResult& r, const std::string& prefix) {
  return std::any_of(r.steps.begin(), r.steps.end(),
                     [&](const RehearsalStep& s) { return s.text.rfind(prefix, 0) == 0; });
}

void FillChecks(RehearsalResult& r, const RehearsalInput& in, const app::ResourceAttributes& a,
                bool passwordAccepted) {
  const RadioSnapshot& s = r.radio;
  AddCheck(r, "start password", passwordAccepted, passwordAccepted ? "accepted" : "refused");
  const bool portable = a.RadioFamily == 0;
  if (s.kind < 0)
    AddCheck(r, "portable or mobile", true, "the radio does not say (04 67 not answered)");
  else
    AddCheck(r, "portable or mobile", (s.kind == 1) == portable,
             std::string(s.kind == 1 ? "portable" : "mobile") + " radio, " +
                 (portable ? "portable" : "mobile") + " firmware");
  const std::string radioBoot = VersionText(s.info.data[19], s.info.data[20]);
  const std::string setBoot =
      VersionText(static_cast<std::uint8_t>(a.BootMajor), static_cast<std::uint8_t>(a.BootMinor));
  if (s.infoResult == link::kCommNotAvailable)
    AddCheck(r, "boot version", true, "the radio has no boot information");
  else if (r.bootUpdate)
    AddCheck(
        r, "boot version", true,
        "radio " + radioBoot + ", firmware set " + setBoot + ": the boot code is updated first");
  else if (StatusSeen(r, "Error: the major boot versions"))
    AddCheck(r, "boot version", false,
             "radio " + radioBoot + ", firmware set " + setBoot + ": the major versions differ");
  else
    AddCheck(r, "boot version", true, "radio " + radioBoot + ", firmware set " + setBoot);
  if (StatusSeen(r, "Checking target radio...")) {
    const bool passed = StatusSeen(r, "Downloading");
    AddCheck(r, "target radio (platform, series)", passed,
             passed ? "passed" : (r.boxes.empty() ? r.outcome : r.boxes.back()));
  }
  AddCheck(r, "codeplug read", s.uploaded,
           s.uploaded ? std::to_string(s.codeplug.size()) + " bytes, format " +
                            (s.codeplug.size() >= 8 ? VersionText(s.codeplug[6], s.codeplug[7])
                                                    : std::string("unknown"))
                      : "the radio did not send its codeplug (it must run its code for this "
                        "read; a stand-in codeplug of its format was rehearsed)");
  if (s.passwordAsked)
    AddCheck(r, "codeplug password", s.uploaded, s.uploaded ? "accepted" : "refused");
  AddCheck(r, "room for the codeplug backup", s.backupRoom.empty(),
           s.backupRoom.empty() ? "yes" : s.backupRoom);
  AddCheck(r, "codeplug format the new code expects", true,
           VersionText(in.newFormat.major, in.newFormat.minor) +
               (in.newFormatGiven ? " (--codeplug-format)"
                                  : " (assumed: the firmware set does not say; "
                                    "--codeplug-format sets it)"));
  if (r.codeplug) {
    const app::CodeplugStepReport& c = *r.codeplug;
    std::string what;
    switch (c.outcome) {
      case app::kCodeplugNoConversion:
        what = "no conversion needed";
        break;
      case app::kCodeplugConverted:
        what = "converted and written back";
        break;
      case app::kCodeplugNotConvertible:
        what = "not convertible";
        break;
      case app::kCodeplugConversionFailed:
        what = c.note;
        break;
      default:
        what = r.outcome;
    }
    AddCheck(r, "codeplug conversion",
             c.outcome == app::kCodeplugNoConversion || c.outcome == app::kCodeplugConverted, what);
    if (c.downloadedBytes > 0)
      AddCheck(r, "read-back", c.verified || c.verifySkipped,
               c.verifySkipped ? "skipped (--no-verify)"
               : c.verified    ? "the same as written"
                               : "differs at word " + std::to_string(c.verifyDifferentWord));
  }
}

std::string MakeScratchFolder() {
  std::error_code ec;
  const auto base = std::filesystem::temp_directory_path(ec);
  std::random_device rd;
  for (int i = 0; i < 20; ++i) {
    const auto dir = base / ("bcu-rehearsal-" + std::to_string(rd()));
    if (std::filesystem::create_directory(dir, ec)) {
      std::filesystem::permissions(dir, std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::replace, ec);
      return dir.string();
    }
  }
  return {};
}

}  // namespace

RehearsalResult RehearseOn(const RehearsalInput& in, const RadioSnapshot& snap) {
  RehearsalResult r;
  r.radio = snap;
  const std::uint64_t realStart = platform::RealMicros();
  if (!snap.answered) {
    r.failure = snap.failure;
    r.outcome = snap.failure;
    r.exitCode = snap.failureCode != 0 ? snap.failureCode : kExitPort;
    return r;
  }

  // The radio's codeplug, or (not read) a stand-in of the format it reports.
  std::vector<std::uint8_t> image = snap.codeplug;
  std::unique_ptr<sim::InProcessRadio> radio;
  app::CodeUpdaterView view;
  std::unique_ptr<app::CodeUpdater> updater;
  app::CodeUpdaterOptions options = in.updaterOptions;
  const std::string scratch = MakeScratchFolder();
  if (scratch.empty()) {
    r.failure = "no private folder for the rehearsal's codeplug copy could be made";
    r.outcome = r.failure;
    r.exitCode = kExitFileError;
    return r;
  }
  const app::ResourceAttributes& attributes = snap.attributes;
  try {
    radio = std::make_unique<sim::InProcessRadio>(ConfigOf(in, snap, attributes));
    if (snap.uploaded) {
      if (image.size() > static_cast<std::size_t>(transfer::kCodeplugBufferSize))
        throw std::runtime_error("the codeplug is larger than a radio holds (" +
                                 std::to_string(image.size()) + " bytes)");
      if (image.size() % 2 != 0)
        throw std::runtime_error("the codeplug has an odd number of bytes (" +
                                 std::to_string(image.size()) + ")");
      radio->Radio().SetCodeplug(image);
    } else {
      image = radio->Radio().Codeplug();
    }
  } catch (const std::exception& e) {
    std::error_code ec;
    std::filesystem::remove_all(scratch, ec);
    r.failure = std::string("the virtual radio cannot hold this radio's codeplug: ") + e.what();
    r.outcome = r.failure;
    r.exitCode = kExitCodeplugUpload;
    return r;
  }

  RehearsalHost host(*radio, in, snap);
  options.extraDevicePaths = {sim::kInProcessPortPath};
  options.portSource = radio.get();
  options.serialDriver = nullptr;
  options.backupRoot = scratch;
  {
    // The room check answers for the real backup folder, as the real run's
    // would; the copy the run keeps goes to the scratch folder.
    const std::string realRoot = in.updaterOptions.backupRoot.empty()
                                     ? app::DefaultBackupRoot()
                                     : in.updaterOptions.backupRoot;
    options.folderRoom = [real = in.updaterOptions.folderRoom, realRoot](const std::string&) {
      return real ? real(realRoot) : platform::QueryFolderRoom(realRoot);
    };
  }
  options.replyTimeoutScale = 1.0;
  options.bootloadWait = [&](app::CodeUpdater& u, const std::string& text) {
    host.Close();
    r.bootUpdate = true;
    r.bootloadWaitText = text;
    host.boxes.push_back("Brisant Code Updater: " + text);
    // The technician's hand: the radio goes back into bootload mode.
    radio->Radio().SetMode(sim::RadioMode::kBootload);
    const bool ready = u.WaitForBootloadMode(5000) == app::BootloadWaitResult::Ready;
    host.Mark();
    return ready;
  };
  updater = std::make_unique<app::CodeUpdater>(host, view, *in.resources, in.programPath,
                                               radio->Ports(), options);
  updater->SelectPortItem(0);
  if (in.boot) updater->m_BootRadioButtonClick();
  updater->m_StartButtonClick();
  host.Close();
  r.rehearsed = true;

  UpdateRunFacts facts;
  facts.started = updater->m_PasswordAccepted;
  facts.downloadStarted = host.downloadStarted;
  facts.startFailureCode = host.start.Code();
  facts.status = host.status;
  facts.codeplug = host.codeplug;
  r.exitCode = UpdateExitCode(facts);
  r.outcome = host.status;
  if (!facts.started)
    r.outcome = "the password was refused";
  else if (!host.downloadStarted && !host.start.Text().empty())
    r.outcome = host.start.Text();
  r.steps = host.steps;
  r.boxes = host.boxes;
  r.codeplug = host.codeplug;
  for (const auto& s : r.steps) {
    r.predictedSeconds += s.seconds;
    r.fixedWaitSeconds += s.fixedWaitSeconds;
    r.lineSeconds += s.lineSeconds;
  }
  if (r.codeplug && r.codeplug->downloadedBytes > 0) {
    r.conversionPath = ConversionPath(r.codeplug->imageFormatIndex, r.codeplug->targetFormatIndex);
    const std::vector<std::uint8_t>& result = radio->Radio().LastDownloadedImage();
    auto converted = std::make_unique<codeplug::CodeplugImage>();
    std::string error;
    r.resultChecked = true;
    if (codeplug::ImageFromRadioBytes(result, *converted, error)) {
      const codeplug::ImageCheck check = codeplug::CheckParmsImage(*converted);
      r.resultValid = check.valid;
      r.resultReason = check.reason;
    } else {
      r.resultReason = error;
    }
  }
  {
    auto before = std::make_unique<codeplug::CodeplugImage>();
    auto after = std::make_unique<codeplug::CodeplugImage>();
    std::string error;
    if (codeplug::ImageFromRadioBytes(image, *before, error) &&
        codeplug::ImageFromRadioBytes(radio->Radio().Codeplug(), *after, error))
      r.diff = codeplug::CompareCodeplugImages(*before, image.size(), *after);
  }
  FillChecks(r, in, attributes, updater->m_PasswordAccepted);
  updater.reset();
  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);
  r.rehearsalSeconds = static_cast<double>(platform::RealMicros() - realStart) / 1e6;
  return r;
}

RehearsalResult Rehearse(const RehearsalInput& in, platform::Host& host) {
  const std::uint64_t start = platform::RealMicros();
  const RadioSnapshot snap = ReadRadioSnapshot(in, host);
  RehearsalInput resolved = in;
  if (snap.passwordGiven) resolved.codeplugPassword = snap.passwordGiven;
  RehearsalResult r = RehearseOn(resolved, snap);
  r.rehearsalSeconds = static_cast<double>(platform::RealMicros() - start) / 1e6;
  return r;
}

}  // namespace bcu::cli
