#include "sim/VirtualRadio.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "link/Frame.h"
#include "platform/BoundedRead.h"
#include "sim/BuiltinCodeplug.h"
#include "sim/CodeplugScrambler.h"
#include "sim/RadioFrameReader.h"

namespace bcu::sim {
namespace {

constexpr std::size_t kBlockBytes = 128;
constexpr std::size_t kCodeplugMax = 65536;
// After the code file ends the radio waits this long for the PC's baud change
// before it restarts anyway.
constexpr std::uint64_t kFinishGraceMs = 1000;
// The PC sends a second block again at most this often after differing sums.
constexpr int kMaxResends = 4;
// The longest a paced byte inside a frame waits past its line time before it
// is handed over (together with the bytes that followed it).
constexpr double kOutputBatchMs = 1.0;

int BaudOfRateByte(std::uint8_t rate) {
  switch (rate) {
    case 0:
      return 9600;
    case 1:
      return 19200;
    case 3:
      return 38400;
    case 4:
      return 57600;
    case 5:
      return 115200;
    default:
      return 19200;
  }
}

std::uint16_t BigEndianWordSum(const std::uint8_t* data, std::size_t n) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i + 1 < n; i += 2)
    sum = static_cast<std::uint16_t>(sum + ((data[i] << 8) | data[i + 1]));
  return sum;
}

}  // namespace

std::uint16_t FlashPairSum(const std::uint8_t* data, std::size_t n) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i + 1 < n; i += 2)
    sum = static_cast<std::uint16_t>(sum + (data[i + 1] << 8 | data[i]));
  return sum;
}

std::array<std::uint8_t, 4> EncodePasswordBytes(const std::string& text) {
  std::uint16_t words[2] = {0xFFFF, 0xFFFF};
  int d = 0;
  for (std::size_t pos = 0; pos < text.size() && pos < 12 && d < 8; ++pos) {
    const char c = text[pos];
    if (c < '0' || c > '9') continue;
    const int shift = 12 - 4 * (d % 4);
    std::uint16_t& w = words[d / 4];
    w = static_cast<std::uint16_t>((w & ~(0xF << shift)) | ((c - '0') << shift));
    ++d;
  }
  return {static_cast<std::uint8_t>(words[0] >> 8), static_cast<std::uint8_t>(words[0] & 0xFF),
          static_cast<std::uint8_t>(words[1] >> 8), static_cast<std::uint8_t>(words[1] & 0xFF)};
}

// Everything the radio keeps between frames.
struct VirtualRadio::Impl {
  struct TimedByte {
    double dueMs;
    std::uint8_t b;
  };
  enum class Phase { kIdle, kErasing, kFinishing, kRestarting };
  enum class BlockWait { kNone, kVerdict, kResend };
  enum class Codeplug { kNone, kPassword, kUploading, kDownloading, kSumVerdict };

  RadioFrameReader reader;
  CodeplugScrambler scrambler;
  std::mt19937 noise;
  std::deque<TimedByte> in, out;
  double rxFreeMs = 0, txFreeMs = 0;
  // When the frame being handled was complete on the line (or the phase that
  // ended, ended): replies and the phases it starts are timed from then, not
  // from when the radio's thread got round to it.
  double eventMs = 0;
  std::uint64_t EventStartMs() const { return static_cast<std::uint64_t>(eventMs); }

  Phase phase = Phase::kIdle;
  std::uint64_t phaseEndMs = 0;
  RadioMode modeAfterRestart = RadioMode::kApplication;
  bool silent = false;

  // Flash and DSP downloads.
  bool loaderDone = false;
  bool fileOpen = false;  // files_.back() is receiving
  bool dsp = false;
  int dspPage = 0;
  std::vector<std::uint8_t> first;  // first block of the pair, waiting for its second
  bool haveFirst = false;
  std::vector<std::uint8_t> second;
  BlockWait wait = BlockWait::kNone;
  int resendCount = 0;
  int pairIndex = 0;  // pairs finished in the current file
  int wrongSumsLeft = 0;
  int busyStartLeft = 0;
  int busyInfoLeft = 0;

