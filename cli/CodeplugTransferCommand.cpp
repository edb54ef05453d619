// `bcu codeplug read` and `bcu codeplug write`: the codeplug transfer alone,
// with a radio running its application code. The radio key comes from the
// radio's serial number; without it nothing is written to the radio, since
// blocks scrambled with a wrong key would corrupt its codeplug.
//
// `read` takes the whole image (the blocks and the words after them) and
// saves it even when it fails the validity check, since it is what the radio
// holds, but says so. `write` refuses a file that is not a whole valid
// codeplug, or whose format is not the one the radio reports; it keeps a
// backup of what the radio held before, and reads the codeplug back after
// writing it to compare.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/CodeplugBackup.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/StopSignals.h"
#include "cli/TerminalHost.h"
#include "cli/TraceFile.h"
#include "codeplug/CodeplugFile.h"
#include "codeplug/FormatVersion.h"
#include "codeplug/Validity.h"
#include "link/CommLink.h"
#include "platform/AtomicWrite.h"
#include "platform/Clock.h"
#include "platform/HelpWords.h"
#include "platform/PortTable.h"
#include "transfer/CodeplugReadBack.h"
#include "transfer/VYXTransferParms.h"

namespace bcu::cli {

namespace {

// The exit codes of `codeplug read` and `codeplug write`.
constexpr const char* kReadExitCodes =
    "Exit codes as in `bcu --help`: 0 done (a valid codeplug saved); 4 port not opened; 7 the "
    "transfer failed (nothing saved); 14 FILE could not "
    "be written; 13 the codeplug read fails the validity check (it is saved in FILE all the "
    "same: it is what the radio holds); 10 stopped (";
constexpr const char* kWriteExitCodes =
    "Exit codes as in `bcu --help`: 0 written and read back the same (or written, with "
    "--no-verify); 4 port not opened; 3 the radio's serial number could not be read, or FILE's "
    "format differs from the one the radio reports, or the radio reports none (nothing "
    "written; --force writes anyway); 7 the radio's codeplug could not be read for the backup "
    "(nothing written); 8 the download failed, or the codeplug read back differs; 11 written, "
    "but not verified (reading it back failed); 13 FILE is not a whole valid codeplug (nothing "
    "written); 14 FILE could not be read, or the backup not written; 10 stopped (";

std::string ReadExitHelp() {
  return kReadExitCodes + std::string(platform::StopWords()) +
         ") before it was done (nothing saved).";
}

std::string WriteExitHelp() {
  return kWriteExitCodes + std::string(platform::StopWords()) +
         ") before it was done.\nBefore writing, the radio's codeplug is read and kept in the "
         "backup folder (" +
         platform::DataFolderWords("backups/<serial>/") + ", `bcu codeplug backups`).";
}

constexpr const char* kTextNotVerified =
    "The codeplug was written, but it could not be read back to verify it.";

struct TransferArgs {
  std::string port;
  std::string file;
  std::optional<std::string> codeplugPassword;
  std::string tracePath;
  bool traceSecrets = false;
  double delayScale = 1.0;
  bool force = false;
  bool noVerify = false;
  bool json = false;
  Verbosity verbosity = Verbosity::kNormal;
  const char* command = "bcu codeplug";  // as messages name it
  // What --json prints on success; a failure's text.
  nlohmann::ordered_json result;
  std::string failure;
};

// The radio link on one device, with the host's pump, clock and timer.
class DirectLink {
 public:
  DirectLink(TerminalHost& host, const std::string& device) {
    link::CommInitLink(link_);
    link_.stop = &stop_;
    ports_.SetDevicePath(1, device);
    link_.pump = &host;
    link_.clock = &host.GetClock();
    link_.ports = &ports_;
    timer_ = host.CreateTimer([this] {
      link::CommSetRunning(link_, false);
      timer_->SetEnabled(false);
    });
    link_.timeoutTimer = timer_.get();
  }
  ~DirectLink() {
    link::CommCloseLink(link_);
    link_.timeoutTimer = nullptr;
  }
  DirectLink(const DirectLink&) = delete;
  DirectLink& operator=(const DirectLink&) = delete;

