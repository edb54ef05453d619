#pragma once
// The far end of a serial line inside this process: a radio model that takes
// the PC's bytes and gives back its own once they are due on the line's clock.
#include <cstddef>
#include <cstdint>

namespace bcu::transfer {

class LinePeer {
 public:
  virtual ~LinePeer() = default;
  // Bytes from the PC, as they leave its transmitter.
  virtual void Receive(const std::uint8_t* data, std::size_t n) = 0;
  // Up to `max` bytes that are due now; the count.
  virtual std::size_t Transmit(std::uint8_t* out, std::size_t max) = 0;
  // Clock microseconds until something happens without new input (0: now),
  // -1: nothing pending.
  virtual std::int64_t UsUntilNextEvent() = 0;
  // The far end has dropped the line.
  virtual bool LineDropped() const { return false; }
};

}  // namespace bcu::transfer
