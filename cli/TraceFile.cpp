#include "cli/TraceFile.h"

#include <cerrno>
#include <cstring>

#include "link/Frame.h"
#include "platform/Clock.h"

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
  file_ = std::fopen(path.c_str(), "w");
  if (file_ == nullptr) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  startUs_ = platform::RealMicros();
  return true;
}

void TraceFile::WriteLine(const char* direction, const std::uint8_t* command, int commandBytes,
                          const std::uint8_t* bytes, int n) {
  if (file_ == nullptr) return;
  const double ms = static_cast<double>(platform::RealMicros() - startUs_) / 1000.0;
  const char* name = commandBytes == 2 ? link::CommCodeName(command[0], command[1]) : "raw bytes";
  std::fprintf(file_, "%12.3f ms %s %-32s %4d:", ms, direction, name ? name : "?", n);
  for (int i = 0; i < n; ++i) std::fprintf(file_, " %02X", bytes[i]);
  std::fputc('\n', file_);
  std::fflush(file_);
}

void TraceFile::OnSent(const std::uint8_t* bytes, int n) {
  std::uint8_t command[2] = {};
  const bool framed = CommandOfWireFrame(bytes, n, command);
  WriteLine("TX", command, framed ? 2 : 0, bytes, n);
}

void TraceFile::OnReceived(const std::uint8_t* payload, int n) {
  WriteLine("RX", payload, n >= 2 ? 2 : 0, payload, n);
}

}  // namespace bcu::cli