  bool Open(std::string& error) {
    if (!link::CommOpenSerialDevice(link_, 1, 19200, 0, error)) return false;
    link::CommSetFramed(link_, true);
    link::CommSetRunning(link_, true);
    link::CommSetTimeout(link_, 4000);
    return true;
  }
  link::CommLink& Link() { return link_; }
  // The first stop: the transfer in progress runs to its end, no other
  // starts.
  void Stop() { stop_.RequestAfterStep(); }
  // The second: ends the exchange in progress; no other can start.
  void StopNow() {
    stop_.Request();
    link::CommSetRunning(link_, false);
  }
  bool Stopped() const { return stop_.Requested(); }

 private:
  link::StopRequest stop_;
  link::CommLink link_;
  platform::PortTable ports_;
  std::unique_ptr<platform::Timer> timer_;
};

// The progress bar moving one step per interval while a transfer lasts (the
// transfers report no progress of their own): 1.5 s per 1,000 bytes.
class ProgressAnimation {
 public:
  ProgressAnimation(platform::Host& host, std::int32_t bytes) : host_(host) {
    platform::ProgressBar& bar = host_.Progress();
    bar.SetMin(0);
    bar.SetMax(100);
    bar.SetPosition(0);
    timer_ = host_.CreateTimer([this] {
      platform::ProgressBar& b = host_.Progress();
      if (b.Position() < b.Max()) b.SetPosition(b.Position() + 1);
    });
    const auto interval = static_cast<std::uint32_t>(bytes * 0.015);
    timer_->SetInterval(interval > 0 ? interval : 1);
    timer_->SetEnabled(true);
  }
  ~ProgressAnimation() { timer_->SetEnabled(false); }
  void Finish(bool success) {
    timer_->SetEnabled(false);
    host_.Progress().SetPosition(success ? 100 : 0);
  }

 private:
  platform::Host& host_;
  std::unique_ptr<platform::Timer> timer_;
};

// One two-byte request of group 4 and its reply.
bool Ask(link::CommLink& link, std::uint8_t code, link::CommPacket& reply) {
  link::CommPacket request;
  request.length = 2;
  request.data[0] = 0x04;
  request.data[1] = code;
  link::CommSendPacket(link, request);
  link::CommSetRunning(link, true);
  reply = link::CommPacket{};
  if (link::CommReceive(link, reply, 255, -1) <= 0) return false;
  // A radio that has just started announces itself first.
  if (reply.length >= 2 && reply.data[0] == 0x07 && reply.data[1] == 0x25) {
    reply = link::CommPacket{};
    if (link::CommReceive(link, reply, 255, -1) <= 0) return false;
  }
  return true;
}

// The serial number as 16 upper-case hexadecimal digits (04 04 -> 04 05).
bool ReadSerialKey(link::CommLink& link, std::string& key) {
  link::CommPacket reply;
  if (!Ask(link, 0x04, reply)) return false;
  if (reply.length < 10 || reply.data[0] != 0x04 || reply.data[1] != 0x05) return false;
  static constexpr char kHex[] = "0123456789ABCDEF";
  key.clear();
  for (int i = 2; i < 10; ++i) {
    key += kHex[reply.data[i] >> 4];
    key += kHex[reply.data[i] & 0x0F];
  }
  return true;
}

// The codeplug format the radio's code expects (04 1C -> 04 1D major minor).
bool ReadRadioFormat(link::CommLink& link, codeplug::FormatVersion& version) {
  link::CommPacket reply;
  if (!Ask(link, 0x1C, reply)) return false;
  if (reply.length < 4 || reply.data[0] != 0x04 || reply.data[1] != 0x1D) return false;
  version = {reply.data[2], reply.data[3]};
  return true;
}

std::string VersionText(codeplug::FormatVersion v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor);
}

// The format a codeplug file's bytes (words high byte first) declare.
std::string FormatOfBytes(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < 8 || bytes[0] != 0x5F || bytes[1] != 0x5F) return "unknown";
  return VersionText({bytes[6], bytes[7]});
}

