#include "cli/FleetDisplay.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/Clock.h"
#include "platform/Console.h"

namespace bcu::cli {

namespace {

constexpr auto kRedrawPeriod = std::chrono::milliseconds(200);  // at most 5 redraws a second
constexpr int kLinePercentStep = 10;  // a progress line per 10% of the run (line mode)
constexpr int kJsonPercentStep = 5;
constexpr std::uint64_t kRateSampleUs = 1000000;

struct PhaseText {
  const char* prefix;
  RunPhase phase;
};

// The steps of a run in the order a full application update shows them.
constexpr PhaseText kPhases[] = {
    {"Extracting embedded files", {0, 1}},
    {"Checking target radio", {1, 2}},
    {"No Boot Info", {1, 2}},
    {"Preparing to download", {2, 3}},
    {"Downloading Loader code", {3, 6}},
    {"Erasing flash", {6, 12}},
    {"Downloading Boot code", {12, 40}},
    {"Downloading Application code", {12, 75}},
    {"Download finished", {75, 75}},
    {"Resetting radio and converting codeplug", {88, 93}},
    {"Resetting radio", {75, 82}},
    {"Uploading codeplug", {82, 88}},
    {"Downloading codeplug", {93, 97}},
    {"Verifying codeplug", {97, 100}},
    {"Done.", {100, 100}},
};

int TerminalWidth(std::FILE* out) {
  const int columns = platform::TerminalColumns(out);
  return columns >= 40 ? columns : 100;
}

std::string ByteText(std::uint64_t n) {
  char text[32];
  if (n < 10000)
    std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(n));
  else if (n < 10000000)
    std::snprintf(text, sizeof text, "%llu KiB", static_cast<unsigned long long>(n / 1024));
  else
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(n) / 1048576.0);
  return text;
}

std::string Duration(double seconds) {
  if (seconds < 0) return "--:--";
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

}  // namespace

std::string ShortPortName(const std::string& path, std::size_t width) {
  if (path.size() <= width) return path;
  static const std::string kEllipsis = "\u2026";  // one column, three bytes
  static const std::string kLead = kEllipsis + "/";
  const std::size_t room = width > 2 ? width - 2 : 0;  // what "…/" leaves
  std::size_t from = path.size();
  // Whole parts, from the last one back, while they fit.
  for (std::size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0;
       slash = path.rfind('/', slash - 1)) {
    if (path.size() - slash - 1 > room) break;
    from = slash + 1;
  }
  if (from < path.size()) return kLead + path.substr(from);
  // The last part alone is too long: its end.
  const std::size_t keep = width > 1 ? width - 1 : 0;
  return kEllipsis + path.substr(path.size() - keep);
}

RunPhase PhaseOfStatus(const std::string& status, const RunPhase& current) {
  for (const auto& p : kPhases)
    if (status.rfind(p.prefix, 0) == 0) return p.phase;
  return current;
}

FleetDisplay::FleetDisplay(DisplayMode mode, std::FILE* out, std::FILE* err)
    : mode_(mode), out_(out), err_(err) {
  if (mode_ == DisplayMode::Terminal) thread_ = std::thread([this] { Loop(); });
}

FleetDisplay::~FleetDisplay() {
  Stop();
}

void FleetDisplay::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  if (mode_ == DisplayMode::Terminal) DrawLocked();
}

int FleetDisplay::AddRadio(const std::string& port) {
  std::lock_guard<std::mutex> lock(mutex_);
  Radio r;
  r.port = port;
  // The port column grows to the longest port, up to a third of the line.
  const auto bound = static_cast<std::size_t>(std::max(14, TerminalWidth(out_) / 3));
  portWidth_ = std::min(std::max(portWidth_, port.size()), bound);
  r.startUs = platform::RealMicros();
  r.rateUs = r.startUs;
  radios_.push_back(std::move(r));
  dirty_ = true;
  return static_cast<int>(radios_.size()) - 1;
}

void FleetDisplay::SetSerial(int radio, const std::string& serial) {
  std::lock_guard<std::mutex> lock(mutex_);
  radios_.at(static_cast<std::size_t>(radio)).serial = serial;
  dirty_ = true;
}

void FleetDisplay::UpdatePercent(Radio& r) {
  double fraction = 0;
  if (r.max > r.min)
    fraction = std::clamp(static_cast<double>(r.position - r.min) / (r.max - r.min), 0.0, 1.0);
  const int percent = r.phase.from + static_cast<int>((r.phase.to - r.phase.from) * fraction);
  // A new step's bar starts at 0; the run as a whole never goes back.
  r.percent = std::max(r.percent, std::min(percent, 100));
}

void FleetDisplay::EmitJson(const Radio& r, nlohmann::json j) {
  j["port"] = r.port;
  j["serialNumber"] = r.serial;
  std::fprintf(out_, "%s\n", j.dump().c_str());
  std::fflush(out_);
}

void FleetDisplay::Status(int radio, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Radio& r = radios_.at(static_cast<std::size_t>(radio));
  r.status = text;
  r.phase = PhaseOfStatus(text, r.phase);
  r.min = 0;
  r.max = 0;
  UpdatePercent(r);
  dirty_ = true;
  if (mode_ == DisplayMode::Lines) {
    std::fprintf(out_, "%s: %s\n", r.port.c_str(), text.c_str());
    std::fflush(out_);
  } else if (mode_ == DisplayMode::Json) {
    EmitJson(r, {{"event", "status"}, {"statusText", text}, {"percent", r.percent}});
  }
}

