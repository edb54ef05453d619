// The rehearsal of an update: what it reads from the radio (and that it
// writes nothing), and that on virtual radios in each starting state its
// outcome is the outcome of the real run made afterwards on the same radio.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/CodeplugBackup.h"
#include "cli/ExitCodes.h"
#include "cli/Rehearsal.h"
#include "cli/RehearsalReport.h"
#include "cli/UpdateOutcome.h"
#include "platform/Timer.h"
#include "sim/InProcessRadio.h"
#include "sim/RadioFrameReader.h"
#include "support/UpdateRig.h"

namespace bcu::cli {
namespace {

using testsupport::MakeTempDir;
using testsupport::RemoveTree;

// A host on the in-process line's clock: what the real run on the terminal
// would see, with --yes and the passwords given.
class LineHost final : public platform::Host, public app::CodeplugStepObserver {
 public:
  explicit LineHost(platform::Clock& clock) : clock_(clock), timers_(clock) {}
  void ShowStatusText(const std::string& text) override {
    if (text.rfind("Preparing to download", 0) == 0) downloadStarted = true;
    watch.OnStatus(text);
    status = text;
  }
  platform::ProgressBar& Progress() override { return bar_; }
  platform::MsgResult ShowMessage(const std::string& text, const std::string& caption,
                                  platform::MsgIcon icon, platform::MsgButtons buttons) override {
    watch.OnMessage(text, caption, icon);
    return buttons == platform::MsgButtons::Ok ? platform::MsgResult::Ok : platform::MsgResult::Yes;
  }
  bool AskPassword(platform::PasswordPurpose purpose, std::string& text) override {
    const auto& given =
        purpose == platform::PasswordPurpose::Start ? startPassword : codeplugPassword;
    if (!given) return false;
    text = *given;
    return true;
  }
  std::unique_ptr<platform::Timer> CreateTimer(platform::TimerHandler handler) override {
    return timers_.Create(std::move(handler));
  }
  platform::Clock& GetClock() override { return clock_; }
  void Pump() override { timers_.Poll(); }
  void OnCodeplugStep(const app::CodeplugStepReport& report) override { codeplug = report; }

  std::optional<std::string> startPassword = "gablers";
  std::optional<std::string> codeplugPassword;
  std::string status;
  bool downloadStarted = false;
  StartFailureWatch watch;
  std::optional<app::CodeplugStepReport> codeplug;

 private:
  platform::Clock& clock_;
  platform::TimerQueue timers_;
  platform::ProgressValues bar_;
};

// The far end of the real port, recording every frame the PC sends.
class RecordingLine final : public transfer::LinePeer, public transfer::SerialPortSource {
 public:
  explicit RecordingLine(sim::InProcessRadio& radio) : radio_(radio), line_(radio.Radio()) {}
  void Receive(const std::uint8_t* data, std::size_t n) override {
    for (std::size_t i = 0; i < n; ++i)
      if (reader_.Feed(data[i]) == sim::RadioFrameReader::Result::kFrame &&
          reader_.PayloadLength() >= 2)
        codes.emplace_back(reader_.Payload()[0], reader_.Payload()[1]);
    line_.Receive(data, n);
  }
  std::size_t Transmit(std::uint8_t* out, std::size_t max) override {
    return line_.Transmit(out, max);
  }
  std::int64_t UsUntilNextEvent() override { return line_.UsUntilNextEvent(); }
  std::unique_ptr<transfer::VYXWinExtSerialPort> MakePort() override {
    return std::make_unique<transfer::InProcessSerialPort>(*this, radio_.Clock(), tally_);
  }
  // Codes that write to the radio's flash or codeplug, or start doing so:
  // flash and DSP starts, data blocks, codeplug download and its blocks.
  std::vector<std::pair<int, int>> Writes() const {
    std::vector<std::pair<int, int>> w;
    for (const auto& [g, c] : codes)
      if ((g == 0x02 && (c == 0x00 || c == 0x01 || c == 0x09 || c == 0x04)) ||
          (g == 0x03 && (c == 0x00 || c == 0x02)))
        w.emplace_back(g, c);
    return w;
  }
  std::vector<std::pair<int, int>> codes;