// Uploads the radio's codeplug into `bytes` (whole image, at most 65,536).
std::int32_t Upload(link::CommLink& link, TerminalHost& host, std::vector<std::uint8_t>& bytes) {
  bytes.assign(transfer::kCodeplugBufferSize, 0);
  transfer::VYXTransferParms transfer;
  transfer.SetLink(&link);
  transfer.PassChecker().SetHost(&host);
  transfer.SetBuffer(bytes.data(), 0);
  ProgressAnimation progress(host, transfer::kCodeplugBufferSize / 4);
  const std::int32_t result = transfer.Upload();
  progress.Finish(result > 0);
  bytes.resize(static_cast<std::size_t>(transfer.GetLength()));
  return result;
}

struct Session {
  TerminalHost& host;
  DirectLink& direct;
  TransferArgs& args;
  // write: FILE's bytes and format, checked before the radio is touched.
  std::vector<std::uint8_t> bytes;
  codeplug::FormatVersion fileFormat;

  // A failure: its text is kept for --json; the plain output prints it on
  // stderr unless a status line said it already (and -q did not hide that).
  int Failed(int code, const std::string& text, bool shownAsStatus = false) {
    args.failure = text;
    if (!args.json && (!shownAsStatus || args.verbosity == Verbosity::kQuiet)) {
      std::fprintf(stderr, "%s: %s\n", args.command, text.c_str());
      std::fflush(stderr);
    }
    return code;
  }
  // A line of the plain result (not under -q or --json).
  bool Plain() const { return !args.json && args.verbosity != Verbosity::kQuiet; }
};

int RunRead(Session& s) {
  std::string key;
  const bool haveKey = ReadSerialKey(s.direct.Link(), key);
  Detail(s.args.verbosity, haveKey ? "serial number " + key : "the serial number did not come");
  if (s.direct.Stopped()) return kExitStopped;
  s.host.ShowStatusText("Uploading codeplug...");
  std::vector<std::uint8_t> bytes;
  if (Upload(s.direct.Link(), s.host, bytes) <= 0) {
    const std::string text = "An error occurred while uploading the codeplug.";
    s.host.ShowStatusText(text);
    return s.Failed(kExitCodeplugUpload, text, true);
  }
  platform::AtomicWriteOptions options;
  options.mode = platform::kPrivateFileMode;
  std::string error;
  if (!platform::WriteFileAtomically(s.args.file, bytes, options, error))
    return s.Failed(kExitFileError, error);
  auto image = std::make_unique<codeplug::CodeplugImage>();
  codeplug::ImageFromRadioBytes(bytes, *image, error);
  const codeplug::ImageCheck check = codeplug::CheckParmsImage(*image);
  const std::string serial = haveKey ? " (serial number " + key + ")" : "";
  if (!check.valid) {
    s.host.ShowStatusText("The codeplug read from the radio is invalid: " + check.reason + ".");
    return s.Failed(kExitFileInvalid, std::to_string(bytes.size()) + " bytes read from the radio" +
                                          serial + " and saved in " + s.args.file +
                                          "; they fail the validity check: " + check.reason);
  }
  s.host.ShowStatusText("Done.");
  const std::string format = VersionText(codeplug::ImageFormatVersion(*image));
  s.args.result = {{"port", s.args.port},
                   {"file", s.args.file},
                   {"serialNumber", key},
                   {"codeplugFormat", format},
                   {"fileBytes", bytes.size()}};
  if (s.Plain())
    std::printf("%zu bytes read from the radio%s, format %s, saved in %s\n", bytes.size(),
                serial.c_str(), format.c_str(), s.args.file.c_str());
  return kExitOk;
}

