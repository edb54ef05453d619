#include "cli/RehearsalReport.h"

#include <cstdio>

#include "cli/ExitCodes.h"
#include "cli/Output.h"
#include "cli/UpdateOutcome.h"
#include "codeplug/CodeplugDiffReport.h"

namespace bcu::cli {

namespace {

std::string Format(const char* fmt, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

std::string Hex(const std::uint8_t* p, int n) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (int i = 0; i < n; ++i) {
    s += kHex[p[i] >> 4];
    s += kHex[p[i] & 15];
  }
  return s;
}

std::string Version(const std::uint8_t* p, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += (i ? "." : "") + std::to_string(p[i]);
  return s;
}

bool IsTransfer(const RehearsalStep& s) {
  return s.bytesToRadio + s.bytesFromRadio > 0;
}

std::string Path(const std::vector<std::string>& path) {
  std::string s;
  for (const auto& p : path) s += (s.empty() ? "" : " -> ") + p;
  return s;
}

}  // namespace

std::string RehearsalText(const RehearsalResult& r, const std::string& port) {
  std::string t;
  const RadioSnapshot& s = r.radio;
  t += "Rehearsal of the update on " + port + ": the radio was read, nothing was written to it.\n";
  if (!s.answered) {
    t += "The radio did not answer the reads: " + s.failure + "\n";
  } else {
    const std::uint8_t* d = s.info.data;
    t += "Radio: serial " + Hex(d + 11, 8) + ", controller " + Version(d + 5, 3) + ", DSP " +
         Version(d + 2, 3) + ", hardware " + Version(d + 8, 3) + ", boot " + Version(d + 19, 2) +
         ", codeplug format expected " +
         (s.formatRead ? std::to_string(s.format.major) + "." + std::to_string(s.format.minor)
                       : std::string("not reported")) +
         "\n";
  }
  if (!r.failure.empty()) t += "The rehearsal could not run: " + r.failure + "\n";
  if (!r.checks.empty()) {
    t += "Checks:\n";
    for (const auto& c : r.checks)
      t += std::string("  ") + (c.passed ? "[ok]     " : "[FAILED] ") + c.name + ": " + c.result +
           "\n";
  }
  if (r.rehearsed) {
    t += r.bootUpdate ? "Boot update: needed; the boot code goes in first, then the run waits "
                        "for the radio to be put back into bootload mode (the box says so; with "
                        "--yes it asks the radio once a second).\n"
                      : "Boot update: not needed.\n";
    t += "Transfers (time on the line at its rate, from the bytes on the line; run time with the "
         "radio's answers and waits):\n";
    for (const auto& st : r.steps) {
      if (!IsTransfer(st)) continue;
      t += "  " + st.text + ": " + std::to_string(st.bytesToRadio) + " bytes to the radio, " +
           std::to_string(st.bytesFromRadio) + " from it, " + Format("%.2f", st.lineSeconds) +
           " s on the line, " + Format("%.2f", st.seconds) + " s\n";
    }
    if (r.codeplug) {
      const auto& c = *r.codeplug;
      if (!r.conversionPath.empty()) {
        t += "Codeplug conversion: " + Path(r.conversionPath) + "; the result " +
             (r.resultValid ? std::string("passes the validity check")
                            : "fails the validity check (" + r.resultReason + ")") +
             "\n";
      } else if (c.uploadedBytes == 0) {
        t += "Codeplug conversion: not reached (the codeplug was not read in the run)\n";
      } else {
        t += "Codeplug conversion: none (format " + CodeplugFormatName(c.imageFormatIndex) +
             " in the radio, " + CodeplugFormatName(c.targetFormatIndex) + " expected)\n";
      }
      if (c.downloadedBytes > 0)
        t += std::string("Read-back: ") +
             (c.verifySkipped ? "skipped (--no-verify)"
              : c.verified    ? "the codeplug reads back as written"
                              : "differs from what was written at word " +
                                 std::to_string(c.verifyDifferentWord)) +
             "\n";
    }
    t += "Predicted time of the real update: " + Format("%.1f", r.predictedSeconds) +
         " s (fixed waits " + Format("%.1f", r.fixedWaitSeconds) + " s, bytes on the line " +
         Format("%.1f", r.lineSeconds) + " s)" +
         (r.bootUpdate ? ", plus the time the radio takes to be put back into bootload mode" : "") +
         "\n";
    if (r.diff) {
      t += "Codeplug: the radio's against the rehearsed result: " +
           codeplug::CodeplugComparisonVerdict(*r.diff) + "\n";
      if (!r.diff->Matches() || !r.diff->diff.Same())
        t += codeplug::CodeplugComparisonText(*r.diff, "radio", "rehearsed");
    }
    for (const auto& b : r.boxes) t += "Box: " + b + "\n";
  }
  t += std::string(kRehearsalLimits) + "\n";
  t += "Rehearsal time: " + Format("%.2f", r.rehearsalSeconds) + " s\n";
  t += "Outcome of the real run: " + r.outcome + "\n";
  t += "Exit code of the real run: " + std::to_string(r.exitCode) + " (" +
       ExitCodeName(r.exitCode) + ")\n";
  return t;
}

nlohmann::ordered_json RehearsalJson(const RehearsalResult& r, const std::string& port) {
  nlohmann::ordered_json j;
  j["kind"] = "rehearsal";
  j["port"] = port;
  j["rehearsed"] = r.rehearsed;
  if (!r.failure.empty()) j["failure"] = r.failure;
  const RadioSnapshot& s = r.radio;
  j["radio"] = {{"answered", s.answered},
                {"serialNumber", s.answered ? Hex(s.info.data + 11, 8) : std::string()},
                {"bootVersion", Version(s.info.data + 19, 2)},
                {"codeplugBytes", s.codeplug.size()},
                {"codeplugRead", s.uploaded},
                {"passwordAsked", s.passwordAsked}};
  nlohmann::ordered_json checks = nlohmann::ordered_json::array();
  for (const auto& c : r.checks)
    checks.push_back({{"name", c.name}, {"passed", c.passed}, {"result", c.result}});
  j["checks"] = checks;
  j["bootUpdate"] = r.bootUpdate;
  nlohmann::ordered_json steps = nlohmann::ordered_json::array();
  for (const auto& st : r.steps)
    steps.push_back({{"status", st.text},
                     {"bytesToRadio", st.bytesToRadio},
                     {"bytesFromRadio", st.bytesFromRadio},
                     {"lineSeconds", st.lineSeconds},
                     {"seconds", st.seconds}});
  j["steps"] = steps;
  j["conversionPath"] = r.conversionPath;
  if (r.resultChecked) j["resultValid"] = r.resultValid;
  if (r.codeplug) {
    const auto& c = *r.codeplug;
    j["readBack"] = c.downloadedBytes == 0 ? "none"
                    : c.verifySkipped      ? "skipped"
                    : c.verified           ? "verified"
                                           : "differs";
  }
  j["predictedSeconds"] = r.predictedSeconds;
  j["fixedWaitSeconds"] = r.fixedWaitSeconds;
  j["lineSeconds"] = r.lineSeconds;
  j["rehearsalSeconds"] = r.rehearsalSeconds;
  j["boxes"] = r.boxes;
  if (r.diff) j["codeplugDiff"] = codeplug::CodeplugComparisonJson(*r.diff);
  j["limits"] = kRehearsalLimits;
  j["outcome"] = {{"text", r.outcome}, {"exitCode", r.exitCode}};
  return j;
}

}  // namespace bcu::cli