  // Codeplug transfer.
  Codeplug cp = Codeplug::kNone;
  bool cpDownload = false;
  std::size_t uploadOffset = 0;
  std::vector<std::uint8_t> rxImage;
  std::size_t rxBlocks = 0;
  std::uint16_t blockSum = 0;
  int blocksSinceReport = 0;
};

VirtualRadio::VirtualRadio(RadioConfig config, platform::Clock& clock)
    : impl_(std::make_unique<Impl>()),
      config_(std::move(config)),
      clock_(clock),
      mode_(config_.startMode),
      bootVersion_(config_.bootVersion),
      format_(config_.formatBefore) {
  impl_->noise.seed(config_.faults.garbageSeed);
  impl_->wrongSumsLeft = config_.faults.wrongSums;
  impl_->busyStartLeft = config_.faults.busyReplies;
  impl_->busyInfoLeft = config_.faults.busyReplies;
  if (config_.codeplugFile.empty()) {
    codeplug_ = BuildBuiltinCodeplug(config_.formatBefore[0], config_.formatBefore[1]);
  } else {
    // The radio's memory holds 65,536 bytes; a larger file (or a device that
    // never ends) is refused, with the reason.
    std::string error;
    if (!platform::ReadFileBounded(config_.codeplugFile, kCodeplugMax, codeplug_, error))
      throw std::runtime_error("cannot use codeplug file " + error);
  }
}

VirtualRadio::~VirtualRadio() = default;

void VirtualRadio::SetCodeplug(std::vector<std::uint8_t> image) {
  if (image.size() > kCodeplugMax) image.resize(kCodeplugMax);
  codeplug_ = std::move(image);
}

const ReceivedFile* VirtualRadio::LastFile(ReceivedFile::Kind kind) const {
  for (auto it = files_.rbegin(); it != files_.rend(); ++it)
    if (it->kind == kind && it->complete) return &*it;
  return nullptr;
}

std::vector<const ReceivedFile*> VirtualRadio::DspPages() const {
  std::vector<const ReceivedFile*> pages;
  // Pages of the last DSP download: the run of page files at the end, back to
  // the one numbered 1.
  for (auto it = files_.rbegin(); it != files_.rend(); ++it) {
    if (it->kind != ReceivedFile::Kind::kDspPage) {
      if (!pages.empty()) break;
      continue;
    }
    pages.insert(pages.begin(), &*it);
    if (it->page == 1) break;
  }
  return pages;
}

// ---- line model -------------------------------------------------------------

namespace {
double ByteMs(int baud) {
  return 10000.0 / static_cast<double>(baud);
}
}  // namespace

double VirtualRadio::NowMs() {
  return static_cast<double>(clock_.NowUs()) / 1000.0;
}

void VirtualRadio::Receive(const std::uint8_t* data, std::size_t n) {
  Poll();  // a baud change already on the line sets the rate for these bytes
  const double now = NowMs();
  for (std::size_t i = 0; i < n; ++i) {
    double due = now;
    if (config_.pacing) {
      impl_->rxFreeMs = std::max(now, impl_->rxFreeMs) + ByteMs(baud_);
      due = impl_->rxFreeMs;
    }
    impl_->in.push_back({due, data[i]});
  }
  Poll();
}

std::size_t VirtualRadio::Transmit(std::uint8_t* out, std::size_t max) {
  Poll();
  const double now = NowMs();
  std::size_t n = 0;
  while (n < max && !impl_->out.empty() && impl_->out.front().dueMs <= now) {
    out[n++] = impl_->out.front().b;
    impl_->out.pop_front();
  }
  return n;
}

std::vector<std::uint8_t> VirtualRadio::TakeOutput() {
  std::vector<std::uint8_t> bytes(impl_->out.size() + 1024);
  bytes.resize(Transmit(bytes.data(), bytes.size()));
  return bytes;
}

std::int64_t VirtualRadio::MsUntilNextEvent() {
  const double next = NextEventInMs();
  return next < 0 ? -1 : static_cast<std::int64_t>(std::ceil(next));
}

std::int64_t VirtualRadio::UsUntilNextEvent() {
  const double next = NextEventInMs();
  return next < 0 ? -1 : static_cast<std::int64_t>(std::ceil(next * 1000.0));
}

