// The operating-system dispatcher over the system's serial port.
//
// Two threads per open port:
// - the reader waits on the port and a wake-up, reads every
//   available byte into the receive ring (as much as fits), refreshes the
//   modem status shadow every 50 ms where the device has modem lines, and
//   notices a device that went away (hang-up, EIO, or a readable descriptor
//   that yields 0 bytes; the line is set up with VMIN 1, so that an empty
//   live port answers EAGAIN, never 0);
// - the output thread writes the unwritten part of the output ring with
//   writes that never wait for room, waiting for the port to take output in
//   steps of at most 20 ms, and frees ring space only as the system's output
//   queue shows the bytes gone.
//
// RS-485 mode on a driver that does not switch RTS itself (typical on-board
// UARTs refuse TIOCSRS485): the output thread raises RTS before the first
// byte and drops it the moment the last one has left the transmitter, so
// that a radio answering at once does not meet our own driver on the bus. It
// watches the transmitter-empty bit where the driver has one (every 10 us
// from shortly before the frame's line time is over, coarser before), else it waits in the driver's
// drain right after the last write. In that mode the thread also runs one step above its normal
// priority; where the system refuses (a normal user may not lower a nice
// value) the refusal is recorded for the caller to report.
//
// Neither thread spins: each blocks on the port, a wake-up, a condition
// variable, or sleeps between looks at the transmitter.
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "link/ScpDispatcher.h"
#include "link/ScpException.h"
#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace bcu::link {

namespace {

constexpr int kModemPollMs = 50;  // modem status refresh while idle
constexpr int kWriteWaitMs = 20;  // longest wait for the device to take output
constexpr int kDrainStepMs = 5;   // longest wait between two looks at the output queue
constexpr std::size_t kReadChunk = 4096;
// While RTS waits to drop: looks at the transmitter-empty bit this far apart
// until shortly before the frame's line time is over ...
constexpr std::uint32_t kReleaseCoarseStepUs = 1000;
// ... (that is, this long plus two characters before) ...
constexpr std::uint32_t kReleaseFineLeadUs = 200;
// ... and this far apart from then on (with the thread's sleeps made fine to
// match, a sleep this short ends on time).
constexpr std::uint32_t kReleaseFineStepUs = 10;
// RTS drops at the latest this long after the line time of what was sent.
constexpr std::uint32_t kReleaseSlackMs = 100;
// How long Close keeps discarding output for an output thread that is still
// in the driver's drain, and how often it looks.
constexpr std::uint32_t kCloseWaitMs = 2000;
constexpr std::uint32_t kCloseStepMs = 10;
// How long a mode change waits for the output thread to follow it.
constexpr std::uint32_t kModeWaitMs = 1000;

std::string SystemText(int err) {
  return std::system_category().message(err);
}

}  // namespace

TScpWin32Dispatcher::TScpWin32Dispatcher(std::size_t outSize, platform::SerialDriver& driver)
    : TScpBaseDispatcher(outSize), driver_(driver) {}

TScpWin32Dispatcher::~TScpWin32Dispatcher() {
  Close();
}

