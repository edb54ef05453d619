#include "SimTalk.h"

#include "link/Frame.h"

namespace bcu::test {

SimTalk::SimTalk(sim::RadioConfig config) : radio(std::move(config), clock) {}

void SimTalk::Send(const Bytes& payload) {
  const Bytes frame = link::BuildFrame(payload.data(), static_cast<std::int32_t>(payload.size()));
  radio.Receive(frame.data(), frame.size());
}

std::vector<Bytes> SimTalk::Replies() {
  link::FrameParser parser;
  std::vector<Bytes> out;
  for (std::uint8_t b : radio.TakeOutput())
    if (parser.Feed(b))
      out.emplace_back(parser.Payload(), parser.Payload() + parser.PayloadLength());
  return out;
}

std::vector<Bytes> SimTalk::Exchange(const Bytes& payload) {
  Send(payload);
  return Replies();
}

Bytes SimTalk::Ask(const Bytes& payload) {
  auto replies = Exchange(payload);
  return replies.empty() ? Bytes{} : replies.front();
}

bool SimTalk::SendFlashFile(const Bytes& start, const Bytes& data) {
  if (Ask(start) != Bytes{0x02, 0x07}) return false;
  Bytes padded = data;
  const std::size_t pair = 256;
  padded.resize((data.size() + pair - 1) / pair * pair + (data.empty() ? pair : 0), 0xFF);
  for (std::size_t off = 0; off < padded.size(); off += 256) {
    Bytes block{0x02, 0x09};
    block.insert(block.end(), padded.begin() + static_cast<long>(off),
                 padded.begin() + static_cast<long>(off + 128));
    if (Ask(block) != Bytes{0x02, 0x07}) return false;
    block.assign({0x02, 0x09});
    block.insert(block.end(), padded.begin() + static_cast<long>(off + 128),
                 padded.begin() + static_cast<long>(off + 256));
    const Bytes sum = Ask(block);
    if (sum.size() != 4 || sum[0] != 0x02 || sum[1] != 0x02) return false;
    std::uint16_t mine = 0;
    for (std::size_t i = off; i < off + 256; i += 2)
      mine = static_cast<std::uint16_t>(mine + (padded[i + 1] << 8 | padded[i]));
    const bool agree = (sum[2] << 8 | sum[3]) == mine;
    const Bytes ack = Ask({0x02, static_cast<std::uint8_t>(agree ? 0x05 : 0x06)});
    if (!agree || ack != Bytes{0x02, 0x07}) return false;
  }
  Send({0x02, 0x04});
  return Replies().empty();
}

Bytes Pattern(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
  return b;
}

}  // namespace bcu::test
