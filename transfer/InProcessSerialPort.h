#pragma once
// A serial port whose far end is a radio model in this process (LinePeer):
// the link and the transfers use it as they use a system port, and the line's
// timing is computed from its bytes on a LineClock. A write hands the bytes to
// the far end and moves the clock by the time they take on the line at the
// port's rate; a wait for input moves the clock to the far end's next byte
// (or by one short poll when nothing is pending, so that reply time-outs run
// their full length on the clock). Nothing sleeps.
#include <cstdint>
#include <deque>

#include "transfer/LineClock.h"
#include "transfer/LinePeer.h"
#include "transfer/VYXWinExtSerialPort.h"

namespace bcu::transfer {

// The bytes one line carried, both ways, and their time on the line at the
// rate each was sent at.
struct LineTally {
  std::uint64_t bytesToRadio = 0;
  std::uint64_t bytesFromRadio = 0;
  std::uint64_t lineUsToRadio = 0;
  std::uint64_t lineUsFromRadio = 0;
};

class InProcessSerialPort final : public VYXWinExtSerialPort {
 public:
  // `peer`, `clock` and `tally` must outlive the port.
  InProcessSerialPort(LinePeer& peer, LineClock& clock, LineTally& tally);
  ~InProcessSerialPort() override;

  void SetBaudRate(std::uint8_t code) override;
  void SetDataBits(std::uint8_t code) override { dataBitsCode = code; }
  void SetParity(std::uint8_t code) override { parityCode = code; }
  void SetStopBits(std::uint8_t code) override { stopBitsCode = code; }
  void SetFlowControl(std::uint8_t code) override { flowControlCode = code; }
  void SetTimeouts(std::int32_t seconds, std::int32_t milliseconds) override;
  bool Open() override;
  int Close() override;
  void Flush() override {}
  std::int32_t InputCount() override;
  std::int32_t PollInput() override { return InputCount(); }
  bool ReadChar(char* c) override;
  bool WriteChar(char c) override;
  void SetErrorFromFlags(std::uint32_t) override {}
  void SetDtr(bool) override {}
  void SetRts(bool) override {}
  std::uint32_t GetModemStatus() override { return kModemCts | kModemDsr; }
  std::int32_t Read(std::uint8_t* buffer, std::int32_t n) override;
  std::int32_t Write(const std::uint8_t* buffer, std::int32_t n) override;
  bool WaitForInput(std::uint32_t realMs) override;
  platform::SerialWait WaitReadable(std::uint32_t realMs) override;
  std::int32_t ReadNow(std::uint8_t* buffer, std::int32_t n) override;
  bool Lost() const override { return peer_.LineDropped(); }
  bool KernelRs485Available() override { return false; }

  // Microseconds one byte lasts on the line at the port's rate (10 bits).
  double ByteUs() const;

 private:
  // Takes what the far end has due into the input queue.
  void Collect();
  // Moves the clock towards the far end's next event, by at most `maxUs`.
  void Advance(std::uint64_t maxUs);

  LinePeer& peer_;
  LineClock& clock_;
  LineTally& tally_;
  std::deque<std::uint8_t> input_;
};

}  // namespace bcu::transfer