// Checks FILE before anything is sent: a whole valid codeplug.
int CheckFileToWrite(Session& s, std::vector<std::uint8_t>& bytes,
                     codeplug::FormatVersion& format) {
  const TransferArgs& args = s.args;
  auto image = std::make_unique<codeplug::CodeplugImage>();
  std::size_t count = 0;
  std::string error;
  bool notACodeplug = false;
  if (!codeplug::ReadCodeplugFile(args.file, *image, count, error, &notACodeplug))
    return s.Failed(notACodeplug ? kExitFileInvalid : kExitFileError, error + "; nothing written");
  const codeplug::ImageCheck check = codeplug::CheckParmsImage(*image);
  if (!check.valid)
    return s.Failed(kExitFileInvalid,
                    args.file + " is not a valid codeplug: " + check.reason + "; nothing written");
  std::string missing;
  if (!codeplug::ImageIsWhole(*image, count, missing)) {
    if (!args.force)
      return s.Failed(kExitFileInvalid,
                      args.file + " is incomplete: " + missing +
                          "; nothing written (--force writes it, the missing words as spaces)");
    std::fprintf(stderr, "bcu codeplug write: %s is incomplete (%s); written anyway (--force)\n",
                 args.file.c_str(), missing.c_str());
  }
  bytes = codeplug::RadioBytesOfImage(*image, count);
  format = codeplug::ImageFormatVersion(*image);
  return kExitOk;
}

