#include "sim/RadioConfig.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace bcu::sim {
namespace {

using nlohmann::json;

[[noreturn]] void Bad(const std::string& key, const std::string& why) {
  throw std::invalid_argument("radio configuration: " + key + ": " + why);
}

// A version as "5.10" or [5, 10]: exactly N numbers 0..255.
template <std::size_t N>
std::array<std::uint8_t, N> Version(const json& v, const std::string& key) {
  std::array<std::uint8_t, N> out{};
  std::vector<long> parts;
  if (v.is_string()) {
    const std::string s = v.get<std::string>();
    std::size_t pos = 0;
    while (pos <= s.size()) {
      std::size_t dot = s.find('.', pos);
      if (dot == std::string::npos) dot = s.size();
      const std::string part = s.substr(pos, dot - pos);
      if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos)
        Bad(key, "expected numbers separated by dots");
      parts.push_back(std::stol(part));
      pos = dot + 1;
    }
  } else if (v.is_array()) {
    for (const auto& e : v) {
      if (!e.is_number_integer()) Bad(key, "expected integers");
      parts.push_back(e.get<long>());
    }
  } else {
    Bad(key, "expected a text like \"5.10\" or an array");
  }
  if (parts.size() != N) Bad(key, "expected " + std::to_string(N) + " numbers");
  for (std::size_t i = 0; i < N; ++i) {
    if (parts[i] < 0 || parts[i] > 255) Bad(key, "numbers must be 0 to 255");
    out[i] = static_cast<std::uint8_t>(parts[i]);
  }
  return out;
}

