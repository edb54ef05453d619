#pragma once
// The radio as a byte machine: bytes from the PC go in through Receive(),
// bytes to the PC come out through Transmit()/TakeOutput() once they are due,
// and every slow step (flash erase, restart, line time) is measured on a clock
// handed in, so a test can drive it with a ManualClock and a server with a
// scaled SteadyClock. Not thread-safe: one owner at a time (PtyRadio locks).
//
// Frames the radio sends carry the header bytes 0x01 0x7F (the PC's 0x7F 0x01
// the other way round); the interface box answers with 0x4F 0x7F.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "sim/RadioConfig.h"
#include "sim/RadioFrameLog.h"

namespace bcu::sim {

class RadioFrameReader;
class CodeplugScrambler;

// One file the radio received in bootload mode: the data bytes of its blocks in
// order (fill bytes of the last pair included).
struct ReceivedFile {
  enum class Kind { kLoader, kApplication, kBoot, kDspPage };
  Kind kind = Kind::kLoader;
  int page = 0;           // DSP pages: 1, 2, ... in the order sent
  bool complete = false;  // its end command came
  std::vector<std::uint8_t> data;
};

struct RadioCounters {
  int framesReceived = 0;  // good frames from the PC
  int badFrames = 0;       // frames dropped for their checksum
  int framesSent = 0;
  int infoRequests = 0;  // 04 xx requests answered
  int baudChanges = 0;
  int probesAnswered = 0;
  int blocksReceived = 0;  // 02 09 blocks taken (resends included)
  int pairSumsSent = 0;
  int sumsAgreed = 0;      // 02 05
  int sumsDiffered = 0;    // 02 06
  int resends = 0;         // second blocks sent again after 02 06
  int verifyFailures = 0;  // 02 0A + address sent
  int busyReplies = 0;
  int processorChecks = 0;
  int dspPagesWritten = 0;
  int codeplugBlocksSent = 0;
  int codeplugBlocksReceived = 0;
  int codeplugSumReports = 0;
  int codeplugSumsDiffered = 0;  // 03 06 from the PC
  int passwordRequests = 0;      // 03 0B sent
  int passwordsRefused = 0;
  int uploads = 0;        // codeplug uploads finished with 03 04
  int downloads = 0;      // codeplug downloads finished with 03 04
  int framesIgnored = 0;  // not answered: erasing, restarting, silent or wrong mode
};

class VirtualRadio {
 public:
  // Throws std::runtime_error when config.codeplugFile cannot be read.
  VirtualRadio(RadioConfig config, platform::Clock& clock);
  ~VirtualRadio();
  VirtualRadio(const VirtualRadio&) = delete;
  VirtualRadio& operator=(const VirtualRadio&) = delete;

  // Bytes from the PC. With pacing they are taken at the modelled line rate.
  void Receive(const std::uint8_t* data, std::size_t n);
  // Copies up to `max` bytes that are due now to `out`; returns the count.
  std::size_t Transmit(std::uint8_t* out, std::size_t max);
  // All bytes due now.
  std::vector<std::uint8_t> TakeOutput();
  // Runs whatever is due (ends of erase and restart, paced input).
  void Poll();
  // Clock milliseconds until something happens without new input (0: now),
  // -1: nothing pending; rounded up.
  std::int64_t MsUntilNextEvent();
  // The same in clock microseconds, rounded up: line bytes fall due at
  // fractions of a millisecond.
  std::int64_t UsUntilNextEvent();

  // The technician's hand: put the radio into bootload mode, or let it run its
  // application (a power cycle: baud back to 19200, transfers forgotten).
  void SetMode(RadioMode mode);
  RadioMode Mode() const { return mode_; }
  // True while erasing or restarting (nothing is answered).
  bool IsBusy();

  int BaudRate() const { return baud_; }
  int Restarts() const { return restarts_; }
  std::array<std::uint8_t, 2> BootVersion() const { return bootVersion_; }
  std::array<std::uint8_t, 2> FormatVersion() const { return format_; }
  const RadioCounters& Counters() const { return counters_; }
  // Data blocks seen so far (flash blocks taken, codeplug blocks sent or
  // taken); the silence and line-drop faults count these.
  int DataBlocks() const { return dataBlocks_; }
  const RadioConfig& Config() const { return config_; }
  // Faults may be changed between exchanges.
  RadioFaults& Faults() { return config_.faults; }
  // How code files are told apart (boot or application), for a driver that
  // learns which one the PC sends; the file in progress takes it at its end.
  void SetCodeKind(CodeKind kind) { config_.codeKind = kind; }

  // Files in the order received (a file restarted by a new start command
  // replaces its unfinished predecessor).
  const std::vector<ReceivedFile>& Files() const { return files_; }
  // The last finished file of a kind, or null.
  const ReceivedFile* LastFile(ReceivedFile::Kind kind) const;
  // DSP pages of the last DSP download, in the order sent.
  std::vector<const ReceivedFile*> DspPages() const;

  // The codeplug the radio holds, big-endian bytes as on the wire (its length
  // is the image's length).
  const std::vector<std::uint8_t>& Codeplug() const { return codeplug_; }
  void SetCodeplug(std::vector<std::uint8_t> image);
  // The image of the last finished download, up to the length it declares;
  // empty before the first.
  const std::vector<std::uint8_t>& LastDownloadedImage() const { return lastDownload_; }

  // The line-drop fault fired: the server closes the line.
  bool LineDropRequested() const { return dropLine_; }

  // The last frames taken and sent and the ends of the slow phases.
  const RadioFrameLog& FrameLog() const { return log_; }

 private:
  // Clock time in milliseconds with the clock's full (microsecond) precision.
  double NowMs();
  double NextEventInMs();
  void HandleFrame(std::uint8_t header2, const std::uint8_t* p, std::size_t n);
  void HandleInfo(const std::uint8_t* p, std::size_t n);
  void HandleFlash(const std::uint8_t* p, std::size_t n);
  void HandleCodeplug(const std::uint8_t* p, std::size_t n);
  void Send(std::vector<std::uint8_t> payload, std::uint8_t header1 = 0x01);
  void EndPhase();
  void StartFile(ReceivedFile::Kind kind);
  void CommitPair();
  void EndFile();
  void StartRestart();
  void BeginCodeplugData();
  void SendUploadBlock();
  bool TakeDataBlock();  // false: a fault stops the radio answering

  struct Impl;
  std::unique_ptr<Impl> impl_;
  RadioConfig config_;
  platform::Clock& clock_;
  RadioMode mode_;
  int baud_ = 19200;
  int restarts_ = 0;
  std::array<std::uint8_t, 2> bootVersion_;
  std::array<std::uint8_t, 2> format_;
  RadioCounters counters_;
  std::vector<ReceivedFile> files_;
  std::vector<std::uint8_t> codeplug_;
  std::vector<std::uint8_t> lastDownload_;
  bool dropLine_ = false;
  int dataBlocks_ = 0;
  RadioFrameLog log_;
};

// The 4 bytes a password of digits goes on the wire as (BCD, 0xF fill).
std::array<std::uint8_t, 4> EncodePasswordBytes(const std::string& digits);
// Sum of the 16-bit little-endian words of a pair of flash blocks.
std::uint16_t FlashPairSum(const std::uint8_t* data, std::size_t n);

}  // namespace bcu::sim