int RunWrite(Session& s) {
  const std::vector<std::uint8_t>& bytes = s.bytes;
  const codeplug::FormatVersion fileFormat = s.fileFormat;
  link::CommLink& link = s.direct.Link();
  std::string key;
  if (!ReadSerialKey(link, key))
    return s.Failed(kExitRefused,
                    "the radio's serial number could not be read; nothing was written");
  Detail(s.args.verbosity, "serial number " + key);
  codeplug::FormatVersion radioFormat;
  const bool formatKnown = ReadRadioFormat(link, radioFormat);
  if (!formatKnown || !(radioFormat == fileFormat)) {
    const std::string what = formatKnown
                                 ? "the radio reports codeplug format " + VersionText(radioFormat) +
                                       ", " + s.args.file + " is format " + VersionText(fileFormat)
                                 : "the radio did not report its codeplug format";
    if (!s.args.force)
      return s.Failed(kExitRefused, what +
                                        "; nothing written (convert the file first with `bcu "
                                        "codeplug convert`, or --force writes it as it is)");
    std::fprintf(stderr, "bcu codeplug write: %s; written anyway (--force)\n", what.c_str());
  }

  // What the radio holds now is kept before it is overwritten.
  if (s.direct.Stopped()) return kExitStopped;
  s.host.ShowStatusText("Uploading codeplug...");
  std::vector<std::uint8_t> previous;
  if (Upload(link, s.host, previous) <= 0) {
    s.host.ShowStatusText("An error occurred while uploading the codeplug.");
    return s.Failed(kExitCodeplugUpload,
                    "the radio's codeplug could not be read to keep a backup; nothing was "
                    "written");
  }
  std::string backupError;
  const std::string backup =
      app::WriteCodeplugBackup(app::DefaultBackupRoot(), key, FormatOfBytes(previous), previous,
                               std::time(nullptr), backupError);
  if (backup.empty())
    return s.Failed(kExitFileError, "the radio's codeplug could not be kept: " + backupError +
                                        "; nothing was written");
  s.host.ShowStatusText("The codeplug read from the radio is saved in " + backup + ".");
  if (s.direct.Stopped())
    return s.Failed(kExitStopped,
                    "stopped before the codeplug was written; the radio's codeplug "
                    "is unchanged, and kept in " +
                        backup);

  transfer::VYXTransferParms transfer;
  transfer.SetRadioKey(key);
  transfer.SetLink(&link);
  transfer.PassChecker().SetHost(&s.host);
  std::vector<std::uint8_t> buffer(transfer::kCodeplugBufferSize, 0);
  std::copy(bytes.begin(), bytes.end(), buffer.begin());
  const auto count = static_cast<std::int32_t>(bytes.size());
  s.host.ShowStatusText("Downloading codeplug...");
  transfer.SetBuffer(buffer.data(), count);
  std::int32_t result = 0;
  {
    ProgressAnimation progress(s.host, count);
    result = transfer.Download();
    progress.Finish(result > 0);
  }
  if (result <= 0) {
    s.host.ShowStatusText("An error occurred while downloading the codeplug.");
    return s.Failed(kExitCodeplugDownload,
                    "An error occurred while downloading the codeplug. The radio's codeplug "
                    "before the write is kept in " +
                        backup);
  }
  s.args.result = {{"port", s.args.port},
                   {"file", s.args.file},
                   {"serialNumber", key},
                   {"codeplugFormat", VersionText(fileFormat)},
                   {"fileBytes", count},
                   {"backupFile", backup},
                   {"readBack", "skipped (--no-verify)"}};
  if (s.args.noVerify) {
    s.host.ShowStatusText("Done.");
    if (s.Plain())
      std::printf("%d bytes written to the radio (serial number %s); not read back (--no-verify)\n",
                  count, key.c_str());
    return kExitOk;
  }

  s.host.ShowStatusText("Verifying codeplug...");
  const std::uint64_t startUs = platform::RealMicros();
  transfer::ReadBackResult readBack;
  {
    ProgressAnimation progress(s.host, count);
    readBack = transfer::ReadBackCodeplug(link, &s.host, nullptr, bytes);
    progress.Finish(readBack.verdict == transfer::ReadBackVerdict::kSame);
  }
  const double seconds = static_cast<double>(platform::RealMicros() - startUs) / 1e6;
  switch (readBack.verdict) {
    case transfer::ReadBackVerdict::kSame:
      s.host.ShowStatusText("Done.");
      s.args.result["readBack"] = "verified";
      s.args.result["comparedWords"] = readBack.comparedWords;
      s.args.result["readBackSeconds"] = seconds;
      if (s.Plain())
        std::printf(
            "%d bytes written to the radio (serial number %s) and read back the same (%d words "
            "compared, read-back %.1f s)\n",
            count, key.c_str(), readBack.comparedWords, seconds);
      return kExitOk;
    case transfer::ReadBackVerdict::kDiffers: {
      s.host.ShowStatusText("An error occurred while downloading the codeplug.");
      char text[256];
      std::snprintf(text, sizeof text,
                    "%d bytes written to the radio (serial number %s), but reading them back "
                    "found word %d different (read-back %.1f s). ",
                    count, key.c_str(), readBack.firstDifferentWord, seconds);
      return s.Failed(kExitCodeplugDownload,
                      text + ("The radio's codeplug before the write is kept in " + backup));
    }
    case transfer::ReadBackVerdict::kNotRead:
      break;
  }
  s.host.ShowStatusText(kTextNotVerified);
  return s.Failed(kExitNotVerified,
                  std::to_string(count) + " bytes written to the radio (serial number " + key +
                      "), not verified: reading them back failed. The radio's codeplug before "
                      "the write is kept in " +
                      backup);
}

