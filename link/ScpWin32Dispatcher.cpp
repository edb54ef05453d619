// The operating-system dispatcher over a termios device.
//
// Two threads per open port:
// - the reader polls the descriptor and a wake-up eventfd, reads every
//   available byte into the receive ring (as much as fits), refreshes the
//   modem status shadow every 50 ms where the device has modem lines, and
//   notices a device that went away (hang-up, EIO, or a readable descriptor
//   that yields 0 bytes);
// - the output thread writes the unwritten part of the output ring with
//   non-blocking write() calls, waiting for POLLOUT in steps of at most 20 ms,
//   and frees ring space only as the system's output queue (TIOCOUTQ) shows
//   the bytes gone. In RS-485 mode without driver support it raises RTS before
//   the first byte and drops it once the last byte has left. In RS-485 mode
//   it also runs one step above its normal priority where the system lets it
//   (lowering a nice value needs privileges; without them it stays).
// Neither thread spins: each blocks on the descriptor, an eventfd or a
// condition variable.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "link/ScpDispatcher.h"
#include "link/ScpException.h"

namespace bcu::link {

namespace {

constexpr int kModemPollMs = 50;  // modem status refresh while idle
constexpr int kWriteWaitMs = 20;  // longest wait for the device to take output
constexpr int kDrainStepMs = 5;   // longest wait between two looks at the output queue
constexpr std::size_t kReadChunk = 4096;

std::string SystemText(int err) {
  return std::system_category().message(err);
}

void DrainEventFd(int fd) {
  std::uint64_t count = 0;
  while (::read(fd, &count, sizeof count) > 0) {
  }
}

}  // namespace

TScpWin32Dispatcher::TScpWin32Dispatcher(std::size_t outSize) : TScpBaseDispatcher(outSize) {}

TScpWin32Dispatcher::~TScpWin32Dispatcher() {
  Close();
}

void TScpWin32Dispatcher::Open(const std::string& path, const TScpLineSettings& line, bool rs485) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    switch (err) {
      case ENOENT:
      case ENOTDIR:
      case ENXIO:
      case ENODEV:
        throw EBadId("Serial port " + path + " does not exist");
      case EACCES:
      case EPERM:
      case EBUSY:
        throw EAlreadyOpen("Serial port " + path +
                           " is in use or not accessible: " + SystemText(err));
      default:
        throw EScpIOError(err, "Cannot open serial port " + path + ": " + SystemText(err));
    }
  }
  fd_ = fd;
  stop_.store(false);
  lost_.store(false);
  try {
    // The advisory lock comes first: TIOCEXCL does not keep out a process
    // running as root, the lock does (for programs that honour it).
    while (::flock(fd_, LOCK_EX | LOCK_NB) < 0) {
      if (errno == EINTR) continue;
      if (errno == EWOULDBLOCK) throw EAlreadyOpen("Serial port " + path + " is in use");
      break;  // a file system without locks: go on without one
    }
    owned_ = true;
    termios probe{};
    if (::tcgetattr(fd_, &probe) < 0) {
      const int err = errno;
      if (err == ENOTTY || err == EINVAL) throw EBadId(path + " is not a serial port");
      throw EScpIOError(err, "Cannot read the settings of " + path + ": " + SystemText(err));
    }
    ::ioctl(fd_, TIOCEXCL);  // refused by some drivers; the lock above is what counts

    if (const int err = ScpApplyLineSettings(fd_, line, true)) {
      throw EScpIOError(err, "Cannot set the line settings of " + path + ": " + SystemText(err));
    }
    baud_.store(line.baud);
    bitsPerChar_.store(ScpBitsPerChar(line));

    // DTR and RTS up, where the device has modem lines (a pseudo-terminal
    // has none: that is no failure).
    int status = 0;
    modemLines_ = ::ioctl(fd_, TIOCMGET, &status) == 0;
    if (modemLines_) {
      int lines = TIOCM_DTR | TIOCM_RTS;
      ::ioctl(fd_, TIOCMBIS, &lines);
      cts_.store((status & TIOCM_CTS) != 0);
    }

    // Short replies are not held back for the adapter's latency timer.
    serial_struct serial{};
    if (::ioctl(fd_, TIOCGSERIAL, &serial) == 0 && (serial.flags & ASYNC_LOW_LATENCY) == 0) {
      serial.flags |= ASYNC_LOW_LATENCY;
      restoreLowLatency_ = ::ioctl(fd_, TIOCSSERIAL, &serial) == 0;
    }

    SetRS485(rs485);

    readerWake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (readerWake_ < 0) throw EScpIOError(errno, "Cannot create an event: " + SystemText(errno));
    outputWake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (outputWake_ < 0) throw EScpIOError(errno, "Cannot create an event: " + SystemText(errno));

    try {
      reader_ = std::thread([this] { ReaderLoop(); });
      output_ = std::thread([this] { OutputLoop(); });
    } catch (const std::system_error& e) {
      throw EScpIOError(e.code().value(),
                        std::string("Cannot start the port threads: ") + e.what());
    }
  } catch (...) {
    Close();
    throw;
  }
}