void TScpWin32Dispatcher::Open(const std::string& path, const TScpLineSettings& line, bool rs485) {
  int err = 0;
  std::string why;
  // The locks (flock and the UUCP lock file) come before any terminal call:
  // a port another program holds is not disturbed.
  const platform::SerialHandle fd =
      platform::SerialOpenExclusive(path, err, &lock_, driver_.LockFolder(), &why);
  if (fd < 0) {
    switch (err) {
      case ENOENT:
      case ENOTDIR:
      case ENXIO:
      case ENODEV:
        throw EBadId("Serial port " + path + " does not exist");
      case ENOTTY:
      case EINVAL:
        throw EBadId(path + " is not a serial port");
      case EACCES:
      case EPERM:
      case EBUSY:
        throw EAlreadyOpen("Serial port " + path + " is in use or not accessible: " + why);
      default:
        throw EScpIOError(err, "Cannot open serial port " + path + ": " + why);
    }
  }
  fd_ = fd;
  owned_ = true;
  stop_.store(false);
  lost_.store(false);
  outputEnded_ = false;
  try {
    if (const int e = ScpApplyLineSettings(fd_, line, true)) {
      throw EScpIOError(e, "Cannot set the line settings of " + path + ": " + SystemText(e));
    }
    baud_.store(line.baud);
    bitsPerChar_.store(ScpBitsPerChar(line));
    // What the driver can do is asked once here, never per frame.
    caps_ = platform::SerialLearnCapabilities(driver_, fd_);

    // DTR and RTS up, where the device has modem lines (a pseudo-terminal
    // has none: that is no failure).
    int status = 0;
    modemLines_ = driver_.GetModemLines(fd_, status);
    if (modemLines_) {
      driver_.SetModemLines(fd_, platform::kSerialLineDtr | platform::kSerialLineRts, true);
      cts_.store((status & platform::kSerialLineCts) != 0);
    }

    // Short replies are not held back for the adapter's latency timer.
    bool before = false;
    restoreLowLatency_ = driver_.SetLowLatency(fd_, true, before) && !before;

    SetRS485(rs485);  // drops RTS again in RS-485 mode

    int e = 0;
    if (!readerWake_.Open(e)) throw EScpIOError(e, "Cannot create an event: " + SystemText(e));
    if (!outputWake_.Open(e)) throw EScpIOError(e, "Cannot create an event: " + SystemText(e));

    try {
      reader_ = std::thread([this] { ReaderLoop(); });
      output_ = std::thread([this] { OutputLoop(); });
    } catch (const std::system_error& e) {
      throw EScpIOError(e.code().value(),
                        std::string("Cannot start the port threads: ") + e.what());
    }
    WaitModeFollowed();
  } catch (...) {
    Close();
    throw;
  }
}

void TScpWin32Dispatcher::Close() {
  stop_.store(true);
  readerWake_.Wake();
  outputWake_.Wake();
  {
    std::lock_guard lock(rxMutex_);
    rxSpaceCv_.notify_all();
  }
  {
    std::lock_guard lock(outMutex_);
    outWorkCv_.notify_all();
  }
  if (reader_.joinable()) reader_.join();
  if (output_.joinable()) {
    // The output thread may be inside the driver's drain, waiting for bytes
    // a hung adapter never sends: discarding the output ends that wait.
    // Closing drops unsent output anyway.
    const std::uint64_t end = platform::RealMicros() + kCloseWaitMs * 1000ull;
    std::unique_lock lock(outMutex_);
    while (!outputEnded_ && platform::RealMicros() < end) {
      lock.unlock();
      if (owned_ && fd_ >= 0) DiscardQueuedOutput();
      outputWake_.Wake();
      lock.lock();
      outWorkCv_.notify_all();
      outDoneCv_.wait_for(lock, std::chrono::milliseconds(kCloseStepMs),
                          [this] { return outputEnded_; });
    }
    lock.unlock();
    output_.join();
  }
  CloseDescriptors();
}

void TScpWin32Dispatcher::CloseDescriptors() {
  if (fd_ >= 0) {
    if (restoreLowLatency_) {
      bool ignored = false;
      driver_.SetLowLatency(fd_, false, ignored);
      restoreLowLatency_ = false;
    }
    if (restoreRs485_) {
      driver_.SetRs485(fd_, savedRs485_);
      restoreRs485_ = false;
    }
    if (owned_) {
      // Output not sent by now is dropped (as the ring's is), so close()
      // does not wait for it.
      DiscardQueuedOutput();
      platform::SerialLeaveExclusive(fd_);
      owned_ = false;
    }
    // The lock file goes before the device is closed: a closed device's
    // name can be handed to another port at once.
    lock_.Release();
    driver_.Close(fd_);  // releases the advisory lock
    fd_ = platform::kNoSerialHandle;
  }
  readerWake_.Close();
  outputWake_.Close();
  modemLines_ = false;
  kernelRs485_ = false;
  rtsByOutput_.store(false);
  priority_.store(TScpOutputPriority::Normal);
  priorityError_.store(0);
}