double VirtualRadio::NextEventInMs() {
  Poll();
  const double now = NowMs();
  double next = -1;
  auto consider = [&](double at) {
    const double d = std::max(0.0, at - now);
    if (next < 0 || d < next) next = d;
  };
  if (!impl_->out.empty()) {
    // Bytes inside a frame may reach the PC in batches of up to a millisecond,
    // as through a receive FIFO; the byte that ends a frame, the one the PC
    // acts on, is handed over the moment it is due.
    double at = impl_->out.front().dueMs + kOutputBatchMs;
    for (const auto& byte : impl_->out) {
      if (byte.dueMs >= at) break;
      if (byte.b == link::kFrameEnd) {
        at = byte.dueMs;
        break;
      }
    }
    consider(at);
  }
  // Input only matters once a frame is complete: wake for the next end marker.
  for (const auto& byte : impl_->in)
    if (byte.b == link::kFrameEnd) {
      consider(byte.dueMs);
      break;
    }
  if (impl_->phase != Impl::Phase::kIdle) consider(static_cast<double>(impl_->phaseEndMs));
  return next;
}

bool VirtualRadio::IsBusy() {
  Poll();
  return impl_->phase == Impl::Phase::kErasing || impl_->phase == Impl::Phase::kRestarting;
}

void VirtualRadio::SetMode(RadioMode mode) {
  Impl& s = *impl_;
  mode_ = mode;
  baud_ = 19200;
  s.phase = Impl::Phase::kIdle;
  s.loaderDone = false;
  s.fileOpen = false;
  s.dsp = false;
  s.haveFirst = false;
  s.wait = Impl::BlockWait::kNone;
  s.cp = Impl::Codeplug::kNone;
}

// ---- time -------------------------------------------------------------------

void VirtualRadio::Poll() {
  Impl& s = *impl_;
  // Bytes and phase ends are taken in time order: a frame that completes
  // before an erase ends is ignored, one that completes after is answered.
  for (;;) {
    const double now = NowMs();
    const bool phaseDue = s.phase != Impl::Phase::kIdle && static_cast<double>(s.phaseEndMs) <= now;
    const bool byteDue = !s.in.empty() && s.in.front().dueMs <= now;
    if (phaseDue && (!byteDue || static_cast<double>(s.phaseEndMs) <= s.in.front().dueMs)) {
      s.eventMs = static_cast<double>(s.phaseEndMs);
      EndPhase();
      continue;
    }
    if (!byteDue) break;
    const std::uint8_t b = s.in.front().b;
    s.eventMs = s.in.front().dueMs;
    s.in.pop_front();
    switch (s.reader.Feed(b)) {
      case RadioFrameReader::Result::kFrame: {
        ++counters_.framesReceived;
        const std::uint8_t* p = s.reader.Payload();
        const std::size_t n = s.reader.PayloadLength();
        RadioFrameNote note;
        note.kind = RadioFrameNote::Kind::kIn;
        note.realUs = platform::RealMicros();
        note.lineMs = s.eventMs;
        note.group = n > 0 ? p[0] : 0;
        note.code = n > 1 ? p[1] : 0;
        note.length = static_cast<int>(n);
        log_.Add(note);
        const Impl::Phase phase = s.phase;
        const bool silent = s.silent;
        const int ignoredBefore = counters_.framesIgnored;
        HandleFrame(s.reader.Header2(), p, n);
        if (counters_.framesIgnored != ignoredBefore) {
          log_.SetLastVerdict(silent                              ? "ignored, silent"
                              : phase == Impl::Phase::kErasing    ? "ignored while erasing"
                              : phase == Impl::Phase::kRestarting ? "ignored while restarting"
                              : phase == Impl::Phase::kFinishing  ? "ignored while finishing"
                                                                  : "ignored");
        }
        break;
      }
      case RadioFrameReader::Result::kBadFrame: {
        ++counters_.badFrames;
        RadioFrameNote note;
        note.realUs = platform::RealMicros();
        note.lineMs = s.eventMs;
        note.what = "bad checksum";
        log_.Add(note);
        break;
      }
      case RadioFrameReader::Result::kNone:
        break;
    }
  }
}

