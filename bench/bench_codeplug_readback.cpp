// The time the read-back after a codeplug download adds, against a virtual
// radio paced at 115,200 baud: for a 10 KB codeplug and for a maximal one
// (65,536 bytes), the download itself, the read-back (a second upload and the
// comparison) and what the bytes of the read-back need on the line.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "link/CommLink.h"
#include "link/Frame.h"
#include "platform/Clock.h"
#include "platform/PortTable.h"
#include "platform/TimerPump.h"
#include "sim/PtyRadio.h"
#include "transfer/CodeplugReadBack.h"
#include "transfer/VYXTransferParms.h"

using namespace bcu;

namespace {

double Seconds() {
  return static_cast<double>(platform::RealMicros()) / 1e6;
}

// An image of `words` words: a chain of blocks of at most 16,000 words
// (radio block first, ImageLength in word 4), then 128 trailing words.
std::vector<std::uint8_t> Image(int words) {
  std::vector<std::uint8_t> bytes(2 * static_cast<std::size_t>(words));
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
  int at = 0;
  const int chain = words - 128;
  while (at < chain) {
    const int length = std::min(16000, chain - at);
    const std::size_t p = 2 * static_cast<std::size_t>(at);
    bytes[p] = bytes[p + 1] = 0x5F;
    const int kind = at == 0 ? 0 : 1;
    bytes[p + 2] = static_cast<std::uint8_t>(kind << 6 | length >> 8);
    bytes[p + 3] = static_cast<std::uint8_t>(length);
    at += length;
  }
  bytes[8] = static_cast<std::uint8_t>(words >> 8);
  bytes[9] = static_cast<std::uint8_t>(words);
  return bytes;
}

// Bytes on the line for an upload of `blocks` blocks: each 03 02 block frame
// from the radio and the PC's 03 08 (or 03 04) answer, framed as on the wire.
double UploadLineSeconds(int blocks) {
  const std::vector<std::uint8_t> block(130, 0x33), answer = {0x03, 0x08};
  const double frameBytes =
      static_cast<double>(link::BuildFrame(block.data(), 130, 0x01, 0x7F).size() +
                          link::BuildFrame(answer.data(), 2, 0x7F, 0x01).size());
  return blocks * frameBytes * 10.0 / 115200.0;
}

struct Link {
  platform::SteadyClock clock;
  platform::TimerQueue timers{clock};
  platform::TimerPump pump{timers};
  platform::PortTable ports;
  link::CommLink link;
  std::unique_ptr<platform::Timer> commTimer;

  bool Open(const std::string& device) {
    ports.SetDevicePath(1, device);
    link::CommInitLink(link);
    link.pump = &pump;
    link.clock = &clock;
    link.ports = &ports;
    commTimer = timers.Create([this] {
      link::CommSetRunning(link, false);
      commTimer->SetEnabled(false);
    });
    link.timeoutTimer = commTimer.get();
    std::string error;
    if (!link::CommOpenSerialDevice(link, 1, 19200, 0, error)) {
      std::fprintf(stderr, "open %s: %s\n", device.c_str(), error.c_str());
      return false;
    }
    link::CommSetFramed(link, true);
    link::CommSetRunning(link, true);
    link::CommChangeBaud(link, 115200);
    link::CommSetTimeout(link, 4000);
    return true;
  }
  ~Link() {
    link::CommCloseLink(link);
    link.timeoutTimer = nullptr;
  }
};

}  // namespace

int main() {
  std::printf("codeplug read-back, virtual radio paced at 115200 baud\n");
  for (const int bytes : {10240, 65536}) {
    sim::RadioConfig config;
    config.startMode = sim::RadioMode::kApplication;
    config.pacing = true;
    sim::PtyRadio radio(config, 1.0);
    std::string error;
    if (!radio.Start(&error)) {
      std::fprintf(stderr, "virtual radio: %s\n", error.c_str());
      return 1;
    }
    Link pc;
    if (!pc.Open(radio.DevicePath())) return 1;
    const std::vector<std::uint8_t> image = Image(bytes / 2);

    std::vector<std::uint8_t> buffer(transfer::kCodeplugBufferSize, 0);
    std::copy(image.begin(), image.end(), buffer.begin());
    transfer::VYXTransferParms download;
    download.SetRadioKey("001A2B3C4D5E6F70");
    download.SetLink(&pc.link);
    download.SetBuffer(buffer.data(), static_cast<std::int32_t>(image.size()));
    const double t0 = Seconds();
    const std::int32_t written = download.Download();
    const double downloadSeconds = Seconds() - t0;

    const double t1 = Seconds();
    const transfer::ReadBackResult check =
        transfer::ReadBackCodeplug(pc.link, nullptr, nullptr, image);
    const double readBackSeconds = Seconds() - t1;
    const int blocks = check.bytesRead / 128;
    radio.Stop();

    std::printf("%6d bytes: download %s in %.2f s; read-back %s, %d blocks, %.2f s (+%.0f %%)\n",
                bytes, written > 0 ? "done" : "FAILED", downloadSeconds,
                check.verdict == transfer::ReadBackVerdict::kSame ? "the same" : "NOT THE SAME",
                blocks, readBackSeconds, 100.0 * readBackSeconds / downloadSeconds);
    std::printf("        read-back bytes on the line need %.2f s (wall / line %.3f)\n",
                UploadLineSeconds(blocks), readBackSeconds / UploadLineSeconds(blocks));
  }
  return 0;
}