int TScpWin32Dispatcher::SetLine(const TScpLineSettings& line) {
  if (fd_ < 0) return EBADF;
  if (const int err = ScpApplyLineSettings(fd_, line, false)) return err;
  baud_.store(line.baud);
  bitsPerChar_.store(ScpBitsPerChar(line));
  return 0;
}

void TScpWin32Dispatcher::SetRS485(bool on) {
  if (fd_ < 0) return;
  if (on) {
    if (!kernelRs485_ && caps_.kernelRs485) {
      kernelRs485_ = platform::SerialEnableKernelRs485(driver_, fd_, savedRs485_);
      restoreRs485_ = kernelRs485_;
    }
    rtsByOutput_.store(!kernelRs485_ && modemLines_);
    if (!kernelRs485_) SetRts(false);
  } else {
    if (kernelRs485_) {
      driver_.SetRs485(fd_, savedRs485_);
      kernelRs485_ = false;
      restoreRs485_ = false;
    }
    rtsByOutput_.store(false);
    SetRts(true);
  }
  {
    std::lock_guard lock(outMutex_);
    ++modeWanted_;
    outWorkCv_.notify_all();
  }
  if (output_.joinable()) WaitModeFollowed();
}

void TScpWin32Dispatcher::WaitModeFollowed() {
  std::unique_lock lock(outMutex_);
  outDoneCv_.wait_for(lock, std::chrono::milliseconds(kModeWaitMs),
                      [this] { return modeFollowed_ == modeWanted_ || outputEnded_; });
}

void TScpWin32Dispatcher::SetRts(bool on) {
  if (!modemLines_ || fd_ < 0) return;
  driver_.SetModemLines(fd_, platform::kSerialLineRts, on);
}

bool TScpWin32Dispatcher::DrainSystemOutput(std::uint32_t limitMs) {
  if (fd_ < 0 || lost_.load()) return false;
  return platform::SerialDrainBounded(driver_, fd_, limitMs, &caps_);
}

bool TScpWin32Dispatcher::Cts() {
  if (modemLines_ && fd_ >= 0 && !lost_.load()) {
    int status = 0;
    if (driver_.GetModemLines(fd_, status)) cts_.store((status & platform::kSerialLineCts) != 0);
  }
  return cts_.load();
}

void TScpWin32Dispatcher::PurgeSystemInput() {
  if (fd_ >= 0) driver_.Discard(fd_, true, false);
}

void TScpWin32Dispatcher::PurgeSystemOutput() {
  if (fd_ >= 0) DiscardQueuedOutput();
}

void TScpWin32Dispatcher::DiscardQueuedOutput() {
  // Only what the driver reports as not sent yet. A pseudo-terminal reports
  // nothing queued once its peer may read the bytes, and its flush would
  // take back bytes the peer has not read yet: bytes that, on a real line,
  // would already be on the wire.
  if (driver_.OutputQueued(fd_) != 0) driver_.Discard(fd_, false, true);
}

