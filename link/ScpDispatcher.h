#pragma once
// The dispatcher of the serial port component: the two ring buffers and the
// worker threads that move bytes between them and the device.
//
// TScpBaseDispatcher holds what the calling thread touches: the receive ring
// (8192 bytes) under one lock, the output ring (OutSize bytes) under a second
// one, the modem status shadow and the lost-device flag. The output ring's
// used count covers the bytes not yet written and the bytes written that are
// still in the system's output queue, so "empty" means sent.
//
// TScpWin32Dispatcher is the operating-system dispatcher; it drives the
// system's serial port (platform/SerialPort.h) through a reader thread and an
// output thread. Each open port has its own dispatcher, port, wake-ups and
// threads.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "link/ScpLineSettings.h"
#include "link/ScpRingBuffer.h"
#include "platform/SerialDriver.h"
#include "platform/SerialLockFile.h"
#include "platform/SerialPort.h"

namespace bcu::link {

// The output thread's scheduling priority in RS-485 mode.
enum class TScpOutputPriority {
  Normal,   // not asked for (RS-485 mode off, or RTS switched by the driver)
  Raised,   // one step above normal
  Refused,  // asked for and refused by the system (see the errno)
};

class TScpBaseDispatcher {
 public:
  explicit TScpBaseDispatcher(std::size_t outSize);
  virtual ~TScpBaseDispatcher() = default;
  TScpBaseDispatcher(const TScpBaseDispatcher&) = delete;
  TScpBaseDispatcher& operator=(const TScpBaseDispatcher&) = delete;

  // Opens the device at `path` with the given settings and starts the
  // threads. Raises EBadId, EAlreadyOpen or EScpIOError.
  virtual void Open(const std::string& path, const TScpLineSettings& line, bool rs485) = 0;
  // Stops the threads (joins them) and closes the device. Never raises.
  virtual void Close() = 0;
  // Applies new line settings to the open device, keeping everything else.
  // Returns 0 or an errno.
  virtual int SetLine(const TScpLineSettings& line) = 0;
  virtual void SetRS485(bool on) = 0;
  // Waits, for at most `limitMs`, until the system's output queue and the
  // transmitter are empty; false when they were not.
  virtual bool DrainSystemOutput(std::uint32_t limitMs) = 0;

  // Receive side.
  bool CharReady();
  bool GetChar(std::uint8_t& byte);
  bool WaitCharReady(std::uint32_t realMs);
  void FlushIn();

  // Output side.
  enum class PutResult { Accepted, TooSmall, Lost };
  PutResult PutBlock(const std::uint8_t* data, std::size_t n);
  std::size_t OutUsed();
  std::size_t OutCapacity() const { return outRing_.Capacity(); }
  // Blocks until the output ring is empty; false when it still held bytes
  // after `limitMs` real milliseconds.
  bool WaitOutputEmpty(std::uint32_t limitMs);
  void FlushOut();

  virtual bool Cts() { return cts_.load(); }
  bool Lost() const { return lost_.load(); }

 protected:
  // The system's input or output queue is to be discarded.
  virtual void PurgeSystemInput() = 0;
  virtual void PurgeSystemOutput() = 0;
  // Records that the device went away and wakes every waiter. Bytes still
  // in the output ring can no longer be sent and are dropped. Takes both
  // locks; not to be called with either held.
  void MarkLost();
  // The two halves of MarkLost: the receive side (takes the receive lock) and
  // the output side (the caller holds the output lock).
  void NotifyLostReceive();
  void NotifyLostOutputLocked();

  std::mutex rxMutex_;
  std::condition_variable rxCv_;       // a byte arrived, or the device went away
  std::condition_variable rxSpaceCv_;  // GetChar made room in a full ring
  TScpRingBuffer rxRing_;

  std::mutex outMutex_;
  std::condition_variable outWorkCv_;  // wakes the output thread
  std::condition_variable outDoneCv_;  // the ring shrank, or a write ended
  TScpRingBuffer outRing_;
  std::size_t handed_ = 0;  // oldest ring bytes already written to the system
  bool inWrite_ = false;    // the output thread is inside write() on ring memory

  std::atomic<bool> lost_{false};
  std::atomic<bool> cts_{false};
};

class TScpWin32Dispatcher final : public TScpBaseDispatcher {
 public:
  // `driver` makes every kernel call on the port's descriptor (not owned).
  TScpWin32Dispatcher(std::size_t outSize, platform::SerialDriver& driver);
  ~TScpWin32Dispatcher() override;

  void Open(const std::string& path, const TScpLineSettings& line, bool rs485) override;
  void Close() override;
  int SetLine(const TScpLineSettings& line) override;
  void SetRS485(bool on) override;
  bool DrainSystemOutput(std::uint32_t limitMs) override;
  bool Cts() override;

  // What the open found out about the device (for tests and diagnostics).
  bool HasModemLines() const { return modemLines_; }
  bool HasKernelRS485() const { return kernelRs485_; }
  // RS-485 mode with RTS switched by the output thread (no driver support).
  bool RtsByOutputThread() const { return rtsByOutput_.load(); }
  TScpOutputPriority OutputPriority() const { return priority_.load(); }
  int OutputPriorityError() const { return priorityError_.load(); }
  const std::string& LockFilePath() const { return lock_.Path(); }

 private:
  void PurgeSystemInput() override;
  void PurgeSystemOutput() override;
  void ReaderLoop();
  void OutputLoop();
  // Waits up to `ms` for the port to take output or for a wake-up.
  void WaitWritable(int ms);
  // RS-485 without driver support: waits until the last of `bytes` bytes,
  // handed over from `startedUs` on, has left the transmitter, then drops
  // RTS. Called without the output lock.
  void ReleaseBus(std::size_t bytes, std::uint64_t startedUs);
  // Waits (bounded) until the output thread has followed the RS-485 mode.
  void WaitModeFollowed();
  void SetRts(bool on);
  void DiscardQueuedOutput();
  void CloseDescriptors();

  platform::SerialDriver& driver_;
  platform::SerialLockFile lock_;
  platform::SerialHandle fd_ = platform::kNoSerialHandle;
  platform::SerialWakeup readerWake_;
  platform::SerialWakeup outputWake_;
  std::thread reader_;
  std::thread output_;
  std::atomic<bool> stop_{false};
  std::atomic<std::int32_t> baud_{19200};
  std::atomic<int> bitsPerChar_{10};
  std::atomic<bool> rtsByOutput_{false};  // RS-485 by RTS handling in the output thread
  // The output thread follows rtsByOutput_ (its priority) when modeWanted_
  // moves past modeFollowed_; both under the output lock.
  std::uint64_t modeWanted_ = 0;
  std::uint64_t modeFollowed_ = 0;
  bool outputEnded_ = false;  // under the output lock
  std::atomic<TScpOutputPriority> priority_{TScpOutputPriority::Normal};
  std::atomic<int> priorityError_{0};
  bool owned_ = false;  // the locks were taken: this open may change the port
  bool modemLines_ = false;
  platform::SerialCapabilities caps_;  // learned once at open
  bool kernelRs485_ = false;           // RS-485 switched on in the driver by this open
  bool restoreRs485_ = false;
  platform::SerialRs485 savedRs485_{};  // the driver's RS-485 settings before the open
  bool restoreLowLatency_ = false;
};

}  // namespace bcu::link