void TScpWin32Dispatcher::Close() {
  stop_.store(true);
  if (readerWake_ >= 0) Wake(readerWake_);
  if (outputWake_ >= 0) Wake(outputWake_);
  {
    std::lock_guard lock(rxMutex_);
    rxSpaceCv_.notify_all();
  }
  {
    std::lock_guard lock(outMutex_);
    outWorkCv_.notify_all();
  }
  if (reader_.joinable()) reader_.join();
  if (output_.joinable()) output_.join();
  CloseDescriptors();
}

void TScpWin32Dispatcher::CloseDescriptors() {
  if (fd_ >= 0) {
    if (restoreLowLatency_) {
      serial_struct serial{};
      if (::ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
        serial.flags &= ~ASYNC_LOW_LATENCY;
        ::ioctl(fd_, TIOCSSERIAL, &serial);
      }
      restoreLowLatency_ = false;
    }
    if (restoreRs485_) {
      ::ioctl(fd_, TIOCSRS485, &savedRs485_);
      restoreRs485_ = false;
    }
    if (owned_) {
      // Output not sent by now is dropped (as the ring's is), so close()
      // does not wait for it. A port that another program holds is left as
      // it is.
      ::tcflush(fd_, TCOFLUSH);
      ::ioctl(fd_, TIOCNXCL);
      owned_ = false;
    }
    ::close(fd_);  // releases the advisory lock
    fd_ = -1;
  }
  if (readerWake_ >= 0) ::close(readerWake_);
  if (outputWake_ >= 0) ::close(outputWake_);
  readerWake_ = -1;
  outputWake_ = -1;
  modemLines_ = false;
  kernelRs485_ = false;
  rtsByOutput_.store(false);
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
  rs485On_.store(on);  // the output thread follows it when it next runs
  if (on) {
    if (!kernelRs485_) {
      serial_rs485 conf{};
      if (::ioctl(fd_, TIOCGRS485, &conf) == 0) {
        savedRs485_ = conf;
        conf.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        conf.flags &= ~static_cast<decltype(conf.flags)>(SER_RS485_RTS_AFTER_SEND);
        if (::ioctl(fd_, TIOCSRS485, &conf) == 0) {
          kernelRs485_ = true;
          restoreRs485_ = true;
        }
      }
    }
    rtsByOutput_.store(!kernelRs485_ && modemLines_);
    if (!kernelRs485_) SetRts(false);
  } else {
    if (kernelRs485_) {
      ::ioctl(fd_, TIOCSRS485, &savedRs485_);
      kernelRs485_ = false;
      restoreRs485_ = false;
    }
    rtsByOutput_.store(false);
    SetRts(true);
  }
}

void TScpWin32Dispatcher::SetRts(bool on) {
  if (!modemLines_ || fd_ < 0) return;
  int lines = TIOCM_RTS;
  ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &lines);
}

void TScpWin32Dispatcher::DrainSystemOutput() {
  if (fd_ >= 0 && !lost_.load()) ::tcdrain(fd_);
}

bool TScpWin32Dispatcher::Cts() {
  if (modemLines_ && fd_ >= 0 && !lost_.load()) {
    int status = 0;
    if (::ioctl(fd_, TIOCMGET, &status) == 0) cts_.store((status & TIOCM_CTS) != 0);
  }
  return cts_.load();
}

void TScpWin32Dispatcher::PurgeSystemInput() {
  if (fd_ >= 0) ::tcflush(fd_, TCIFLUSH);
}

void TScpWin32Dispatcher::PurgeSystemOutput() {
  if (fd_ >= 0) ::tcflush(fd_, TCOFLUSH);
}

void TScpWin32Dispatcher::Wake(int eventFd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto n = ::write(eventFd, &one, sizeof one);
}