void VirtualRadio::EndPhase() {
  Impl& s = *impl_;
  RadioFrameNote note;
  note.kind = RadioFrameNote::Kind::kPhaseEnd;
  note.realUs = platform::RealMicros();
  note.lineMs = static_cast<double>(s.phaseEndMs);
  note.what = s.phase == Impl::Phase::kErasing      ? "erase"
              : s.phase == Impl::Phase::kFinishing  ? "finish grace"
              : s.phase == Impl::Phase::kRestarting ? "restart"
                                                    : "idle";
  log_.Add(note);
  switch (s.phase) {
    case Impl::Phase::kErasing:
      s.phase = Impl::Phase::kIdle;
      break;
    case Impl::Phase::kFinishing:  // no baud change came: restart anyway
      StartRestart();
      break;
    case Impl::Phase::kRestarting:
      s.phase = Impl::Phase::kIdle;
      ++restarts_;
      baud_ = 19200;
      mode_ = s.modeAfterRestart;
      s.loaderDone = false;
      s.fileOpen = false;
      s.dsp = false;
      s.haveFirst = false;
      s.wait = Impl::BlockWait::kNone;
      s.cp = Impl::Codeplug::kNone;
      if (mode_ == RadioMode::kApplication && config_.announcesStart) Send({0x07, 0x25});
      break;
    case Impl::Phase::kIdle:
      break;
  }
}

void VirtualRadio::StartRestart() {
  Impl& s = *impl_;
  const ReceivedFile* last = files_.empty() ? nullptr : &files_.back();
  const bool boot = last && last->kind == ReceivedFile::Kind::kBoot;
  s.phase = Impl::Phase::kRestarting;
  if (boot) {
    // The new boot code is in; the technician puts the radio back into
    // bootload mode for the application.
    bootVersion_ = config_.bootVersionAfter;
    s.modeAfterRestart = RadioMode::kBootload;
    s.phaseEndMs = s.EventStartMs() + config_.bootReentryMs;
  } else {
    if (last && last->kind == ReceivedFile::Kind::kApplication) format_ = config_.formatAfter;
    s.modeAfterRestart = RadioMode::kApplication;
    s.phaseEndMs = s.EventStartMs() + config_.restartMs;
  }
}

// ---- sending ----------------------------------------------------------------

void VirtualRadio::Send(std::vector<std::uint8_t> payload, std::uint8_t header1) {
  Impl& s = *impl_;
  const RadioFaults& f = config_.faults;
  std::vector<std::uint8_t> wire;
  if (f.garbageMaxBytes > 0) {
    std::uniform_int_distribution<int> count(0, f.garbageMaxBytes);
    std::uniform_int_distribution<int> value(0, 255);
    for (int i = count(s.noise); i > 0; --i) {
      int b = value(s.noise);
      if (b == link::kFrameStart) b = 0x55;
      wire.push_back(static_cast<std::uint8_t>(b));
    }
  }
  ++counters_.framesSent;
  const bool corrupt = f.corruptReplyEvery > 0 && counters_.framesSent % f.corruptReplyEvery == 0;
  // A corrupted frame is built for another first header byte and then given
  // the right one: its checksum is off by one.
  auto frame = link::BuildFrame(payload.data(), static_cast<std::int32_t>(payload.size()),
                                static_cast<std::uint8_t>(header1 + (corrupt ? 1 : 0)), 0x7F);
  frame[1] = header1;
  wire.insert(wire.end(), frame.begin(), frame.end());
  for (std::uint8_t b : wire) {
    double due = 0;
    if (config_.pacing) {
      s.txFreeMs = std::max(s.eventMs, s.txFreeMs) + ByteMs(baud_);
      due = s.txFreeMs;
    }
    s.out.push_back({due, b});
  }
  RadioFrameNote note;
  note.kind = RadioFrameNote::Kind::kOut;
  note.realUs = platform::RealMicros();
  note.lineMs = config_.pacing ? s.txFreeMs : s.eventMs;
  note.group = payload.size() > 0 ? payload[0] : 0;
  note.code = payload.size() > 1 ? payload[1] : 0;
  note.length = static_cast<int>(payload.size());
  log_.Add(note);
}

// ---- frames -----------------------------------------------------------------