 private:
  sim::InProcessRadio& radio_;
  sim::RadioLine line_;
  sim::RadioFrameReader reader_;
  transfer::LineTally tally_;
};

bool StatusSeen(const RehearsalResult& r, const std::string& prefix) {
  for (const auto& s : r.steps)
    if (s.text.rfind(prefix, 0) == 0) return true;
  return false;
}

struct RealOutcome {
  std::string text;
  int code = -1;
};

class RehearsalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = MakeTempDir("bcu-rehearsal-work");
    backups_ = MakeTempDir("bcu-rehearsal-backups");
  }
  void TearDown() override {
    RemoveTree(work_);
    RemoveTree(backups_);
  }

  // A radio running its code (the rehearsal reads its codeplug).
  static sim::RadioConfig Radio() {
    sim::RadioConfig c;
    c.startMode = sim::RadioMode::kApplication;
    c.bootCodeMaxBytes = 1024;
    c.restartMs = 2000;
    return c;
  }

  RehearsalInput Input(sim::InProcessRadio& real, transfer::SerialPortSource* source = nullptr) {
    RehearsalInput in;
    in.resources = testsupport::MakeTestResources(firmware);
    in.programPath = "/opt/bcu/bcu";
    in.port = sim::kInProcessPortPath;
    in.discovery = &real.Ports();
    in.updaterOptions.portSource = source ? source : &real;
    in.updaterOptions.workDir = work_;
    in.updaterOptions.backupRoot = backups_;
    in.updaterOptions.processorCount = [] { return 1u; };
    in.password = "gablers";
    in.codeplugPassword = codeplugPassword;
    return in;
  }

  // The real run afterwards: the technician puts the radio into bootload
  // mode and runs the update with --yes.
  RealOutcome RunReal(sim::InProcessRadio& real, const RehearsalInput& in) {
    real.Radio().SetMode(sim::RadioMode::kBootload);
    LineHost host(real.Clock());
    host.codeplugPassword = codeplugPassword;
    app::CodeUpdaterView view;
    app::CodeUpdaterOptions options = in.updaterOptions;
    options.extraDevicePaths = {sim::kInProcessPortPath};
    options.bootloadWait = [&](app::CodeUpdater& u, const std::string&) {
      return u.WaitForBootloadMode(5000) == app::BootloadWaitResult::Ready;
    };
    app::CodeUpdater u(host, view, *in.resources, in.programPath, real.Ports(), options);
    u.SelectPortItem(0);
    u.m_StartButtonClick();
    UpdateRunFacts facts;
    facts.started = u.m_PasswordAccepted;
    facts.downloadStarted = host.downloadStarted;
    facts.startFailureCode = host.watch.Code();
    facts.status = host.status;
    facts.codeplug = host.codeplug;
    RealOutcome o;
    o.code = UpdateExitCode(facts);
    o.text = !host.downloadStarted && !host.watch.Text().empty() ? host.watch.Text() : host.status;
    return o;
  }

  // Rehearses, then makes the real run, and expects both to end alike.
  RehearsalResult RehearseAndCompare(sim::RadioConfig config, int expectedCode) {
    sim::InProcessRadio real(config);
    RehearsalInput in = Input(real);
    LineHost host(real.Clock());
    const RehearsalResult r = Rehearse(in, host);
    const RealOutcome o = RunReal(real, in);
    EXPECT_EQ(r.exitCode, expectedCode) << r.outcome;
    EXPECT_EQ(o.code, r.exitCode) << o.text;
    EXPECT_EQ(o.text, r.outcome);
    EXPECT_TRUE(testsupport::FilesBelow(work_).empty());
    return r;
  }

  testsupport::TestFirmware firmware;
  std::optional<std::string> codeplugPassword;
  std::string work_;
  std::string backups_;
};

