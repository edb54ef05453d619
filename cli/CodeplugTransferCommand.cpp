// `bcu codeplug read` and `bcu codeplug write`: the codeplug transfer alone,
// with a radio running its application code. The radio key comes from the
// radio's serial number; without it nothing is written to the radio, since
// blocks scrambled with a wrong key would corrupt its codeplug.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CodeplugBackup.h"
#include "cli/Commands.h"
#include "cli/TerminalHost.h"
#include "cli/TraceFile.h"
#include "link/CommLink.h"
#include "platform/PortTable.h"
#include "platform/PrivateFile.h"
#include "transfer/VYXTransferParms.h"

namespace bcu::cli {

namespace {

enum TransferExit : int {
  kExitPort = 3,      // the port could not be opened
  kExitNoKey = 4,     // the serial number could not be read (write refused)
  kExitTransfer = 5,  // the transfer failed
  kExitFile = 6,      // the file could not be read or written
};

constexpr const char* kTransferExitHelp =
    "Exit codes: 0 done; 1 other failure; 2 bad command line; 3 port could not be opened; 4 "
    "the radio's serial number could not be read (nothing written); 5 the transfer failed; 6 "
    "the file could not be read or written.";

struct TransferArgs {
  std::string port;
  std::string file;
  std::optional<std::string> codeplugPassword;
  std::string tracePath;
  bool traceSecrets = false;
  double delayScale = 1.0;
};

// The radio link on one device, with the host's pump, clock and timer.
class DirectLink {
 public:
  DirectLink(TerminalHost& host, const std::string& device) {
    link::CommInitLink(link_);
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

 private:
  link::CommLink link_;
  platform::PortTable ports_;
  std::unique_ptr<platform::Timer> timer_;
};

// The serial number as 16 upper-case hexadecimal digits (04 04 -> 04 05).
bool ReadSerialKey(link::CommLink& link, std::string& key) {
  link::CommPacket request;
  request.length = 2;
  request.data[0] = 0x04;
  request.data[1] = 0x04;
  link::CommSendPacket(link, request);
  link::CommSetRunning(link, true);
  link::CommPacket reply;
  if (link::CommReceive(link, reply, 255, -1) <= 0) return false;
  if (reply.length >= 2 && reply.data[0] == 0x07 && reply.data[1] == 0x25) {
    reply = link::CommPacket{};
    if (link::CommReceive(link, reply, 255, -1) <= 0) return false;
  }
  if (reply.length < 10 || reply.data[0] != 0x04 || reply.data[1] != 0x05) return false;
  static constexpr char kHex[] = "0123456789ABCDEF";
  key.clear();
  for (int i = 2; i < 10; ++i) {
    key += kHex[reply.data[i] >> 4];
    key += kHex[reply.data[i] & 0x0F];
  }
  return true;
}

int RunTransfer(const TransferArgs& args, bool write) {
  std::vector<std::uint8_t> buffer(transfer::kCodeplugBufferSize, 0);
  std::size_t count = 0;
  if (write && !app::ReadCodeplugBytes(args.file, buffer.data(), buffer.size(), count)) {
    std::fprintf(stderr, "bcu codeplug write: %s: cannot read it, or it is over 65536 bytes\n",
                 args.file.c_str());
    return kExitFile;
  }
  TerminalOptions options;
  options.delayScale = args.delayScale;
  options.password = args.codeplugPassword;
  TerminalHost host(options);
  TraceFile trace;
  trace.ShowSecrets(args.traceSecrets);
  DirectLink direct(host, args.port);
  if (!args.tracePath.empty()) {
    std::string error;
    if (!trace.Open(args.tracePath, error)) {
      std::fprintf(stderr, "bcu codeplug: cannot write the trace: %s\n", error.c_str());
      return kExitFailure;
    }
    direct.Link().trace = &trace;
  }
  std::string error;
  if (!direct.Open(error)) {
    std::fprintf(stderr, "bcu codeplug: %s: %s\n", args.port.c_str(), error.c_str());
    return kExitPort;
  }
  std::string key;
  const bool haveKey = ReadSerialKey(direct.Link(), key);
  if (write && !haveKey) {
    std::fprintf(stderr,
                 "bcu codeplug write: the radio's serial number could not be read; nothing was "
                 "written\n");
    return kExitNoKey;
  }
  transfer::VYXTransferParms transfer;
  transfer.SetRadioKey(key);
  transfer.SetLink(&direct.Link());
  transfer.PassChecker().SetHost(&host);
  if (write) {
    host.ShowStatusText("Downloading codeplug...");
    transfer.SetBuffer(buffer.data(), static_cast<std::int32_t>(count));
    const std::int32_t result = transfer.Download();
    if (result <= 0) {
      host.ShowStatusText("An error occurred while downloading the codeplug.");
      return kExitTransfer;
    }
    host.ShowStatusText("Done.");
    std::printf("%zu bytes written to the radio (serial number %s)\n", count, key.c_str());
    return kExitOk;
  }
  host.ShowStatusText("Uploading codeplug...");
  transfer.SetBuffer(buffer.data(), 0);
  const std::int32_t result = transfer.Upload();
  if (result <= 0) {
    host.ShowStatusText("An error occurred while uploading the codeplug.");
    return kExitTransfer;
  }
  const std::size_t length = static_cast<std::size_t>(transfer.GetLength());
  std::string openError;
  std::FILE* out = platform::OpenPrivateFile(args.file, openError);
  if (out == nullptr) {
    std::fprintf(stderr, "bcu codeplug read: %s\n", openError.c_str());
    return kExitFile;
  }
  const bool written = out != nullptr && std::fwrite(buffer.data(), 1, length, out) == length;
  if (out != nullptr && std::fclose(out) != 0) {
    std::remove(args.file.c_str());
    std::fprintf(stderr, "bcu codeplug read: %s: cannot write it\n", args.file.c_str());
    return kExitFile;
  }
  if (!written) {
    std::remove(args.file.c_str());
    std::fprintf(stderr, "bcu codeplug read: %s: cannot write it\n", args.file.c_str());
    return kExitFile;
  }
  host.ShowStatusText("Done.");
  std::printf("%zu bytes read from the radio%s%s\n", length, haveKey ? " (serial number " : "",
              haveKey ? (key + ")").c_str() : "");
  return kExitOk;
}

void AddTransferCommand(CLI::App& group, const char* name, const char* help, bool write) {
  auto args = std::make_shared<TransferArgs>();
  CLI::App* cmd = group.add_subcommand(name, help);
  cmd->footer(kTransferExitHelp);
  cmd->add_option("--port", args->port, "Serial device of the radio")->required();
  cmd->add_option("FILE", args->file, "Codeplug file, words high byte first as on the wire")
      ->required();
  cmd->add_option("--codeplug-password", args->codeplugPassword,
                  "Digits to give when the radio asks for its codeplug password");
  cmd->add_option("--trace", args->tracePath,
                  "Write every frame sent and received to FILE (mode 0600; the codeplug "
                  "password's digits masked)");
  cmd->add_flag("--trace-secrets", args->traceSecrets,
                "Write the codeplug password's digits into the trace as sent");
  cmd->callback([args, write] {
    const int code = RunTransfer(*args, write);
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
  AddTransferCommand(*group, "read", "Read the codeplug of a radio running its code into FILE",
                     false);
  AddTransferCommand(*group, "write",
                     "Write FILE into the codeplug of a radio running its code (the password "
                     "exchange and the radio key as in an update)",
                     true);
}

}  // namespace bcu::cli