void VirtualRadio::HandleFrame(std::uint8_t header2, const std::uint8_t* p, std::size_t n) {
  Impl& s = *impl_;
  if (header2 == 0x4F) {
    // Addressed to the interface box, which answers whatever the radio does.
    if (config_.boxPresent && n >= 2 && p[0] == 0x09 && p[1] == 0x01) {
      ++counters_.probesAnswered;
      Send({0x09, 0x02, 0x01, 0x00, 0x00, 0x00}, 0x4F);
    }
    return;
  }
  if (n < 2 || s.silent || s.phase == Impl::Phase::kRestarting) {
    ++counters_.framesIgnored;
    return;
  }
  if (s.phase == Impl::Phase::kErasing) {
    // The loader runs from RAM while the flash erases: it still answers the
    // processor check, nothing else.
    if (p[0] == 0x02 && p[1] == 0x0B)
      HandleFlash(p, n);
    else
      ++counters_.framesIgnored;
    return;
  }
  if (s.phase == Impl::Phase::kFinishing) {
    if (p[0] == 0x09 && p[1] == 0x00 && n >= 3) {
      ++counters_.baudChanges;
      baud_ = BaudOfRateByte(p[2]);
      StartRestart();
    } else {
      ++counters_.framesIgnored;
    }
    return;
  }
  switch (p[0]) {
    case 0x04:
      HandleInfo(p, n);
      break;
    case 0x09:
      if (p[1] == 0x00 && n >= 3) {
        // No reply; the new rate holds from the next byte on.
        ++counters_.baudChanges;
        baud_ = BaudOfRateByte(p[2]);
      } else {
        ++counters_.framesIgnored;
      }
      break;
    case 0x02:
      if (mode_ == RadioMode::kBootload)
        HandleFlash(p, n);
      else
        ++counters_.framesIgnored;
      break;
    case 0x03:
      if (mode_ == RadioMode::kApplication)
        HandleCodeplug(p, n);
      else
        ++counters_.framesIgnored;
      break;
    default:
      ++counters_.framesIgnored;
  }
}

void VirtualRadio::HandleInfo(const std::uint8_t* p, std::size_t /*n*/) {
  Impl& s = *impl_;
  auto reply = [&](std::uint8_t code, const std::uint8_t* data, std::size_t len) {
    std::vector<std::uint8_t> payload{0x04, code};
    payload.insert(payload.end(), data, data + len);
    ++counters_.infoRequests;
    Send(std::move(payload));
  };
  const std::uint8_t kind = config_.family == RadioFamily::kPortable ? 1 : 0;
  switch (p[1]) {
    case 0x1C:
      reply(0x1D, format_.data(), 2);
      break;
    case 0x0B:
      reply(0x0C, config_.dspVersion.data(), 3);
      break;
    case 0x09:
      reply(0x0A, config_.controllerVersion.data(), 3);
      break;
    case 0x07:
      reply(0x08, config_.hardwareVersion.data(), 3);
      break;
    case 0x04:
      reply(0x05, config_.serialNumber.data(), 8);
      break;
    case 0x2D:
      if (!config_.answersBootInfo) {
        ++counters_.framesIgnored;
        break;
      }
      if (!config_.hasBootInfo || s.busyInfoLeft > 0) {
        if (config_.hasBootInfo) {
          --s.busyInfoLeft;
          ++counters_.busyReplies;
        }
        reply(0x20, nullptr, 0);
      } else {
        reply(0x2E, bootVersion_.data(), 2);
      }
      break;
    case 0x3E:
      if (config_.hasSem)
        reply(0x3F, config_.semVersion.data(), 2);
      else
        reply(0x20, nullptr, 0);
      break;
    case 0x67:
      if (config_.answersKindQuery)
        reply(0x68, &kind, 1);
      else
        ++counters_.framesIgnored;
      break;
    default:
      ++counters_.framesIgnored;
  }
}

// ---- flash and DSP downloads ------------------------------------------------

void VirtualRadio::StartFile(ReceivedFile::Kind kind) {
  Impl& s = *impl_;
  if (s.fileOpen && !files_.empty() && !files_.back().complete) files_.pop_back();
  ReceivedFile f;
  f.kind = kind;
  if (kind == ReceivedFile::Kind::kDspPage) f.page = s.dspPage;
  files_.push_back(std::move(f));
  s.fileOpen = true;
  s.haveFirst = false;
  s.wait = Impl::BlockWait::kNone;
  s.pairIndex = 0;
  s.resendCount = 0;
}