std::array<std::uint8_t, 8> Serial(const json& v, const std::string& key) {
  if (!v.is_string()) Bad(key, "expected 16 hexadecimal digits");
  std::string hex;
  for (char c : v.get<std::string>())
    if (c != '-' && c != ' ' && c != ':') hex += c;
  if (hex.size() != 16 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    Bad(key, "expected 16 hexadecimal digits");
  std::array<std::uint8_t, 8> out{};
  for (std::size_t i = 0; i < 8; ++i)
    out[i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  return out;
}

bool Bool(const json& v, const std::string& key) {
  if (!v.is_boolean()) Bad(key, "expected true or false");
  return v.get<bool>();
}

long long Int(const json& v, const std::string& key, long long lo, long long hi) {
  if (!v.is_number_integer()) Bad(key, "expected an integer");
  const long long x = v.get<long long>();
  if (x < lo || x > hi) Bad(key, "expected " + std::to_string(lo) + " to " + std::to_string(hi));
  return x;
}

std::string Text(const json& v, const std::string& key) {
  if (!v.is_string()) Bad(key, "expected a text");
  return v.get<std::string>();
}

std::string VersionText(const std::uint8_t* v, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += (i ? "." : "") + std::to_string(v[i]);
  return s;
}

void ReadFaults(const json& j, RadioFaults& f) {
  if (!j.is_object()) Bad("faults", "expected an object");
  for (const auto& [key, v] : j.items()) {
    const std::string k = "faults." + key;
    if (key == "verifyFailPair")
      f.verifyFailPair = static_cast<int>(Int(v, k, -1, 1 << 24));
    else if (key == "wrongSums")
      f.wrongSums = static_cast<int>(Int(v, k, 0, 1 << 24));
    else if (key == "silentAfterBlocks")
      f.silentAfterBlocks = static_cast<int>(Int(v, k, -1, 1 << 24));
    else if (key == "busyReplies")
      f.busyReplies = static_cast<int>(Int(v, k, 0, 1 << 24));
    else if (key == "corruptReplyEvery")
      f.corruptReplyEvery = static_cast<int>(Int(v, k, 0, 1 << 24));
    else if (key == "garbageMaxBytes")
      f.garbageMaxBytes = static_cast<int>(Int(v, k, 0, 64));
    else if (key == "garbageSeed")
      f.garbageSeed = static_cast<std::uint32_t>(Int(v, k, 0, 0xFFFFFFFFLL));
    else if (key == "dropLineAfterBlocks")
      f.dropLineAfterBlocks = static_cast<int>(Int(v, k, -1, 1 << 24));
    else if (key == "alterStoredWord")
      f.alterStoredWord = static_cast<int>(Int(v, k, -1, 32767));
    else
      Bad(k, "unknown key");
  }
}

}  // namespace

RadioConfig RadioConfigFromJson(const json& j) {
  if (!j.is_object()) Bad("(top)", "expected a JSON object");
  RadioConfig c;
  for (const auto& [key, v] : j.items()) {
    if (key == "family") {
      const std::string s = Text(v, key);
      if (s == "portable")
        c.family = RadioFamily::kPortable;
      else if (s == "mobile")
        c.family = RadioFamily::kMobile;
      else
        Bad(key, "expected \"portable\" or \"mobile\"");
    } else if (key == "startMode") {
      const std::string s = Text(v, key);
      if (s == "bootload")
        c.startMode = RadioMode::kBootload;
      else if (s == "application")
        c.startMode = RadioMode::kApplication;
      else
        Bad(key, "expected \"bootload\" or \"application\"");
    } else if (key == "formatBefore")
      c.formatBefore = Version<2>(v, key);
    else if (key == "formatAfter")
      c.formatAfter = Version<2>(v, key);
    else if (key == "dspVersion")
      c.dspVersion = Version<3>(v, key);
    else if (key == "controllerVersion")
      c.controllerVersion = Version<3>(v, key);
    else if (key == "hardwareVersion")
      c.hardwareVersion = Version<3>(v, key);
    else if (key == "serialNumber")
      c.serialNumber = Serial(v, key);
    else if (key == "bootVersion")
      c.bootVersion = Version<2>(v, key);
    else if (key == "bootVersionAfter")
      c.bootVersionAfter = Version<2>(v, key);
    else if (key == "semVersion")
      c.semVersion = Version<2>(v, key);
    else if (key == "hasBootInfo")
      c.hasBootInfo = Bool(v, key);
    else if (key == "hasSem")
      c.hasSem = Bool(v, key);
    else if (key == "answersKindQuery")
      c.answersKindQuery = Bool(v, key);
    else if (key == "answersBootInfo")
      c.answersBootInfo = Bool(v, key);
    else if (key == "announcesStart")
      c.announcesStart = Bool(v, key);
    else if (key == "processor")
      c.processor = static_cast<std::uint8_t>(Int(v, key, 0, 255));
    else if (key == "boxPresent")
      c.boxPresent = Bool(v, key);
    else if (key == "codeplugFile")
      c.codeplugFile = Text(v, key);
    else if (key == "password") {
      c.password = Text(v, key);
      if (c.password.size() > 8 || c.password.find_first_not_of("0123456789") != std::string::npos)
        Bad(key, "expected up to 8 digits");
    } else if (key == "acceptCode") {
      const long long x = Int(v, key, 0x0D, 0x0E);
      c.acceptCode = static_cast<std::uint8_t>(x);
    } else if (key == "codeplugSumEvery")
      c.codeplugSumEvery = static_cast<int>(Int(v, key, 0, 512));
    else if (key == "codeKind") {
      const std::string s = Text(v, key);
      if (s == "auto")
        c.codeKind = CodeKind::kAuto;
      else if (s == "application")
        c.codeKind = CodeKind::kApplication;
      else if (s == "boot")
        c.codeKind = CodeKind::kBoot;
      else
        Bad(key, "expected \"auto\", \"application\" or \"boot\"");
    } else if (key == "bootCodeMaxBytes")
      c.bootCodeMaxBytes = static_cast<std::uint32_t>(Int(v, key, 0, 0xFFFFFFFFLL));
    else if (key == "eraseMs")
      c.eraseMs = static_cast<std::uint32_t>(Int(v, key, 0, 3600000));
    else if (key == "restartMs")
      c.restartMs = static_cast<std::uint32_t>(Int(v, key, 0, 3600000));
    else if (key == "bootReentryMs")
      c.bootReentryMs = static_cast<std::uint32_t>(Int(v, key, 0, 3600000));
    else if (key == "timeScale") {
      if (!v.is_number() || !std::isfinite(v.get<double>()) || v.get<double>() <= 0)
        Bad(key, "expected a finite number above 0");
      c.timeScale = v.get<double>();
    } else if (key == "pacing")
      c.pacing = Bool(v, key);
    else if (key == "faults")
      ReadFaults(v, c.faults);
    else
      Bad(key, "unknown key");
  }
  return c;
}

json RadioConfigToJson(const RadioConfig& c) {
  char serial[17];
  for (int i = 0; i < 8; ++i)
    std::snprintf(serial + 2 * i, 3, "%02X", c.serialNumber[static_cast<std::size_t>(i)]);
  const char* kinds[] = {"auto", "application", "boot"};
  json f = {{"verifyFailPair", c.faults.verifyFailPair},
            {"wrongSums", c.faults.wrongSums},
            {"silentAfterBlocks", c.faults.silentAfterBlocks},
            {"busyReplies", c.faults.busyReplies},
            {"corruptReplyEvery", c.faults.corruptReplyEvery},
            {"garbageMaxBytes", c.faults.garbageMaxBytes},
            {"garbageSeed", c.faults.garbageSeed},
            {"dropLineAfterBlocks", c.faults.dropLineAfterBlocks},
            {"alterStoredWord", c.faults.alterStoredWord}};
  return json{{"family", c.family == RadioFamily::kPortable ? "portable" : "mobile"},
              {"startMode", c.startMode == RadioMode::kBootload ? "bootload" : "application"},
              {"formatBefore", VersionText(c.formatBefore.data(), 2)},
              {"formatAfter", VersionText(c.formatAfter.data(), 2)},
              {"dspVersion", VersionText(c.dspVersion.data(), 3)},
              {"controllerVersion", VersionText(c.controllerVersion.data(), 3)},
              {"hardwareVersion", VersionText(c.hardwareVersion.data(), 3)},
              {"serialNumber", std::string(serial)},
              {"bootVersion", VersionText(c.bootVersion.data(), 2)},
              {"bootVersionAfter", VersionText(c.bootVersionAfter.data(), 2)},
              {"semVersion", VersionText(c.semVersion.data(), 2)},
              {"hasBootInfo", c.hasBootInfo},
              {"hasSem", c.hasSem},
              {"answersKindQuery", c.answersKindQuery},
              {"answersBootInfo", c.answersBootInfo},
              {"announcesStart", c.announcesStart},
              {"processor", c.processor},
              {"boxPresent", c.boxPresent},
              {"codeplugFile", c.codeplugFile},
              {"password", c.password},
              {"acceptCode", c.acceptCode},
              {"codeplugSumEvery", c.codeplugSumEvery},
              {"codeKind", kinds[static_cast<int>(c.codeKind)]},
              {"bootCodeMaxBytes", c.bootCodeMaxBytes},
              {"eraseMs", c.eraseMs},
              {"restartMs", c.restartMs},
              {"bootReentryMs", c.bootReentryMs},
              {"timeScale", c.timeScale},
              {"pacing", c.pacing},
              {"faults", f}};
}

}  // namespace bcu::sim