TEST_F(RehearsalTest, WritesNothingToTheRadio) {
  sim::RadioConfig config = Radio();
  config.password = "1234";
  codeplugPassword = "1234";
  sim::InProcessRadio real(config);
  const std::vector<std::uint8_t> before = real.Radio().Codeplug();
  RecordingLine recorder(real);
  RehearsalInput in = Input(real, &recorder);
  LineHost host(real.Clock());
  const RehearsalResult r = Rehearse(in, host);
  EXPECT_TRUE(r.rehearsed);
  EXPECT_TRUE(r.radio.uploaded);
  EXPECT_TRUE(r.radio.passwordAsked);
  EXPECT_FALSE(recorder.codes.empty());
  EXPECT_TRUE(recorder.Writes().empty()) << recorder.Writes().size() << " writes";
  EXPECT_EQ(real.Radio().Codeplug(), before);
  EXPECT_EQ(real.Radio().Counters().blocksReceived, 0);
  EXPECT_EQ(real.Radio().Counters().codeplugBlocksReceived, 0);
  EXPECT_TRUE(real.Radio().Files().empty());
  // The rehearsal ran the whole update on its copy: code went in there.
  EXPECT_EQ(r.exitCode, kExitOk) << r.outcome;
  EXPECT_TRUE(testsupport::FilesBelow(work_).empty());
  EXPECT_TRUE(testsupport::FilesBelow(backups_).empty());
}

TEST_F(RehearsalTest, BootCurrentAndOutOfDate) {
  sim::RadioConfig current = Radio();
  current.bootVersion = {4, 2};
  const RehearsalResult a = RehearseAndCompare(current, kExitOk);
  EXPECT_FALSE(a.bootUpdate);
  EXPECT_EQ(a.outcome, "Done.");

  const RehearsalResult b = RehearseAndCompare(Radio(), kExitOk);  // boot 4.1, set 4.2
  EXPECT_TRUE(b.bootUpdate);
  // The boot update adds its own code to the transfers.
  EXPECT_FALSE(StatusSeen(a, "Downloading Boot code"));
  EXPECT_TRUE(StatusSeen(b, "Downloading Boot code"));
  const std::string text = RehearsalText(b, "ttyUSB0");
  EXPECT_NE(text.find("Boot update: needed"), std::string::npos);
  EXPECT_NE(text.find("Outcome of the real run: Done.\n"), std::string::npos);
}

TEST_F(RehearsalTest, EachCodeplugFormatPair) {
  struct Pair {
    std::array<std::uint8_t, 2> from, to;
    std::vector<std::string> path;
  };
  const std::vector<Pair> pairs = {{{5, 8}, {5, 9}, {"5.8", "5.9"}},
                                   {{5, 8}, {5, 10}, {"5.8", "5.9", "5.10"}},
                                   {{5, 9}, {5, 10}, {"5.9", "5.10"}},
                                   {{5, 10}, {5, 9}, {"5.10", "5.9"}},
                                   {{5, 10}, {5, 8}, {"5.10", "5.9", "5.8"}},
                                   {{5, 9}, {5, 8}, {"5.9", "5.8"}},
                                   {{5, 10}, {5, 10}, {}}};
  for (const auto& p : pairs) {
    SCOPED_TRACE(std::to_string(p.from[1]) + " -> " + std::to_string(p.to[1]));
    sim::RadioConfig config = Radio();
    config.bootVersion = {4, 2};
    config.formatBefore = p.from;
    config.formatAfter = p.to;
    sim::InProcessRadio real(config);
    RehearsalInput in = Input(real);
    in.newFormat = {p.to[0], p.to[1]};
    LineHost host(real.Clock());
    const RehearsalResult r = Rehearse(in, host);
    const RealOutcome o = RunReal(real, in);
    EXPECT_EQ(r.exitCode, kExitOk) << r.outcome;
    EXPECT_EQ(o.code, r.exitCode);
    EXPECT_EQ(o.text, r.outcome);
    EXPECT_EQ(r.conversionPath, p.path);
    if (!p.path.empty()) {
      EXPECT_TRUE(r.resultValid) << r.resultReason;
      ASSERT_TRUE(r.diff);
      // What the rehearsal's radio holds is what the real radio holds now.
      EXPECT_EQ(real.Radio().Codeplug().size(), real.Radio().LastDownloadedImage().size());
    }
  }
}