void TScpWin32Dispatcher::ReaderLoop() {
  std::array<std::uint8_t, kReadChunk> chunk{};
  std::uint64_t modemReadUs = 0;
  while (!stop_.load()) {
    if (lost_.load()) {
      // Nothing more will come; sleep until the port is closed.
      readerWake_.WaitForever();
      continue;
    }
    {
      std::unique_lock lock(rxMutex_);
      if (rxRing_.Full()) {
        // The bytes wait in the system's input queue until GetChar makes room.
        rxSpaceCv_.wait_for(lock, std::chrono::milliseconds(kModemPollMs),
                            [this] { return stop_.load() || !rxRing_.Full(); });
        continue;
      }
    }
    const platform::SerialWait ready = platform::SerialWaitReadable(
        fd_, modemLines_ ? kModemPollMs : platform::kSerialWaitForever, &readerWake_);
    if (stop_.load()) break;

    if (ready == platform::SerialWait::Input) {
      std::unique_lock lock(rxMutex_);
      const std::size_t room = std::min(rxRing_.Free(), chunk.size());
      const std::ptrdiff_t n = platform::SerialRead(fd_, chunk.data(), room);
      const int err = errno;
      if (n > 0) {
        rxRing_.PutSome(chunk.data(), static_cast<std::size_t>(n));
        rxCv_.notify_all();
      } else if (n == 0 || (err != EAGAIN && err != EINTR)) {
        // With VMIN 1 a live port never reads 0 bytes (a flush between the
        // poll and the read gives EAGAIN): 0 or an error means it is gone.
        lock.unlock();
        MarkLost();
        continue;
      }
    } else if (ready == platform::SerialWait::Gone) {
      MarkLost();
      continue;
    }

    // The modem status every 50 ms, not after every read.
    const std::uint64_t nowUs = platform::RealMicros();
    if (modemLines_ && nowUs - modemReadUs >= kModemPollMs * 1000ull) {
      modemReadUs = nowUs;
      int status = 0;
      errno = 0;
      if (driver_.GetModemLines(fd_, status)) {
        cts_.store((status & platform::kSerialLineCts) != 0);
      } else if (errno == EIO) {
        MarkLost();
      }
    }
  }
}

void TScpWin32Dispatcher::WaitWritable(int ms) {
  bool gone = false;
  platform::SerialWaitWritable(fd_, static_cast<std::uint32_t>(ms), gone, &outputWake_);
}

void TScpWin32Dispatcher::ReleaseBus(std::size_t bytes, std::uint64_t startedUs) {
  const auto baud = static_cast<std::uint64_t>(std::max(baud_.load(), 1));
  const auto charUs = static_cast<std::uint64_t>(bitsPerChar_.load()) * 1000000u / baud;
  const std::uint64_t lineUs = static_cast<std::uint64_t>(bytes) * charUs;
  // The transmitter cannot be empty before the frame's line time is over:
  // until shortly before that, coarse looks; then fine ones.
  const std::uint64_t fineFrom =
      startedUs + lineUs - std::min<std::uint64_t>(lineUs, kReleaseFineLeadUs + 2 * charUs);
  const std::uint64_t end = startedUs + 2 * lineUs + kReleaseSlackMs * 1000ull;
  while (!stop_.load()) {
    const platform::SerialTransmitter t =
        caps_.transmitterBit ? driver_.Transmitter(fd_) : platform::SerialTransmitter::Unknown;
    if (t == platform::SerialTransmitter::Empty) break;
    if (t == platform::SerialTransmitter::Unknown) {
      driver_.WaitSent(fd_);  // Close discards the output to end it
      break;
    }
    // A transmitter that never empties must not hold the bus forever.
    const std::uint64_t now = platform::RealMicros();
    if (now >= end) break;
    std::uint32_t step = kReleaseFineStepUs;
    if (now + kReleaseCoarseStepUs < fineFrom)
      step = kReleaseCoarseStepUs;
    else if (now < fineFrom)
      step = static_cast<std::uint32_t>(fineFrom - now);
    platform::SerialSleepMicros(step);
  }
  if (rtsByOutput_.load()) SetRts(false);  // unless RS-485 mode was left meanwhile
}

