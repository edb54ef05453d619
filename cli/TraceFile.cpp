#include "cli/TraceFile.h"

#include <cstdio>

#include "link/Frame.h"
#include "platform/Clock.h"
#include "platform/PrivateFile.h"

namespace bcu::cli {

bool CommandOfWireFrame(const std::uint8_t* bytes, int n, std::uint8_t command[2]) {
  if (n < 6 || bytes[0] != link::kFrameStart) return false;
  int got = 0;
  for (int i = 3; i < n && got < 2; ++i) {
    std::uint8_t b = bytes[i];
    if (b == link::kFrameEnd) return false;
    if (b == link::kFrameEscape) {
      if (i + 1 >= n) return false;
      const std::uint8_t next = bytes[++i];
      if (next > 2) return false;
      b = next == 0 ? link::kFrameStart : (next == 1 ? link::kFrameEnd : link::kFrameEscape);
    }
    command[got++] = b;
  }
  return got == 2;
}

TraceFile::~TraceFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool TraceFile::Open(const std::string& path, std::string& error) {
  file_ = platform::OpenPrivateFile(path, error);
  if (file_ == nullptr) return false;
  startUs_ = platform::RealMicros();
  return true;
}

namespace {

std::string Hex(const std::uint8_t* bytes, int n) {
  std::string hex;
  char b[4];
  for (int i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, " %02X", bytes[i]);
    hex += b;
  }
  return hex;
}

// The PC's answer to the radio's password request: 03 0C and four bytes.
bool IsCodeplugPassword(const std::uint8_t command[2]) {
  return command[0] == 0x03 && command[1] == 0x0C;
}

}  // namespace

void TraceFile::WriteLine(const char* direction, const char* name, int n, const std::string& hex) {
  if (file_ == nullptr) return;
  const double ms = static_cast<double>(platform::RealMicros() - startUs_) / 1000.0;
  std::fprintf(file_, "%12.3f ms %s %-32s %4d:%s\n", ms, direction, name ? name : "?", n,
               hex.c_str());
  std::fflush(file_);
}

void TraceFile::WriteLine(const char* direction, const std::uint8_t* command, int commandBytes,
                          const std::uint8_t* bytes, int n) {
  const char* name = commandBytes == 2 ? link::CommCodeName(command[0], command[1]) : "raw bytes";
  WriteLine(direction, name, n, Hex(bytes, n));
}

void TraceFile::OnSent(const std::uint8_t* bytes, int n) {
  std::uint8_t command[2] = {};
  const bool framed = CommandOfWireFrame(bytes, n, command);
  if (framed && IsCodeplugPassword(command) && !showSecrets_) {
    // Start byte, header, the command; the digits and the checksum (which
    // would give them away) masked, unstuffed so that no escape byte tells of
    // them either; the end byte.
    const std::string hex =
        Hex(bytes, 3) + Hex(command, 2) + " ** ** ** ** **" + Hex(&link::kFrameEnd, 1);
    WriteLine("TX", link::CommCodeName(command[0], command[1]), 11, hex);
    return;
  }
  WriteLine("TX", command, framed ? 2 : 0, bytes, n);
}

void TraceFile::OnReceived(const std::uint8_t* payload, int n) {
  WriteLine("RX", payload, n >= 2 ? 2 : 0, payload, n);
}

}  // namespace bcu::cli