TEST_F(RehearsalTest, WrongCodeplugPassword) {
  sim::RadioConfig config = Radio();
  config.bootVersion = {4, 2};
  config.password = "1234";
  codeplugPassword = "9999";
  const RehearsalResult r = RehearseAndCompare(config, kExitCodeplugUpload);
  EXPECT_TRUE(r.radio.passwordAsked);
  EXPECT_FALSE(r.radio.uploaded);
}

TEST_F(RehearsalTest, CodeplugThatCannotConvert) {
  sim::RadioConfig config = Radio();
  config.bootVersion = {4, 2};
  config.formatBefore = {5, 7};  // below the convertible formats
  const RehearsalResult r = RehearseAndCompare(config, kExitNotConvertible);
  EXPECT_TRUE(r.conversionPath.empty());
}

TEST_F(RehearsalTest, CodeplugTooBigForARadio) {
  sim::InProcessRadio real(Radio());
  RehearsalInput in = Input(real);
  LineHost host(real.Clock());
  RadioSnapshot snap = ReadRadioSnapshot(in, host);
  ASSERT_TRUE(snap.uploaded);
  snap.codeplug.resize(70000, 0);
  const RehearsalResult r = RehearseOn(in, snap);
  EXPECT_FALSE(r.rehearsed);
  EXPECT_NE(r.failure.find("larger than a radio holds"), std::string::npos) << r.failure;
  EXPECT_NE(r.exitCode, kExitOk);
}

TEST_F(RehearsalTest, RadioThatFailsMidDownloadInTheRealRunOnly) {
  sim::RadioConfig config = Radio();
  config.bootVersion = {4, 2};
  sim::InProcessRadio real(config);
  RehearsalInput in = Input(real);
  LineHost host(real.Clock());
  const RehearsalResult r = Rehearse(in, host);
  EXPECT_EQ(r.exitCode, kExitOk) << r.outcome;
  real.Radio().Faults().silentAfterBlocks = 5;
  const RealOutcome o = RunReal(real, in);
  EXPECT_EQ(o.code, kExitCodeDownload) << o.text;
  EXPECT_NE(o.text, r.outcome);
  EXPECT_NE(RehearsalText(r, "ttyUSB0").find(kRehearsalLimits), std::string::npos);
}

// A line on which nothing ever answers.
class SilentLine final : public transfer::LinePeer, public transfer::SerialPortSource {
 public:
  void Receive(const std::uint8_t*, std::size_t n) override { taken += n; }
  std::size_t Transmit(std::uint8_t*, std::size_t) override { return 0; }
  std::int64_t UsUntilNextEvent() override { return -1; }
  std::unique_ptr<transfer::VYXWinExtSerialPort> MakePort() override {
    return std::make_unique<transfer::InProcessSerialPort>(*this, clock, tally);
  }
  transfer::LineClock clock;
  transfer::LineTally tally;
  std::size_t taken = 0;
};

TEST_F(RehearsalTest, RadioThatDoesNotAnswerIsReportedAsARealRunWould) {
  // A portable set: the serial device is the only transport, no box probe.
  firmware.family = 0;
  firmware.series = 1;
  sim::InProcessRadio ports(Radio());  // only its port list
  SilentLine silent;
  RehearsalInput in = Input(ports, &silent);
  LineHost host(silent.clock);
  const RehearsalResult r = Rehearse(in, host);
  EXPECT_FALSE(r.rehearsed);
  EXPECT_GT(silent.taken, 0u);
  EXPECT_EQ(r.exitCode, kExitPort);
  EXPECT_EQ(r.outcome, "Communication error while retrieving version information.");
}

}  // namespace
}  // namespace bcu::cli
