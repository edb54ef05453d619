#pragma once
// Everything that makes one virtual radio different from another: what it
// reports, what it holds, how long its slow steps take and which faults it
// injects. Read from JSON (every key optional, unknown keys refused); the
// defaults make a radio that the default build of the updater can update end
// to end: a series-4 mobile in bootload mode with boot 4.1, codeplug format
// 5.9 going to 5.10, behind an interface box.
#include <array>
#include <cstdint>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace bcu::sim {

enum class RadioFamily { kPortable, kMobile };

// What the radio runs when it starts: its application (answers information
// requests and the codeplug transfer) or its boot loader (answers information
// requests and the flash and DSP downloads).
enum class RadioMode { kApplication, kBootload };

// How the radio tells boot code from application code when a code file ends.
enum class CodeKind { kAuto, kApplication, kBoot };

struct RadioFaults {
  // Answers 02 0A with 4 address bytes (a verify failure) after this pair of
  // the code file (0 = first pair); -1: never.
  int verifyFailPair = -1;
  // Reports a wrong pair sum for the first N pairs of blocks (flash or DSP).
  int wrongSums = 0;
  // Answers nothing at all once this many data blocks went by; -1: never.
  int silentAfterBlocks = -1;
  // Answers the first N start commands (02 01, 02 00) with busy (02 0A) and the
  // first N boot information requests (04 2D) with 04 20.
  int busyReplies = 0;
  // Every Nth frame the radio sends carries a wrong checksum; 0: none.
  int corruptReplyEvery = 0;
  // Puts up to this many noise bytes (never 0xBA) in front of each reply; 0: none.
  int garbageMaxBytes = 0;
  std::uint32_t garbageSeed = 1;
  // Drops the line (the pseudo-terminal is closed) once this many data blocks
  // went by; -1: never.
  int dropLineAfterBlocks = -1;
  // Stores word N (counted from 0, as the PC sent it) of every downloaded
  // codeplug with its bits inverted: a radio that keeps something else than
  // it was sent, with every block sum right; -1: never.
  int alterStoredWord = -1;
};

struct RadioConfig {
  RadioFamily family = RadioFamily::kMobile;
  RadioMode startMode = RadioMode::kBootload;

  // Version information as the information requests report it.
  std::array<std::uint8_t, 2> formatBefore{5, 9};  // 04 1D before an application update
  std::array<std::uint8_t, 2> formatAfter{5, 10};  // 04 1D after it
  std::array<std::uint8_t, 3> dspVersion{3, 2, 1};
  std::array<std::uint8_t, 3> controllerVersion{4, 3, 0};  // major 2, 4 or 6: SEM is read
  std::array<std::uint8_t, 3> hardwareVersion{1, 4, 0};
  std::array<std::uint8_t, 8> serialNumber{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70};
  std::array<std::uint8_t, 2> bootVersion{4, 1};       // 04 2E; the major is the series
  std::array<std::uint8_t, 2> bootVersionAfter{4, 2};  // after a boot code update
  std::array<std::uint8_t, 2> semVersion{1, 2};
  bool hasBootInfo = true;       // false: 04 2D is answered with 04 20
  bool hasSem = true;            // false: 04 3E is answered with 04 20
  bool answersKindQuery = true;  // false: 04 67 is not answered
  bool answersBootInfo = true;   // false: 04 2D is not answered at all
  // Once restarted into its application the radio sends an unasked 07 25
  // frame, which the PC finds in front of the answer to its next request.
  bool announcesStart = false;

  std::uint8_t processor = 8;  // 02 0C reply byte: 4 (416) or 8 (816)
  bool boxPresent = true;      // the interface box answers the probe

  // Codeplug: a big-endian image file (as on the wire); empty: a small built-in
  // image of format formatBefore.
  std::string codeplugFile;
  std::string password;            // digits; empty: no password
  std::uint8_t acceptCode = 0x0D;  // 03 0D or 03 0E
  int codeplugSumEvery = 2;        // blocks between 03 03 sum reports

  CodeKind codeKind = CodeKind::kAuto;
  std::uint32_t bootCodeMaxBytes = 65536;  // auto: a code file up to this size is boot code

  // Slow steps, in clock milliseconds (the clock may be scaled).
  std::uint32_t eraseMs = 500;     // after the loader: silent (02 0B still answered)
  std::uint32_t restartMs = 8000;  // after application code: silent
  // After boot code: silent, then bootload mode again. Longer than the
  // updater takes to its next baud change, that change is lost and the two
  // sides run at different rates; 0 suits unattended runs.
  std::uint32_t bootReentryMs = 0;
  double timeScale = 1.0;  // real ms per clock ms (used by bcu-radiosim)
  bool pacing = false;     // model the line rate: 10 bits a byte at the current baud

  RadioFaults faults;
};

// Reads a configuration; every key is optional. Throws std::invalid_argument
// naming the key for an unknown key or a bad value.
RadioConfig RadioConfigFromJson(const nlohmann::json& j);
// The configuration as JSON (every key, for --help and --dump).
nlohmann::json RadioConfigToJson(const RadioConfig& c);

}  // namespace bcu::sim