void VirtualRadio::CommitPair() {
  Impl& s = *impl_;
  auto& data = files_.back().data;
  data.insert(data.end(), s.first.begin(), s.first.end());
  data.insert(data.end(), s.second.begin(), s.second.end());
  s.haveFirst = false;
  s.wait = Impl::BlockWait::kNone;
  ++s.pairIndex;
}

void VirtualRadio::EndFile() {
  Impl& s = *impl_;
  ReceivedFile& f = files_.back();
  if (s.haveFirst) f.data.insert(f.data.end(), s.first.begin(), s.first.end());
  s.haveFirst = false;
  s.wait = Impl::BlockWait::kNone;
  f.complete = true;
  s.fileOpen = false;
}

bool VirtualRadio::TakeDataBlock() {
  Impl& s = *impl_;
  const RadioFaults& f = config_.faults;
  if (f.dropLineAfterBlocks >= 0 && dataBlocks_ >= f.dropLineAfterBlocks) {
    dropLine_ = true;
    s.silent = true;
  }
  if (f.silentAfterBlocks >= 0 && dataBlocks_ >= f.silentAfterBlocks) s.silent = true;
  if (s.silent) {
    ++counters_.framesIgnored;
    return false;
  }
  ++dataBlocks_;
  return true;
}

void VirtualRadio::HandleFlash(const std::uint8_t* p, std::size_t n) {
  Impl& s = *impl_;
  auto ackOrBusy = [&] {
    if (s.busyStartLeft > 0) {
      // Busy, but it gets ready: blocks that follow are taken all the same.
      --s.busyStartLeft;
      ++counters_.busyReplies;
      Send({0x02, 0x0A});
    } else {
      Send({0x02, 0x07});
    }
  };
  switch (p[1]) {
    case 0x01: {  // start of the loader or of the code
      s.dsp = false;
      ReceivedFile::Kind kind = ReceivedFile::Kind::kLoader;
      if (s.loaderDone)
        kind = config_.codeKind == CodeKind::kBoot ? ReceivedFile::Kind::kBoot
                                                   : ReceivedFile::Kind::kApplication;
      StartFile(kind);
      ackOrBusy();
      break;
    }
    case 0x00:  // start of a DSP download, after its loader
      s.dsp = true;
      s.dspPage = 1;
      StartFile(ReceivedFile::Kind::kDspPage);
      ackOrBusy();
      break;
    case 0x09: {  // a data block
      if (n != 2 + kBlockBytes || !s.fileOpen) {
        ++counters_.framesIgnored;
        return;
      }
      if (!TakeDataBlock()) return;
      ++counters_.blocksReceived;
      std::vector<std::uint8_t> block(p + 2, p + 2 + kBlockBytes);
      if (s.wait == Impl::BlockWait::kResend) {
        // The second block again after differing sums: only acknowledged.
        ++counters_.resends;
        s.second = std::move(block);
        Send({0x02, 0x07});
        if (++s.resendCount >= kMaxResends) CommitPair();
      } else if (s.wait == Impl::BlockWait::kVerdict) {
        ++counters_.framesIgnored;  // the PC owes the verdict on the sums
      } else if (!s.haveFirst) {
        s.first = std::move(block);
        s.haveFirst = true;
        Send({0x02, 0x07});
      } else {
        s.second = std::move(block);
        std::vector<std::uint8_t> pair(s.first);
        pair.insert(pair.end(), s.second.begin(), s.second.end());
        std::uint16_t sum = FlashPairSum(pair.data(), pair.size());
        if (s.wrongSumsLeft > 0) {
          --s.wrongSumsLeft;
          sum = static_cast<std::uint16_t>(sum + 1);
        }
        ++counters_.pairSumsSent;
        s.wait = Impl::BlockWait::kVerdict;
        Send({0x02, 0x02, static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum)});
      }
      break;
    }
    case 0x05:
    case 0x06: {  // the PC's verdict on the pair sum
      if (s.wait != Impl::BlockWait::kVerdict) {
        ++counters_.framesIgnored;
        return;
      }
      const bool agree = p[1] == 0x05;
      ++(agree ? counters_.sumsAgreed : counters_.sumsDiffered);
      const int pair = s.pairIndex;
      const bool code = files_.back().kind == ReceivedFile::Kind::kApplication ||
                        files_.back().kind == ReceivedFile::Kind::kBoot;
      if (!agree && !s.dsp) {
        s.wait = Impl::BlockWait::kResend;
        s.resendCount = 0;
        Send({0x02, 0x07});
        return;
      }
      CommitPair();
      if (code && config_.faults.verifyFailPair == pair) {
        ++counters_.verifyFailures;
        const std::uint32_t address = static_cast<std::uint32_t>(pair) * 2 * kBlockBytes;
        Send({0x02, 0x0A, static_cast<std::uint8_t>(address >> 24),
              static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
              static_cast<std::uint8_t>(address)});
      } else {
        Send({0x02, 0x07});
      }
      break;
    }
    case 0x08:  // end of a DSP page
      if (!s.dsp || !s.fileOpen) {
        ++counters_.framesIgnored;
        return;
      }
      EndFile();
      ++counters_.dspPagesWritten;
      ++s.dspPage;
      StartFile(ReceivedFile::Kind::kDspPage);
      Send({0x02, 0x03});
      break;
    case 0x04: {  // end of the download
      if (!s.fileOpen) {
        ++counters_.framesIgnored;
        return;
      }
      if (s.dsp) {
        // The page opened after the last 02 08 stays empty: forget it.
        if (files_.back().data.empty() && !s.haveFirst) {
          files_.pop_back();
          s.fileOpen = false;
        } else {
          EndFile();
        }
        s.dsp = false;
        s.phase = Impl::Phase::kFinishing;
        s.phaseEndMs = s.EventStartMs() + kFinishGraceMs;
        return;
      }
      EndFile();
      ReceivedFile& f = files_.back();
      if (f.kind == ReceivedFile::Kind::kLoader) {
        s.loaderDone = true;
        s.phase = Impl::Phase::kErasing;
        s.phaseEndMs = s.EventStartMs() + config_.eraseMs;
        return;
      }
      if (config_.codeKind == CodeKind::kAuto)
        f.kind = f.data.size() <= config_.bootCodeMaxBytes ? ReceivedFile::Kind::kBoot
                                                           : ReceivedFile::Kind::kApplication;
      else  // as it stands at the file's end (SetCodeKind may have come since its start)
        f.kind = config_.codeKind == CodeKind::kBoot ? ReceivedFile::Kind::kBoot
                                                     : ReceivedFile::Kind::kApplication;
      // The PC brings the line back to 19200 next; then the radio restarts.
      s.phase = Impl::Phase::kFinishing;
      s.phaseEndMs = s.EventStartMs() + kFinishGraceMs;
      break;
    }
    case 0x0B:  // processor check
      ++counters_.processorChecks;
      Send({0x02, 0x0C, 0x00, config_.processor});
      break;
    default:
      ++counters_.framesIgnored;
  }
}