void TScpWin32Dispatcher::ReaderLoop() {
  std::array<std::uint8_t, kReadChunk> chunk{};
  while (!stop_.load()) {
    if (lost_.load()) {
      // Nothing more will come; sleep until the port is closed.
      pollfd wake{readerWake_, POLLIN, 0};
      ::poll(&wake, 1, -1);
      DrainEventFd(readerWake_);
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
    pollfd fds[2] = {{fd_, POLLIN, 0}, {readerWake_, POLLIN, 0}};
    const int ready = ::poll(fds, 2, modemLines_ ? kModemPollMs : -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      MarkLost();
      continue;
    }
    if (fds[1].revents != 0) DrainEventFd(readerWake_);
    if (stop_.load()) break;

    if ((fds[0].revents & POLLIN) != 0) {
      std::unique_lock lock(rxMutex_);
      const std::size_t room = std::min(rxRing_.Free(), chunk.size());
      const ssize_t n = ::read(fd_, chunk.data(), room);
      const int err = errno;
      if (n > 0) {
        rxRing_.PutSome(chunk.data(), static_cast<std::size_t>(n));
        rxCv_.notify_all();
      } else if (n == 0 || (err != EAGAIN && err != EINTR)) {
        lock.unlock();
        MarkLost();  // readable but empty, or a read error: the device is gone
        continue;
      }
    } else if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      MarkLost();
      continue;
    }

    if (modemLines_) {
      int status = 0;
      if (::ioctl(fd_, TIOCMGET, &status) == 0) {
        cts_.store((status & TIOCM_CTS) != 0);
      } else if (errno == EIO) {
        MarkLost();
      }
    }
  }
}

void TScpWin32Dispatcher::WaitWritable(int ms) {
  pollfd fds[2] = {{fd_, POLLOUT, 0}, {outputWake_, POLLIN, 0}};
  if (::poll(fds, 2, ms) > 0 && fds[1].revents != 0) DrainEventFd(outputWake_);
}

void TScpWin32Dispatcher::OutputLoop() {
  const pid_t tid = ::gettid();
  errno = 0;
  const int baseNice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  const bool niceKnown = errno == 0;
  bool priorityRaised = false;
  const auto followMode = [&] {
    const bool want = niceKnown && rs485On_.load();
    if (want == priorityRaised) return;
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), want ? baseNice - 1 : baseNice);
    priorityRaised = want;
  };

  std::unique_lock lock(outMutex_);
  bool rtsUp = false;
  const auto lostHere = [&] {
    NotifyLostOutputLocked();
    lock.unlock();
    NotifyLostReceive();
    lock.lock();
  };
  while (!stop_.load()) {
    if (lost_.load()) {
      outWorkCv_.wait(lock, [this] { return stop_.load(); });
      continue;
    }
    followMode();

    // Hand the unwritten bytes to the system, as far as it takes them.
    bool deviceFull = false;
    if (outRing_.Used() > handed_) {
      const std::uint8_t* data = nullptr;
      const std::size_t len = outRing_.Peek(handed_, data);
      if (rtsByOutput_.load() && !rtsUp) {
        SetRts(true);
        rtsUp = true;
      }
      inWrite_ = true;
      lock.unlock();
      const ssize_t n = ::write(fd_, data, len);
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

    // The bytes the system has sent leave the ring.
    std::size_t queued = 0;
    if (handed_ > 0) {
      int inQueue = 0;
      if (::ioctl(fd_, TIOCOUTQ, &inQueue) < 0) {
        if (errno == EIO) {
          lostHere();
          continue;
        }
        inQueue = 0;  // no output queue to ask about: written means sent
      }
      queued = std::min(handed_, static_cast<std::size_t>(std::max(inQueue, 0)));
      const std::size_t gone = handed_ - queued;
      if (gone > 0) {
        outRing_.Consume(gone);
        handed_ -= gone;
        outDoneCv_.notify_all();
      }
    }

    if (deviceFull) {
      lock.unlock();
      WaitWritable(kWriteWaitMs);
      lock.lock();
      continue;
    }
    if (outRing_.Used() > handed_) continue;  // more to write

    if (handed_ > 0) {
      // Everything is written; wait about as long as the queue takes to go
      // out, in short steps so new output and flushes are seen at once.
      const std::uint64_t bits = static_cast<std::uint64_t>(queued) * bitsPerChar_.load() * 1000u;
      const auto baud = static_cast<std::uint64_t>(std::max(baud_.load(), 1));
      const auto ms = std::clamp<std::uint64_t>(bits / baud, 1, kDrainStepMs);
      outWorkCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] {
        return stop_.load() || lost_.load() || handed_ == 0 || outRing_.Used() > handed_;
      });
      continue;
    }

    if (rtsUp) {
      // The last byte may still be in the transmitter: let it out, then
      // release the bus.
      lock.unlock();
      ::tcdrain(fd_);
      if (rtsByOutput_.load()) SetRts(false);  // unless RS-485 mode was left meanwhile
      lock.lock();
      rtsUp = false;
      continue;
    }

    outWorkCv_.wait(lock, [this] { return stop_.load() || lost_.load() || !outRing_.Empty(); });
  }
  if (rtsUp && rtsByOutput_.load()) SetRts(false);
}

}  // namespace bcu::link
