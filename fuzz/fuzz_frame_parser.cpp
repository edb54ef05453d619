// Random byte streams into the receive parser and the link's acceptance
// logic. Every frame the parser reports must fit the collection buffer and
// survive being framed again and parsed by a fresh parser unchanged; the reply
// filter may only accept payloads of the code and length asked for; the raw
// collector may only complete packets that begin with the first byte asked
// for, have the target length and, when checked, a zero sum.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "link/CommReceive.h"
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
  // The first bytes choose what a wait asks for; the rest is the line.
  if (size >= 6) {
    bcu::link::CommPacket expected, alternative;
    expected.data[0] = data[0];
    expected.data[1] = data[1];
    expected.length = (data[2] & 1) ? 2 : 1;
    alternative.data[0] = data[3];
    alternative.data[1] = data[4];
    const int expectedLen = data[5] % 12;
    const int alternativeLen = 2;
    const int codeBytes = expected.length;
    FrameParser p;
    bcu::link::CommRawCollector raw(data[0], data[5] % 16, (data[2] & 2) != 0);
    for (std::size_t i = 6; i < size; ++i) {
      if (raw.Feed(data[i])) {
        const auto& pk = raw.Packet();
        if (pk.length != data[5] % 16 || pk.data[0] != data[0]) std::abort();
        if (data[2] & 2) {
          std::uint8_t sum = 0;
          for (int k = 0; k < pk.length; ++k) sum = static_cast<std::uint8_t>(sum + pk.data[k]);
          if (sum != 0) std::abort();
        }
      }
      if (!p.Feed(data[i])) continue;
      const auto m = bcu::link::CommMatchReply(p.Payload(), p.PayloadLength(), expected,
                                               expectedLen, alternative, alternativeLen);
      if (m == bcu::link::CommMatch::None) continue;
      const bcu::link::CommPacket& code =
          m == bcu::link::CommMatch::Expected ? expected : alternative;
      const int len = m == bcu::link::CommMatch::Expected ? expectedLen : alternativeLen;
      if (p.PayloadLength() != static_cast<std::size_t>(len)) std::abort();
      for (int k = 0; k < codeBytes; ++k)
        if (p.Payload()[k] != code.data[k]) std::abort();
    }
  }
  // The same stream split across inputs must never break a long-lived parser.
  for (std::size_t i = 0; i < size; ++i) parser.Feed(data[i]);
  return 0;
}