// ---- codeplug transfer ------------------------------------------------------

void VirtualRadio::BeginCodeplugData() {
  Impl& s = *impl_;
  Send({0x03, config_.acceptCode});
  if (s.cpDownload) {
    s.cp = Impl::Codeplug::kDownloading;
    s.rxImage.assign(kCodeplugMax, 0);
    s.rxBlocks = 0;
    s.blockSum = 0;
    s.blocksSinceReport = 0;
    Send({0x03, 0x08});
  } else {
    s.cp = Impl::Codeplug::kUploading;
    s.uploadOffset = 0;
    SendUploadBlock();
  }
}

void VirtualRadio::SendUploadBlock() {
  Impl& s = *impl_;
  // Every request is answered with a block, also past the end of the codeplug
  // memory: a PC whose header scan never found the chain's end only learns
  // that its buffer is full from one block more than it can store.
  if (!TakeDataBlock()) return;
  std::vector<std::uint8_t> payload{0x03, 0x02};
  payload.resize(2 + kBlockBytes, 0);  // past the image: zero bytes
  for (std::size_t i = 0; i < kBlockBytes; ++i) {
    const std::size_t at = s.uploadOffset + i;
    if (at < codeplug_.size()) payload[2 + i] = codeplug_[at];
  }
  ++counters_.codeplugBlocksSent;
  Send(std::move(payload));
}