void TScpWin32Dispatcher::OutputLoop() {
  int previousNice = 0;
  bool raised = false;
  // The priority follows the mode: raised only while this thread switches
  // RTS, where a late release collides with the radio's answer.
  const auto followMode = [&] {
    const bool want = rtsByOutput_.load();
    // Short sleeps while watching the transmitter end on time (the default
    // timer slack of 50 us would add to every release of the bus).
    platform::SerialFineSleeps(want);
    if (want && !raised) {
      const int err = driver_.RaiseThreadPriority(previousNice);
      raised = err == 0;
      priorityError_.store(err);
      priority_.store(raised ? TScpOutputPriority::Raised : TScpOutputPriority::Refused);
    } else if (!want) {
      if (raised) driver_.RestoreThreadPriority(previousNice);
      raised = false;
      priorityError_.store(0);
      priority_.store(TScpOutputPriority::Normal);
    }
  };

  std::unique_lock lock(outMutex_);
  bool rtsUp = false;
  std::uint64_t rtsUpUs = 0;  // when the frame's first byte was handed over
  const auto lostHere = [&] {
    NotifyLostOutputLocked();
    lock.unlock();
    NotifyLostReceive();
    lock.lock();
  };
  while (!stop_.load()) {
    if (modeFollowed_ != modeWanted_) {
      followMode();
      modeFollowed_ = modeWanted_;
      outDoneCv_.notify_all();
    }
    if (lost_.load()) {
      outWorkCv_.wait(lock, [this] { return stop_.load() || modeFollowed_ != modeWanted_; });
      continue;
    }

    // Hand the unwritten bytes to the system, as far as it takes them.
    bool deviceFull = false;
    if (outRing_.Used() > handed_) {
      const std::uint8_t* data = nullptr;
      const std::size_t len = outRing_.Peek(handed_, data);
      if (rtsByOutput_.load() && !rtsUp) {
        SetRts(true);
        rtsUp = true;
        rtsUpUs = platform::RealMicros();
      }
      inWrite_ = true;
      lock.unlock();
      const std::ptrdiff_t n = driver_.Write(fd_, data, len);
      const int err = errno;
      lock.lock();
      inWrite_ = false;
      outDoneCv_.notify_all();
      if (n > 0) {
        handed_ += static_cast<std::size_t>(n);
      } else if (n == 0 || err == EAGAIN) {
        deviceFull = true;
      } else if (err != EINTR) {
        lostHere();
        continue;
      }
    }

    if (deviceFull) {
      lock.unlock();
      WaitWritable(kWriteWaitMs);
      lock.lock();
      continue;
    }
    if (outRing_.Used() > handed_) continue;  // more to write

    if (rtsUp) {
      // Everything is with the driver: release the bus the moment the last
      // bit has left, then the bytes count as sent.
      const std::size_t sent = handed_;
      lock.unlock();
      ReleaseBus(sent, rtsUpUs);
      lock.lock();
      rtsUp = false;
      if (sent > 0 && handed_ >= sent) {  // (a flush meanwhile emptied the ring)
        outRing_.Consume(sent);
        handed_ -= sent;
        outDoneCv_.notify_all();
      }
      continue;
    }

    // The bytes the system has sent leave the ring.
    std::size_t queued = 0;
    if (handed_ > 0) {
      errno = 0;
      int inQueue = driver_.OutputQueued(fd_);
      if (inQueue < 0) {
        if (errno == EIO) {
          lostHere();
          continue;
        }
        inQueue = 0;  // no output queue to ask about: written means sent
      }
      queued = std::min(handed_, static_cast<std::size_t>(inQueue));
      const std::size_t gone = handed_ - queued;
      if (gone > 0) {
        outRing_.Consume(gone);
        handed_ -= gone;
        outDoneCv_.notify_all();
      }
    }

    if (handed_ > 0) {
      // Everything is written; wait about as long as the queue takes to go
      // out, in short steps so new output and flushes are seen at once.
      const std::uint64_t bits = static_cast<std::uint64_t>(queued) * bitsPerChar_.load() * 1000u;
      const auto baud = static_cast<std::uint64_t>(std::max(baud_.load(), 1));
      const auto ms = std::clamp<std::uint64_t>(bits / baud, 1, kDrainStepMs);
      outWorkCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] {
        return stop_.load() || lost_.load() || handed_ == 0 || outRing_.Used() > handed_ ||
               modeFollowed_ != modeWanted_;
      });
      continue;
    }

    outWorkCv_.wait(lock, [this] {
      return stop_.load() || lost_.load() || !outRing_.Empty() || modeFollowed_ != modeWanted_;
    });
  }
  if (rtsUp && rtsByOutput_.load()) SetRts(false);
  if (raised) driver_.RestoreThreadPriority(previousNice);
  outputEnded_ = true;
  outDoneCv_.notify_all();
}

}  // namespace bcu::link
