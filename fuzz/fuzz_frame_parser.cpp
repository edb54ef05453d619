// Random byte streams into the receive parser. Every frame it reports must
// fit the collection buffer, have a zero checksum, and survive being framed
// again and parsed by a fresh parser unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "link/Frame.h"

using bcu::link::BuildFrame;
using bcu::link::FrameParser;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FrameParser parser;  // fuzzer-local: one parser across inputs is fine
  FrameParser local;
  for (std::size_t i = 0; i < size; ++i) {
    if (!local.Feed(data[i])) continue;
    const std::size_t n = local.PayloadLength();
    if (n > bcu::link::kFrameCollectMax - 3) std::abort();
    if (n > 255) continue;  // a frame carries at most 255 packet bytes when built
    std::vector<std::uint8_t> payload(local.Payload(), local.Payload() + n);
    std::vector<std::uint8_t> again =
        BuildFrame(payload.data(), static_cast<std::int32_t>(n), 0x01, 0x7F);
    FrameParser check;
    bool seen = false;
    for (std::uint8_t b : again) {
      if (check.Feed(b)) {
        if (seen) std::abort();
        seen = true;
        if (check.PayloadLength() != n) std::abort();
        for (std::size_t k = 0; k < n; ++k)
          if (check.Payload()[k] != payload[k]) std::abort();
      }
    }
    if (!seen) std::abort();
  }
  // The same stream split across inputs must never break a long-lived parser.
  for (std::size_t i = 0; i < size; ++i) parser.Feed(data[i]);
  return 0;
}