void VirtualRadio::HandleCodeplug(const std::uint8_t* p, std::size_t n) {
  Impl& s = *impl_;
  switch (p[1]) {
    case 0x07:  // start of an upload
    case 0x00:  // start of a download
      s.cpDownload = p[1] == 0x00;
      if (s.cpDownload) s.scrambler.Reset(config_.serialNumber);
      if (config_.password.empty()) {
        BeginCodeplugData();
      } else {
        s.cp = Impl::Codeplug::kPassword;
        ++counters_.passwordRequests;
        Send({0x03, 0x0B});
      }
      break;
    case 0x0C:  // a password
      if (s.cp != Impl::Codeplug::kPassword || n < 6) {
        ++counters_.framesIgnored;
        return;
      }
      if (std::equal(p + 2, p + 6, EncodePasswordBytes(config_.password).begin())) {
        BeginCodeplugData();
      } else {
        ++counters_.passwordsRefused;
        ++counters_.passwordRequests;
        Send({0x03, 0x0B});
      }
      break;
    case 0x08:  // upload: next block, please
      if (s.cp != Impl::Codeplug::kUploading) {
        ++counters_.framesIgnored;
        return;
      }
      s.uploadOffset += kBlockBytes;
      SendUploadBlock();
      break;
    case 0x02: {  // download: a scrambled block
      if (s.cp != Impl::Codeplug::kDownloading || n != 2 + kBlockBytes) {
        ++counters_.framesIgnored;
        return;
      }
      if (!TakeDataBlock()) return;
      std::uint8_t block[kBlockBytes];
      std::memcpy(block, p + 2, kBlockBytes);
      s.scrambler.UnscrambleBlock(block);
      if (s.rxBlocks * kBlockBytes < kCodeplugMax)
        std::memcpy(s.rxImage.data() + s.rxBlocks * kBlockBytes, block, kBlockBytes);
      ++s.rxBlocks;
      ++counters_.codeplugBlocksReceived;
      s.blockSum = static_cast<std::uint16_t>(s.blockSum + BigEndianWordSum(block, kBlockBytes));
      ++s.blocksSinceReport;
      if (config_.codeplugSumEvery > 0 && s.blocksSinceReport >= config_.codeplugSumEvery) {
        ++counters_.codeplugSumReports;
        s.cp = Impl::Codeplug::kSumVerdict;
        Send({0x03, 0x03, static_cast<std::uint8_t>(s.blockSum >> 8),
              static_cast<std::uint8_t>(s.blockSum)});
      } else {
        Send({0x03, 0x08});
      }
      break;
    }
    case 0x05:
    case 0x06:  // download: the PC's verdict on the block sum
      if (s.cp != Impl::Codeplug::kSumVerdict) {
        ++counters_.framesIgnored;
        return;
      }
      if (p[1] == 0x06) ++counters_.codeplugSumsDiffered;
      s.blockSum = 0;
      s.blocksSinceReport = 0;
      s.cp = Impl::Codeplug::kDownloading;
      Send({0x03, 0x08});
      break;
    case 0x04:  // end (or abandon)
      if (s.cp == Impl::Codeplug::kUploading) ++counters_.uploads;
      if (s.cp == Impl::Codeplug::kDownloading || s.cp == Impl::Codeplug::kSumVerdict) {
        ++counters_.downloads;
        const std::size_t received = std::min(s.rxBlocks * kBlockBytes, kCodeplugMax);
        std::size_t keep = DeclaredImageBytes(s.rxImage);
        if (keep == 0 || keep > received) keep = received;
        lastDownload_.assign(s.rxImage.begin(), s.rxImage.begin() + static_cast<long>(keep));
        codeplug_ = lastDownload_;
        const int altered = config_.faults.alterStoredWord;
        if (altered >= 0 && 2 * static_cast<std::size_t>(altered) + 1 < codeplug_.size()) {
          codeplug_[2 * static_cast<std::size_t>(altered)] ^= 0xFF;
          codeplug_[2 * static_cast<std::size_t>(altered) + 1] ^= 0xFF;
        }
      }
      s.cp = Impl::Codeplug::kNone;
      break;
    default:
      ++counters_.framesIgnored;
  }
}

}  // namespace bcu::sim
