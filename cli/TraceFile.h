#pragma once
// `--trace FILE`: every frame the link sends (as it goes on the wire) and every
// good frame it receives (its payload), one line each, with the time since the
// trace began, the command's name and the bytes in hex.
//
// The trace holds the radio's codeplug blocks as they travel, so the file is
// created mode 0600. The codeplug password (03 0C and its four digit bytes)
// is written as "**" for each byte of it and of the frame's checksum, unless
// secrets are shown (--trace-secrets).
#include <cstdint>
#include <cstdio>
#include <string>

#include "link/CommLink.h"

namespace bcu::cli {

class TraceFile final : public link::CommTrace {
 public:
  TraceFile() = default;
  ~TraceFile() override;
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  // Opens (truncates) the file, mode 0600. False, with the reason in
  // `error`, on failure.
  bool Open(const std::string& path, std::string& error);
  // Writes the codeplug password's digits as they were sent.
  void ShowSecrets(bool show) { showSecrets_ = show; }

  void OnSent(const std::uint8_t* bytes, int n) override;
  void OnReceived(const std::uint8_t* payload, int n) override;

 private:
  void WriteLine(const char* direction, const std::uint8_t* command, int commandBytes,
                 const std::uint8_t* bytes, int n);
  void WriteLine(const char* direction, const char* name, int n, const std::string& hex);

  std::FILE* file_ = nullptr;
  bool showSecrets_ = false;
  std::uint64_t startUs_ = 0;
};

// The two command bytes inside a wire frame (0xBA, two header bytes, stuffed
// packet): false when the bytes are not a frame (a raw send).
bool CommandOfWireFrame(const std::uint8_t* bytes, int n, std::uint8_t command[2]);

}  // namespace bcu::cli
