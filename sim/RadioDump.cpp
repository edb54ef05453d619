#include "sim/RadioDump.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>

#include "platform/AtomicWrite.h"

namespace bcu::sim {
namespace {

const char* KindName(ReceivedFile::Kind k) {
  switch (k) {
    case ReceivedFile::Kind::kLoader:
      return "loader";
    case ReceivedFile::Kind::kApplication:
      return "code";
    case ReceivedFile::Kind::kBoot:
      return "boot";
    case ReceivedFile::Kind::kDspPage:
      return "page";
  }
  return "file";
}

// Whole or not at all: a dump read while the radio ends is never half a file.
bool Write(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
           std::string* error) {
  std::string why;
  if (!platform::WriteFileAtomically(path.string(), bytes, platform::AtomicWriteOptions{}, why)) {
    if (error) *error = "cannot write " + why;
    return false;
  }
  return true;
}

}  // namespace

bool DumpRadio(const VirtualRadio& radio, const std::string& dir, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    if (error) *error = "cannot create " + dir + ": " + ec.message();
    return false;
  }
  const fs::path base(dir);
  bool ok = true;
  int index = 0;
  for (const ReceivedFile& f : radio.Files()) {
    char name[64];
    std::snprintf(name, sizeof name, "file%02d-%s%s.bin", ++index, KindName(f.kind),
                  f.complete ? "" : "-partial");
    ok = Write(base / name, f.data, error) && ok;
  }
  for (auto kind :
       {ReceivedFile::Kind::kLoader, ReceivedFile::Kind::kApplication, ReceivedFile::Kind::kBoot})
    if (const ReceivedFile* f = radio.LastFile(kind))
      ok = Write(base / (std::string(KindName(kind)) + ".bin"), f->data, error) && ok;
  for (const ReceivedFile* page : radio.DspPages())
    ok = Write(base / ("page" + std::to_string(page->page) + ".bin"), page->data, error) && ok;
  ok = Write(base / "codeplug.bin", radio.Codeplug(), error) && ok;
  if (!radio.LastDownloadedImage().empty())
    ok = Write(base / "codeplug-received.bin", radio.LastDownloadedImage(), error) && ok;

  const RadioCounters& c = radio.Counters();
  nlohmann::json state = {
      {"mode", radio.Mode() == RadioMode::kBootload ? "bootload" : "application"},
      {"baud", radio.BaudRate()},
      {"restarts", radio.Restarts()},
      {"bootVersion",
       std::to_string(radio.BootVersion()[0]) + "." + std::to_string(radio.BootVersion()[1])},
      {"formatVersion",
       std::to_string(radio.FormatVersion()[0]) + "." + std::to_string(radio.FormatVersion()[1])},
      {"counters",
       {{"framesReceived", c.framesReceived},
        {"badFrames", c.badFrames},
        {"framesSent", c.framesSent},
        {"infoRequests", c.infoRequests},
        {"baudChanges", c.baudChanges},
        {"probesAnswered", c.probesAnswered},
        {"blocksReceived", c.blocksReceived},
        {"pairSumsSent", c.pairSumsSent},
        {"sumsAgreed", c.sumsAgreed},
        {"sumsDiffered", c.sumsDiffered},
        {"resends", c.resends},
        {"verifyFailures", c.verifyFailures},
        {"busyReplies", c.busyReplies},
        {"processorChecks", c.processorChecks},
        {"dspPagesWritten", c.dspPagesWritten},
        {"codeplugBlocksSent", c.codeplugBlocksSent},
        {"codeplugBlocksReceived", c.codeplugBlocksReceived},
        {"codeplugSumReports", c.codeplugSumReports},
        {"codeplugSumsDiffered", c.codeplugSumsDiffered},
        {"passwordRequests", c.passwordRequests},
        {"passwordsRefused", c.passwordsRefused},
        {"uploads", c.uploads},
        {"downloads", c.downloads},
        {"framesIgnored", c.framesIgnored}}}};
  const std::string text = state.dump(2) + "\n";
  ok = Write(base / "state.json", std::vector<std::uint8_t>(text.begin(), text.end()), error) && ok;
  return ok;
}

}  // namespace bcu::sim
