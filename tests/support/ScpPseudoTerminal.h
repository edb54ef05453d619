#pragma once
// A pseudo-terminal pair for serial port tests: the test holds the master side
// (the "radio"), the component under test opens the slave path.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bcu::test {

class PseudoTerminal {
 public:
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }
  // A slave descriptor the helper keeps open, so the pair survives the
  // component's closes; usable to look at the line settings.
  int SlaveFd() const { return slave_; }

  // Writes all bytes to the master side (waits while the slave's input is full).
  void Write(const std::vector<std::uint8_t>& bytes);
  // Reads from the master side until `n` bytes came or none came for
  // `silenceMs` (a generous bound: it only ends a failing test).
  std::vector<std::uint8_t> Read(std::size_t n, int silenceMs = 5000);
  // Reads whatever arrives until `silenceMs` pass without a byte.
  std::vector<std::uint8_t> ReadUntilSilent(int silenceMs);
  // True while the slave side can take output (the master's input has room).
  bool SlaveWritable() const;
  // Hangs up: the slave side sees the device go away.
  void CloseMaster();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

// `n` bytes of a pattern that differs by seed and does not repeat within
// 251 bytes.
std::vector<std::uint8_t> TestPattern(std::size_t n, std::uint32_t seed);

}  // namespace bcu::test
