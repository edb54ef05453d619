// bcu-radiosim: a virtual radio on a pseudo-terminal, for trying the updater
// without a radio. Prints the device to open as its first line and serves
// until SIGINT or SIGTERM.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "app/ProgramVersion.h"
#include "sim/PtyRadio.h"
#include "sim/RadioConfig.h"
#include "sim/RadioDump.h"

namespace {

constexpr const char* kDescription =
    "Virtual radio for Brisant Code Updater.\n\n"
    "Opens a pseudo-terminal, prints its device path as the first line of output and\n"
    "answers on it as a radio would (behind its USB interface box unless --no-box).\n"
    "It serves until SIGINT or SIGTERM; with --dump DIR it then writes what it\n"
    "received: loader.bin, code.bin, boot.bin, page<N>.bin, file<NN>-<kind>.bin,\n"
    "codeplug.bin (the image it holds), codeplug-received.bin (the last image\n"
    "downloaded into it) and state.json.\n\n"
    "Settings come from --config FILE (JSON; every key optional, unknown keys are\n"
    "an error; --print-config shows them all with their values) and the flags\n"
    "below, which override the file.";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{kDescription, "bcu-radiosim"};
  std::string configFile, linkPath, dumpDir;
  bool printConfig = false;
  nlohmann::json flags = nlohmann::json::object();
  nlohmann::json faults = nlohmann::json::object();

  app.set_version_flag(
      "--version", std::string("bcu-radiosim (Brisant Code Updater) ") + bcu::app::ProgramVersion(),
      "Print the version and exit");
  app.add_option("--config", configFile, "JSON configuration file")
      ->type_name("FILE")
      ->check(CLI::ExistingFile.description(""));
  app.add_option("--link", linkPath, "also make a symbolic link PATH to the device")
      ->type_name("PATH");
  app.add_option("--dump", dumpDir, "on exit, write what the radio received into DIR")
      ->type_name("DIR");
  app.add_flag("--print-config", printConfig, "print the effective configuration and exit");