void FleetDisplay::Progress(int radio, int min, int max, int position) {
  std::lock_guard<std::mutex> lock(mutex_);
  Radio& r = radios_.at(static_cast<std::size_t>(radio));
  r.min = min;
  r.max = max;
  r.position = position;
  UpdatePercent(r);
  dirty_ = true;
  const int step = mode_ == DisplayMode::Lines ? kLinePercentStep : kJsonPercentStep;
  if (mode_ == DisplayMode::Terminal || r.percent / step == r.shownPercent / step) return;
  if (r.shownPercent < 0 && r.percent < step) return;
  r.shownPercent = r.percent;
  if (mode_ == DisplayMode::Lines) {
    std::fprintf(out_, "%s: %d%% of the run\n", r.port.c_str(), r.percent);
    std::fflush(out_);
  } else {
    EmitJson(r, {{"event", "progress"}, {"percent", r.percent}, {"bytes", r.bytes}});
  }
}

void FleetDisplay::Bytes(int radio, std::uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  Radio& r = radios_.at(static_cast<std::size_t>(radio));
  r.bytes = bytes;
  const std::uint64_t now = platform::RealMicros();
  if (now - r.rateUs >= kRateSampleUs) {
    r.rate = static_cast<double>(bytes - r.rateBytes) * 1e6 / static_cast<double>(now - r.rateUs);
    r.rateUs = now;
    r.rateBytes = bytes;
  }
}

void FleetDisplay::Finished(int radio, int code, const std::string& text,
                            const nlohmann::json& details) {
  std::lock_guard<std::mutex> lock(mutex_);
  Radio& r = radios_.at(static_cast<std::size_t>(radio));
  r.finished = true;
  r.code = code;
  r.status = text;
  dirty_ = true;
  if (mode_ == DisplayMode::Lines) {
    std::fprintf(out_, "%s: finished, exit code %d: %s\n", r.port.c_str(), code, text.c_str());
    std::fflush(out_);
  } else if (mode_ == DisplayMode::Json) {
    nlohmann::json j = details;
    j["event"] = "result";
    j["exitCode"] = code;
    j["statusText"] = text;
    EmitJson(r, std::move(j));
  }
}

void FleetDisplay::Note(int radio, const std::string& text) {
  std::string port;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    port = radios_.at(static_cast<std::size_t>(radio)).port;
  }
  Note(port + ": " + text);
}

void FleetDisplay::Note(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (mode_ == DisplayMode::Terminal) EraseLocked();
  std::fprintf(err_, "%s\n", text.c_str());
  std::fflush(err_);
  if (mode_ == DisplayMode::Terminal && !prompting_) DrawLocked();
}

void FleetDisplay::BeginPrompt() {
  std::lock_guard<std::mutex> lock(mutex_);
  prompting_ = true;
  if (mode_ == DisplayMode::Terminal) EraseLocked();
}

void FleetDisplay::EndPrompt() {
  std::lock_guard<std::mutex> lock(mutex_);
  prompting_ = false;
  dirty_ = true;
}

std::string FleetDisplay::LineOf(const Radio& r, std::uint64_t nowUs) const {
  const double elapsed = static_cast<double>(nowUs - r.startUs) / 1e6;
  double left = -1;
  if (r.percent >= 1) left = elapsed * (100 - r.percent) / r.percent;
  const std::string port = ShortPortName(r.port, portWidth_);
  // Padded by columns, not bytes ("…" takes three bytes and one column).
  const std::size_t columns = port.size() - (port.rfind("\u2026", 0) == 0 ? 2 : 0);
  std::string line = port + std::string(portWidth_ > columns ? portWidth_ - columns : 0, ' ');
  char head[160];
  if (r.finished) {
    // A finished radio's line is its result: the figures give way to the
    // text, which says why a failure failed.
    std::snprintf(head, sizeof head, " %-16.16s %9s  ", r.serial.empty() ? "?" : r.serial.c_str(),
                  ByteText(r.bytes).c_str());
    line += head;
    if (r.code != 0) line += "Failed (" + std::to_string(r.code) + "): ";
    return line + r.status;
  }
  std::snprintf(head, sizeof head, " %-16.16s %3d%% %9s %7.0f B/s %6s  ",
                r.serial.empty() ? "?" : r.serial.c_str(), r.percent, ByteText(r.bytes).c_str(),
                r.rate, Duration(left).c_str());
  line += head;
  line += r.status;
  return line;
}

void FleetDisplay::EraseLocked() {
  if (drawnLines_ == 0) return;
  std::fprintf(out_, "\x1b[%dA\x1b[J", drawnLines_);
  drawnLines_ = 0;
  std::fflush(out_);
}

void FleetDisplay::DrawLocked() {
  const std::uint64_t now = platform::RealMicros();
  const auto width = static_cast<std::size_t>(TerminalWidth(out_) - 1);
  std::string frame;
  if (drawnLines_ > 0) frame += "\x1b[" + std::to_string(drawnLines_) + "A";
  for (const Radio& r : radios_) {
    std::string line = LineOf(r, now);
    if (line.size() > width) line.resize(width);
    frame += "\r\x1b[2K" + line + "\n";
  }
  std::fputs(frame.c_str(), out_);
  std::fflush(out_);
  drawnLines_ = static_cast<int>(radios_.size());
  dirty_ = false;
}

void FleetDisplay::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, kRedrawPeriod);
    if (stopping_) break;
    // The time left and the rate move on even when nothing was reported.
    if (!prompting_) DrawLocked();
  }
}

}  // namespace bcu::cli