int RunTransfer(TransferArgs& args, bool write) {
  TerminalOptions options;
  options.delayScale = args.delayScale;
  options.password = args.codeplugPassword;
  options.quiet = args.json || args.verbosity == Verbosity::kQuiet;
  options.timestamps = args.verbosity == Verbosity::kVerbose;
  TerminalHost host(options);
  TraceFile trace;
  trace.ShowSecrets(args.traceSecrets);
  DirectLink direct(host, args.port);
  args.command = write ? "bcu codeplug write" : "bcu codeplug read";
  Session session{host, direct, args, {}, {}};
  if (!args.tracePath.empty()) {
    std::string error;
    if (!trace.Open(args.tracePath, error))
      return session.Failed(kExitFileError, "cannot write the trace: " + error);
    direct.Link().trace = &trace;
  }
  // The first stop signal lets the transfer in progress run to its end (a
  // codeplug write cut short leaves the radio's codeplug incomplete) and
  // starts none after it; the second ends it at once.
  const char* command = args.command;
  TerminalHost::InstallInterruptHandler();
  host.onInterrupt = [&] {
    std::fprintf(stderr,
                 "\n%s: %s: the transfer in progress runs to its end, then the command stops. "
                 "Press Ctrl-C again to stop at once.\n",
                 command, FirstStopSignalName());
    std::fflush(stderr);
    direct.Stop();
  };
  host.onForceQuit = [&] {
    std::fprintf(stderr, "\n%s: stopping at once; the transfer is cut short.\n", command);
    std::fflush(stderr);
    direct.StopNow();
    host.RequestQuit();
  };
  const auto stoppedExit = [&] {
    if (write)
      return session.Failed(kExitStopped,
                            "stopped; if the download had begun, the radio's codeplug may be "
                            "incomplete: write " +
                                args.file + " again");
    return session.Failed(kExitStopped, "stopped; " + args.file + " was not written");
  };
  // A file that would be refused is refused before the radio is touched.
  if (write) {
    const int refused = CheckFileToWrite(session, session.bytes, session.fileFormat);
    if (refused != kExitOk) return refused;
  }
  std::string error;
  Detail(args.verbosity, "port: " + args.port);
  if (!direct.Open(error)) {
    const std::string& why = direct.Link().openError;
    return session.Failed(kExitPort,
                          why.empty() ? args.port + ": " + error : error + " (" + why + ")");
  }
  int code = write ? RunWrite(session) : RunRead(session);
  // A stop signal ended the transfer: what it left is said above.
  if (code != kExitOk && direct.Stopped()) code = stoppedExit();
  return code;
}

void AddTransferCommand(CLI::App& group, const char* name, const char* help, bool write) {
  auto args = std::make_shared<TransferArgs>();
  CLI::App* cmd = group.add_subcommand(name, help);
  cmd->footer(write ? WriteExitHelp() : ReadExitHelp());
  cmd->add_option("--port", args->port, "Serial device of the radio")->type_name("DEV")->required();
  cmd->add_option("FILE", args->file, "Codeplug file, words high byte first as on the wire")
      ->type_name("FILE")
      ->required();
  cmd->add_option("--codeplug-password", args->codeplugPassword,
                  "Digits to give when the radio asks for its codeplug password")
      ->type_name("DIGITS");
  cmd->add_option("--trace", args->tracePath,
                  "Write every frame sent and received to FILE (mode 0600; the codeplug "
                  "password's digits masked)")
      ->type_name("FILE");
  cmd->add_flag("--trace-secrets", args->traceSecrets,
                "Write the codeplug password's digits into the trace as sent");
  if (write) {
    cmd->add_flag("--force", args->force,
                  "Write even when FILE's format differs from the radio's, or FILE lacks the "
                  "end of its image");
    cmd->add_flag("--no-verify", args->noVerify,
                  "Do not read the codeplug back after writing it to compare");
  }
  AddJsonFlag(*cmd, args->json, write ? "Print what was written" : "Print what was read");
  cmd->callback([args, write, cmd] {
    args->verbosity = VerbosityOf(*cmd);
    const int code = RunTransfer(*args, write);
    if (args->json) {
      if (code == kExitOk)
        std::printf("%s\n", args->result.dump(2).c_str());
      else
        PrintJsonError(code, args->failure);
    }
    if (code != kExitOk) throw CLI::RuntimeError(code);
  });
}

}  // namespace

void RegisterCodeplugTransferCommands(CLI::App& app) {
  CLI::App* group = nullptr;
  try {
    group = app.get_subcommand("codeplug");
  } catch (const CLI::OptionNotFound&) {
    group = app.add_subcommand("codeplug", "Codeplug files and transfers");
    group->require_subcommand(1);
  }
  AddTransferCommand(*group, "read",
                     "Read the whole codeplug of a radio running its code into FILE and check it",
                     false);
  AddTransferCommand(*group, "write",
                     "Write FILE into the codeplug of a radio running its code, after a backup "
                     "of what it holds, and read it back to compare",
                     true);
}

}  // namespace bcu::cli