  // Common settings: each sets the JSON key of the same meaning. The
  // placeholder names what the option takes; numbers are counts (N), or
  // milliseconds (MS) where the option's name says so.
  auto text = [&](const char* name, const char* key, const char* placeholder, const char* help) {
    app.add_option_function<std::string>(
           name, [&flags, key](const std::string& v) { flags[key] = v; }, help)
        ->type_name(placeholder);
  };
  auto number = [&](const char* name, const char* key, const char* help, nlohmann::json& into) {
    const std::string option = name;
    const bool ms = option.size() > 3 && option.compare(option.size() - 3, 3, "-ms") == 0;
    app.add_option_function<long long>(
           name, [&into, key](long long v) { into[key] = v; }, help)
        ->type_name(ms ? "MS" : "N");
  };
  text("--family", "family", "FAMILY", "portable or mobile (default mobile)");
  text("--start-mode", "startMode", "MODE", "bootload or application (default bootload)");
  text("--boot-version", "bootVersion", "VERSION", "boot version reported, e.g. 4.1");
  text("--boot-after", "bootVersionAfter", "VERSION",
       "boot version after a boot code update, e.g. 4.2");
  text("--format-before", "formatBefore", "FORMAT", "codeplug format before the update, e.g. 5.9");
  text("--format-after", "formatAfter", "FORMAT", "codeplug format after the update, e.g. 5.10");
  text("--serial", "serialNumber", "SERIAL", "serial number, 16 hexadecimal digits");
  text("--password", "password", "DIGITS", "codeplug password digits (default none)");
  text("--codeplug", "codeplugFile", "FILE", "codeplug image file, big-endian as on the wire");
  text("--code-kind", "codeKind", "KIND", "auto, application or boot");
  number("--processor", "processor", "processor check byte: 4 (416) or 8 (816)", flags);
  number("--boot-max-bytes", "bootCodeMaxBytes", "auto: code files up to this size are boot code",
         flags);
  number("--erase-ms", "eraseMs", "flash erase time after the loader", flags);
  number("--restart-ms", "restartMs", "restart time after application code", flags);
  number("--boot-reentry-ms", "bootReentryMs", "time until bootload mode again after boot code",
         flags);
  app.add_option_function<double>(
         "--time-scale", [&flags](double v) { flags["timeScale"] = v; },
         "real ms per radio ms (0.01 runs the radio a hundred times faster)")
      ->type_name("SCALE");
  app.add_flag_callback(
      "--pacing", [&flags] { flags["pacing"] = true; }, "deliver bytes at the modelled line rate");
  app.add_flag_callback(
      "--no-box", [&flags] { flags["boxPresent"] = false; },
      "no interface box: the probe gets no answer");
  app.add_flag_callback(
      "--no-boot-info", [&flags] { flags["hasBootInfo"] = false; },
      "answer the boot information request with 04 20");
  app.add_flag_callback(
      "--no-sem", [&flags] { flags["hasSem"] = false; },
      "answer the SEM version request with 04 20");
  number("--verify-fail-pair", "verifyFailPair",
         "fault: verify failure after this pair of the code", faults);
  number("--wrong-sums", "wrongSums", "fault: wrong pair sums for the first N pairs", faults);
  number("--silent-after", "silentAfterBlocks", "fault: answer nothing after N data blocks",
         faults);
  number("--drop-after", "dropLineAfterBlocks", "fault: close the line after N data blocks",
         faults);
  number("--busy", "busyReplies", "fault: N busy replies to start and boot requests", faults);
  number("--corrupt-every", "corruptReplyEvery", "fault: every Nth reply with a bad checksum",
         faults);
  number("--garbage", "garbageMaxBytes", "fault: up to N noise bytes before each reply", faults);
  number("--garbage-seed", "garbageSeed", "seed of the noise bytes", faults);
  number("--alter-stored-word", "alterStoredWord",
         "fault: store word N of every downloaded codeplug inverted", faults);
  app.footer(
      "JSON keys: family, startMode, formatBefore, formatAfter, dspVersion,\n"
      "controllerVersion, hardwareVersion, serialNumber, bootVersion, bootVersionAfter,\n"
      "semVersion, hasBootInfo, hasSem, answersKindQuery, answersBootInfo, processor, boxPresent,\n"
      "codeplugFile, password, acceptCode (13 or 14), codeplugSumEvery, codeKind,\n"
      "bootCodeMaxBytes, eraseMs, restartMs, bootReentryMs, timeScale, pacing, and\n"
      "faults {verifyFailPair, wrongSums, silentAfterBlocks, busyReplies,\n"
      "corruptReplyEvery, garbageMaxBytes, garbageSeed, dropLineAfterBlocks,\n"
      "alterStoredWord}.");
  CLI11_PARSE(app, argc, argv);

  bcu::sim::RadioConfig config;
  try {
    nlohmann::json j = nlohmann::json::object();
    if (!configFile.empty()) {
      std::ifstream f(configFile);
      j = nlohmann::json::parse(f);
    }
    for (auto& [k, v] : flags.items()) j[k] = v;
    for (auto& [k, v] : faults.items()) j["faults"][k] = v;
    config = bcu::sim::RadioConfigFromJson(j);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bcu-radiosim: %s\n", e.what());
    return 2;
  }
  if (printConfig) {
    std::cout << bcu::sim::RadioConfigToJson(config).dump(2) << std::endl;
    return 0;
  }

  // SIGINT and SIGTERM are taken by sigwait below, in this thread only.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::unique_ptr<bcu::sim::PtyRadio> radio;
  try {
    radio = std::make_unique<bcu::sim::PtyRadio>(config, config.timeScale);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bcu-radiosim: %s\n", e.what());
    return 1;
  }
  if (!linkPath.empty()) radio->SetSymlink(linkPath);
  std::string error;
  if (!radio->Start(&error)) {
    std::fprintf(stderr, "bcu-radiosim: %s\n", error.c_str());
    return 1;
  }
  std::cout << radio->DevicePath() << std::endl;

  int sig = 0;
  sigwait(&stopSignals, &sig);
  radio->Stop();
  if (!dumpDir.empty()) {
    const bool ok = radio->With(
        [&](bcu::sim::VirtualRadio& r) { return bcu::sim::DumpRadio(r, dumpDir, &error); });
    if (!ok) {
      std::fprintf(stderr, "bcu-radiosim: %s\n", error.c_str());
      return 1;
    }
  }
  return 0;
}
