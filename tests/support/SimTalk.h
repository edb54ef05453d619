#pragma once
// Talks to a VirtualRadio byte by byte as the PC would, on a manual clock:
// frames are built with the link's own BuildFrame and the radio's answers are
// parsed with the link's FrameParser, so every exchange also proves that the
// two sides of the framing fit.
#include <cstdint>
#include <vector>

#include "platform/Clock.h"
#include "sim/RadioConfig.h"
#include "sim/VirtualRadio.h"

namespace bcu::test {

using Bytes = std::vector<std::uint8_t>;

class SimTalk {
 public:
  explicit SimTalk(sim::RadioConfig config = {});

  // Frames `payload` as a command packet and hands it to the radio.
  void Send(const Bytes& payload);
  // The payloads of every good frame the radio sent so far (not yet taken).
  std::vector<Bytes> Replies();
  // Send, then exactly the replies that came; empty when none.
  std::vector<Bytes> Exchange(const Bytes& payload);
  // Send, and the one reply (empty when none, the first when several).
  Bytes Ask(const Bytes& payload);
  void Advance(std::uint64_t ms) { clock.Advance(ms); }

  // The PC's side of a flash file: start, blocks with the pair-sum exchange,
  // end. Returns false (and stops) at the first unexpected reply.
  bool SendFlashFile(const Bytes& start, const Bytes& data);

  platform::ManualClock clock;
  sim::VirtualRadio radio;
};

// `n` bytes of a recognisable pattern.
Bytes Pattern(std::size_t n, std::uint8_t seed);

}  // namespace bcu::test
