#include "link/FlashDownload.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

#include "DownloadRig.h"
#include "app/EmbeddedFiles.h"
#include "link/DelayTicks.h"
#include "link/StopRequest.h"
#include "platform/EmbeddedResources.h"
#include "support/FakeSerialDriver.h"
#include "support/LinkPeer.h"

namespace bcu::test {
namespace {

using sim::ReceivedFile;

struct FlashRun {
  int result = 0;
  std::vector<std::uint8_t> loaderData, codeData;
};

int Download(RadioRig& rig, const std::string& loader, const std::string& code,
             std::uint8_t platformCode = 0, bool isBoot = false, bool processor416 = false) {
  std::istringstream loaderFile(loader), codeFile(code);
  return link::FlashDownload(rig.host.link, loaderFile, codeFile, StatusLog::Callback, &rig.status,
                             platformCode, rig.bar, isBoot, processor416);
}

// The last finished file of a kind; waits for it unless `wait` is false (the
// end command takes no reply).
std::vector<std::uint8_t> Received(RadioRig& rig, ReceivedFile::Kind kind, bool wait = true) {
  if (wait) rig.WaitRadio([kind](sim::VirtualRadio& r) { return r.LastFile(kind) != nullptr; });
  return rig.radio.With([kind](sim::VirtualRadio& r) {
    const ReceivedFile* f = r.LastFile(kind);
    return f ? f->data : std::vector<std::uint8_t>{};
  });
}

sim::RadioCounters Counters(RadioRig& rig) {
  return rig.radio.With([](sim::VirtualRadio& r) { return r.Counters(); });
}

TEST(FlashDownload, RadioReceivesTheRecordDataInFileOrder) {
  sim::RadioConfig config;
  config.codeKind = sim::CodeKind::kApplication;
  RadioRig rig(config);
  ASSERT_TRUE(rig.Open());
  std::vector<std::uint8_t> loaderData, codeData;
  // Loader: S0 header, S2 records of mixed sizes. Code: S3 records with odd
  // counts, addresses that are not contiguous, S5 and S8 lines that are skipped.
  const std::string loader = S0() + Records('2', {16, 16, 10, 32, 2}, loaderData) + S9();
  std::string code = Records('3', {16, 3, 5, 16, 64}, codeData, 0x200000, 7);
  code += "S5030005F7\r\nS804000000FB\r\n";
  code += Records('3', std::vector<int>(20, 16), codeData, 0x300000, 9) + S9();
  code += Records('3', {16}, codeData, 0x400000, 5);  // after S9: not sent
  codeData.resize(codeData.size() - 16);

  ASSERT_EQ(Download(rig, loader, code), link::kCommSuccess);
  EXPECT_EQ(Received(rig, ReceivedFile::Kind::kLoader), PadToPair(loaderData, 0xFF));
  EXPECT_EQ(Received(rig, ReceivedFile::Kind::kApplication), PadToPair(codeData, 0xFF));
  EXPECT_EQ(rig.status.texts,
            (std::vector<std::string>{"Preparing to download ...", "Downloading Loader code ...",
                                      "Erasing flash (2 seconds)...",
                                      "Downloading Application code ...", "Download finished."}));
  EXPECT_EQ(rig.bar.Max(), static_cast<int>(code.size() / 4 + 64));
  // 25 S3 records of weight 4 and four blocks of 64 each.
  EXPECT_EQ(rig.bar.Position(), 25 * 4 + 4 * 64);
  const auto c = Counters(rig);
  EXPECT_EQ(c.sumsDiffered, 0);
  EXPECT_EQ(c.sumsAgreed, c.pairSumsSent);
  EXPECT_EQ(rig.radio.With([](sim::VirtualRadio& r) { return r.BaudRate(); }), 19200);
}

// The download runs raised where the system allows it and restores the
// priority at its end; refused, it goes on unraised and says so once per
// link, however many downloads follow.
TEST(FlashDownload, ExchangePriorityIsRaisedForTheDownloadOnly) {
  sim::RadioConfig config;
  config.codeKind = sim::CodeKind::kApplication;
  RadioRig rig(config);
  ASSERT_TRUE(rig.Open());
  FakeSerialDriver driver;
  rig.host.link.serialDriver = &driver;
  std::vector<std::uint8_t> l, c;
  const std::string loader = Records('2', {16}, l) + S9();
  const std::string code = Records('3', {16, 16}, c) + S9();
  ASSERT_EQ(Download(rig, loader, code), link::kCommSuccess);
  EXPECT_EQ(driver.ExchangeRaises(), 1);
  EXPECT_EQ(driver.ExchangeRestores(), 1);
  EXPECT_FALSE(rig.status.Has(link::kCommTextPriorityRefused));

  rig.host.link.serialDriver = nullptr;

  // Refused: one note per link, the first time only; not asked for: no call.
  link::CommLink other;
  link::CommInitLink(other);
  other.serialDriver = &driver;
  driver.refuseExchangePriority = EPERM;
  std::vector<std::string> told;
  const auto tell = [&](const std::string& text) { told.push_back(text); };
  for (int i = 0; i < 3; ++i) link::CommExchangePriority scope(other, tell);
  EXPECT_EQ(driver.ExchangeRaises(), 4);
  EXPECT_EQ(driver.ExchangeRestores(), 1);
  EXPECT_EQ(told, std::vector<std::string>{link::kCommTextPriorityRefused});
  other.raiseExchangePriority = false;
  { link::CommExchangePriority scope(other, tell); }
  EXPECT_EQ(driver.ExchangeRaises(), 4);
}

TEST(FlashDownload, RecordWithoutChecksumStillSendsAllItsData) {
  RadioRig rig;
  ASSERT_TRUE(rig.Open());
  std::vector<std::uint8_t> c;
  // Byte count 0x13: 2 address bytes, 16 data bytes, and the checksum is missing.
  const std::string loader = "S113000000112233445566778899AABBCCDDEE5A\r\n" + S9();
  ASSERT_EQ(Download(rig, loader, Records('3', {16}, c) + S9()), link::kCommSuccess);
  const std::vector<std::uint8_t> data = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                          0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0x5A};
  EXPECT_EQ(Received(rig, ReceivedFile::Kind::kLoader), PadToPair(data, 0xFF));
}

TEST(FlashDownload, HeaderOnlyFilesSendOnePairOfFillBlocks) {
  sim::RadioConfig config;
  config.codeKind = sim::CodeKind::kBoot;
  RadioRig rig(config);
  ASSERT_TRUE(rig.Open());
  // The code file has no end record: the end of the file ends it the same way.
  ASSERT_EQ(Download(rig, S0() + S9(), S0(), 0, true), link::kCommSuccess);
  EXPECT_EQ(Received(rig, ReceivedFile::Kind::kLoader), std::vector<std::uint8_t>(256, 0xFF));
  EXPECT_EQ(Received(rig, ReceivedFile::Kind::kBoot), std::vector<std::uint8_t>(256, 0xFF));
  EXPECT_TRUE(rig.status.Has("Downloading Boot code ..."));
  EXPECT_FALSE(rig.status.Has("Erasing flash (2 seconds)..."));  // a boot download: 1 s, no text
  EXPECT_EQ(rig.status.Last(), "Download finished.");
}

TEST(FlashDownload, VerifyFailureEndsWithItsAddress) {
  sim::RadioConfig config;
  config.faults.verifyFailPair = 1;
  RadioRig rig(config);
  ASSERT_TRUE(rig.Open());
  std::vector<std::uint8_t> l, c;
  const std::string code = Records('3', std::vector<int>(64, 16), c) + S9();
  EXPECT_EQ(Download(rig, Records('2', {16}, l) + S9(), code), link::kCommVerifyFailed);
  EXPECT_EQ(rig.status.Last(), "Flash Verify failed at address: 0x00000100");
  EXPECT_FALSE(rig.status.Has("Download finished."));
  EXPECT_EQ(Counters(rig).verifyFailures, 1);
}

TEST(FlashDownload, FourResendsAfterDifferingSumsEndTheDownload) {
  sim::RadioConfig config;
  config.faults.wrongSums = 1;
  RadioRig rig(config);
  ASSERT_TRUE(rig.Open());
  std::vector<std::uint8_t> l, c;
  EXPECT_EQ(
      Download(rig, Records('2', std::vector<int>(20, 16), l) + S9(), Records('3', {16}, c) + S9()),
      link::kCommTimedOut);
  EXPECT_EQ(rig.status.Last(), "Code download timed out or canceled by user.");
  // The fourth resend ends the download without waiting for its answer.
  EXPECT_TRUE(rig.WaitRadio([](sim::VirtualRadio& r) { return r.Counters().resends >= 4; }));
  const auto counters = Counters(rig);
  EXPECT_EQ(counters.sumsDiffered, 1);
  EXPECT_EQ(counters.resends, 4);
}

TEST(FlashDownload, StopMidDownloadEndsWithTheCancelText) {
  RadioRig rig;
  ASSERT_TRUE(rig.Open());
  std::vector<std::uint8_t> l, c;
  const std::string code = Records('3', std::vector<int>(400, 16), c) + S9();
  auto& link = rig.host.link;
  rig.host.pump.onPump = [&] {
    if (rig.radio.With([](sim::VirtualRadio& r) { return r.Counters().blocksReceived; }) >= 12)
      link::CommSetRunning(link, false);  // what the Stop button does
  };
  EXPECT_EQ(Download(rig, Records('2', {16}, l) + S9(), code), link::kCommTimedOut);
  EXPECT_EQ(rig.status.Last(), "Code download timed out or canceled by user.");
  EXPECT_LT(Counters(rig).blocksReceived, 20);
  EXPECT_EQ(rig.host.TimeoutsFired(), 0);
}

TEST(FlashDownload, ProcessorCheckOnPlatformOne) {
  std::vector<std::uint8_t> l, c;
  const std::string loader = Records('2', {16}, l) + S9();
  const std::string code = Records('3', {16}, c) + S9();
  for (std::uint8_t variant : {4, 8}) {
    for (bool processor416 : {false, true}) {
      sim::RadioConfig config;
      config.processor = variant;
      RadioRig rig(config);
      ASSERT_TRUE(rig.Open());
      const bool matches = (variant == 4) == processor416;
      const int result = Download(rig, loader, code, 1, false, processor416);
      EXPECT_EQ(result, matches ? link::kCommSuccess : link::kCommWrongProcessor);
      EXPECT_EQ(Counters(rig).processorChecks, 1);
      if (!matches) {
        EXPECT_EQ(rig.status.Last(), "Downloading Loader code ...");  // no text of its own
        EXPECT_EQ(Received(rig, ReceivedFile::Kind::kApplication, false).size(), 0u);
      }
    }
  }
}

TEST(FlashDownload, SilentRadioAtTheProcessorCheckIsACommunicationFailure) {
  sim::RadioConfig config;
  config.faults.silentAfterBlocks = 2;  // the loader's one pair, then nothing
  RadioRig rig(config);
  ASSERT_TRUE(rig.Open());
  std::vector<std::uint8_t> l, c;
  EXPECT_EQ(Download(rig, Records('2', {16}, l) + S9(), Records('3', {16}, c) + S9(), 1),
            link::kCommTimedOut);
  EXPECT_EQ(rig.status.Last(), "Code download timed out or canceled by user.");
}

TEST(FlashDownload, EraseWaitByPlatformCode) {
  EXPECT_EQ(link::FlashEraseWaitFor(0, false).ticks, 36);
  EXPECT_STREQ(link::FlashEraseWaitFor(0, false).text, "Erasing flash (2 seconds)...");
  EXPECT_EQ(link::FlashEraseWaitFor(8, false).ticks, 36);
  EXPECT_EQ(link::FlashEraseWaitFor(4, false).ticks, 720);
  EXPECT_STREQ(link::FlashEraseWaitFor(4, false).text, "Erasing flash (40 seconds)...");
  for (std::uint8_t p : {5, 6, 7, 2}) {
    EXPECT_EQ(link::FlashEraseWaitFor(p, false).ticks, 1440);
    EXPECT_STREQ(link::FlashEraseWaitFor(p, false).text, "Erasing flash (80 seconds)...");
  }
  for (std::uint8_t p : {0, 1, 4, 5, 8}) {
    EXPECT_EQ(link::FlashEraseWaitFor(p, true).ticks, 18);
    EXPECT_STREQ(link::FlashEraseWaitFor(p, true).text, "");
  }
  EXPECT_EQ(link::FlashEraseWaitFor(1, false).ticks, 18);
}

TEST(FlashDownload, LongEraseWaitsPassOnAFastClock) {
  std::vector<std::uint8_t> l, c;
  const std::string loader = Records('2', {16}, l) + S9();
  const std::string code = Records('3', {16}, c) + S9();
  for (std::uint8_t platformCode : {4, 6}) {
    RadioRig rig({}, 0.01);
    ASSERT_TRUE(rig.Open());
    const auto before = rig.host.Clock().NowMs();
    ASSERT_EQ(Download(rig, loader, code, platformCode), link::kCommSuccess);
    const auto wait = link::FlashEraseWaitFor(platformCode, false);
    EXPECT_TRUE(rig.status.Has(wait.text));
    EXPECT_GE(rig.host.Clock().NowMs() - before, wait.ticks * link::kTickMs);
  }
}

TEST(FlashDownload, NothingGoesOutAfterAStopOrAQuitDuringTheEraseWait) {
  std::vector<std::uint8_t> l, c;
  const std::string loader = Records('2', {16}, l) + S9();
  const std::string code = Records('3', {16, 16}, c) + S9();

  // A stop requested before the download: not even the start command.
  {
    RadioRig rig;
    ASSERT_TRUE(rig.Open());
    link::StopRequest stop;
    rig.host.link.stop = &stop;
    stop.Request();
    EXPECT_EQ(Download(rig, loader, code, 6), link::kCommTimedOut);
    EXPECT_EQ(rig.status.Last(), "Code download timed out or canceled by user.");
    EXPECT_EQ(Counters(rig).framesReceived, 0);
  }
  // Told to quit during the erase wait: the wait ends early and the code
  // that depends on it is not sent.
  {
    RadioRig rig;
    ASSERT_TRUE(rig.Open());
    rig.host.pump.onPump = [&rig] {
      if (rig.status.Last() == "Erasing flash (80 seconds)...") rig.host.pump.quit = true;
    };
    EXPECT_EQ(Download(rig, loader, code, 6), link::kCommTimedOut);
    EXPECT_EQ(rig.status.Last(), "Code download timed out or canceled by user.");
    EXPECT_FALSE(rig.status.Has("Downloading Application code ..."));
    EXPECT_FALSE(Received(rig, ReceivedFile::Kind::kLoader).empty());
    EXPECT_TRUE(Received(rig, ReceivedFile::Kind::kApplication, false).empty());
  }
}

TEST(DelayTicks, WaitsTicksOfTheClockAndEndsOnlyOnQuit) {
  platform::ManualClock clock;
  platform::TimerQueue timers(clock);
  platform::TimerPump pump(timers);
  int pumps = 0;
  pump.onPump = [&] { ++pumps; };
  EXPECT_TRUE(link::DelayTicks(clock, &pump, 18));
  EXPECT_EQ(clock.NowMs(), 18u * 55u);
  EXPECT_GT(pumps, 1);

  pump.onPump = [&] {
    if (clock.NowMs() >= 1000) pump.quit = true;
  };
  const auto start = clock.NowMs();
  // Cut short: the caller hears of it and must not go on with a transfer.
  EXPECT_FALSE(link::DelayTicks(clock, &pump, 1440));
  EXPECT_LT(clock.NowMs() - start, 1440u * 55u);
  EXPECT_GE(clock.NowMs(), 1000u);
}

}  // namespace
}  // namespace bcu::test

namespace bcu::test {
namespace {

TEST(FlashDownload, BusyStartOnTheSerialDeviceCountsAsTheAnswer) {
  sim::RadioConfig config;
  config.faults.busyReplies = 1;  // the loader's 02 01 is answered busy, once
  config.codeKind = sim::CodeKind::kApplication;
  RadioRig rig(config);
  ASSERT_TRUE(rig.Open());
  std::vector<std::uint8_t> l, c;
  const std::string loader = Records('2', {16, 16}, l) + S9();
  ASSERT_EQ(Download(rig, loader, Records('3', {16}, c) + S9()), link::kCommSuccess);
  const auto counters = Counters(rig);
  EXPECT_EQ(counters.busyReplies, 1);
  EXPECT_EQ(Received(rig, ReceivedFile::Kind::kLoader), PadToPair(l, 0xFF));
}

// A radio that answers every second block with busy instead of its pair sum:
// the block is resent within one time-out for the whole wait, then the
// download ends (on a clock that moves on by itself with every pump).
TEST(FlashDownload, BusyInsteadOfThePairSumEndsWithTheStepsTimeOut) {
  constexpr int kBusy = 3000;
  std::atomic<int> blocks{0};  // outlives the peer, whose thread counts in it
  test::LinkPeer peer;
  LinkHost host(std::make_unique<platform::ManualClock>());
  host.AdvancePerPump(20);
  host.ports.SetDevicePath(1, peer.DevicePath());
  peer.Start([&](const PeerFrame& f) -> PeerReplies {
    if (f.Is(0x02, 0x01)) return {LinkPeer::Frame({0x02, 0x07})};
    if (!f.Is(0x02, 0x09)) return {};
    const int n = ++blocks;
    if (n == 1) return {LinkPeer::Frame({0x02, 0x07})};
    if (n <= kBusy) return {LinkPeer::Frame({0x02, 0x0A})};
    return {};
  });
  ASSERT_TRUE(host.OpenSerial(1));
  StatusLog status;
  platform::ProgressValues bar;
  std::vector<std::uint8_t> l, c;
  std::istringstream loader(Records('2', {16}, l) + S9()), code(Records('3', {16}, c) + S9());
  EXPECT_EQ(link::FlashDownload(host.link, loader, code, StatusLog::Callback, &status, 0, bar,
                                false, false),
            link::kCommTimedOut);
  EXPECT_EQ(status.Last(), "Code download timed out or canceled by user.");
  EXPECT_EQ(host.TimeoutsFired(), 1);
  EXPECT_GT(blocks, 2);
  EXPECT_LT(blocks, kBusy);
}

TEST(FlashDownload, EmbeddedBootSetGoesIntoTheRadioUnchanged) {
  // The work files as the update writes them, then the boot download.
  app::ResourceAttributes a;
  ASSERT_TRUE(app::ReadResourceAttributes(platform::EmbeddedResources(), a));
  std::string dir = (std::filesystem::temp_directory_path() / "bcu-boot-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  struct Cleanup {
    std::string d;
    ~Cleanup() { std::filesystem::remove_all(d); }
  } cleanup{dir};
  struct Host final : platform::Host {
    void Pump() override {}
    void ShowStatusText(const std::string&) override {}
    platform::ProgressBar& Progress() override { return bar; }
    platform::MsgResult ShowMessage(const std::string& text, const std::string&, platform::MsgIcon,
                                    platform::MsgButtons) override {
      ADD_FAILURE() << text;
      return platform::MsgResult::Ok;
    }
    bool AskPassword(platform::PasswordPurpose, std::string&) override { return false; }
    std::unique_ptr<platform::Timer> CreateTimer(platform::TimerHandler) override {
      return nullptr;
    }
    platform::Clock& GetClock() override { return clock; }
    platform::ProgressValues bar;
    platform::ManualClock clock;
  } host;
  std::string loaderName, codeName;
  ASSERT_TRUE(app::ExtractEmbeddedFiles(platform::EmbeddedResources(), host, a, true, false,
                                        loaderName, codeName, dir));

  sim::RadioConfig config;
  config.codeKind = sim::CodeKind::kBoot;
  RadioRig rig(config);
  ASSERT_TRUE(rig.Open());
  std::ifstream loaderFile(dir + "/" + loaderName, std::ios::binary);
  std::ifstream codeFile(dir + "/" + codeName, std::ios::binary);
  ASSERT_EQ(link::FlashDownload(rig.host.link, loaderFile, codeFile, StatusLog::Callback,
                                &rig.status, 5, rig.bar, true, false),
            link::kCommSuccess);
  EXPECT_EQ(Received(rig, ReceivedFile::Kind::kLoader),
            PadToPair(tools::DemoImageData("Loader_Boot"), 0xFF));
  EXPECT_TRUE(Received(rig, ReceivedFile::Kind::kBoot) ==
              PadToPair(tools::DemoImageData("Code_Boot"), 0xFF));
  EXPECT_EQ(rig.status.Last(), "Download finished.");
}

}  // namespace
}  // namespace bcu::test

namespace bcu::test {
namespace {

TEST(FlashDownloadComponent, BusyStartIsSentAgain) {
  sim::RadioConfig config;
  config.faults.busyReplies = 2;
  config.codeKind = sim::CodeKind::kApplication;
  RadioRig rig(config);
  ASSERT_TRUE(rig.OpenComponent());
  std::vector<std::uint8_t> l, c;
  const std::string loader = Records('2', {16, 16}, l) + S9();
  ASSERT_EQ(Download(rig, loader, Records('3', {16, 2}, c) + S9()), link::kCommSuccess);
  EXPECT_EQ(Counters(rig).busyReplies, 2);
  EXPECT_EQ(Received(rig, ReceivedFile::Kind::kLoader), PadToPair(l, 0xFF));
  EXPECT_EQ(Received(rig, ReceivedFile::Kind::kApplication), PadToPair(c, 0xFF));
}

// The busy resends of the start command share the step's one time-out.
TEST(FlashDownloadComponent, ARadioThatStaysBusyIsGivenUpOn) {
  sim::RadioConfig config;
  config.faults.busyReplies = 1000000;  // far more than fit into one time-out
  RadioRig rig(config);
  ASSERT_TRUE(rig.OpenComponent());
  std::vector<std::uint8_t> l, c;
  const int result = Download(rig, Records('2', {16}, l) + S9(), Records('3', {16}, c) + S9());
  EXPECT_TRUE(result == link::kCommTimedOut || result == link::kCommProblem) << result;
  EXPECT_TRUE(rig.status.Last() == "Code download timed out or canceled by user." ||
              rig.status.Last() == "Communication problem during code download.");
  const int busy = Counters(rig).busyReplies;
  EXPECT_GT(busy, 1);
  EXPECT_LT(busy, 1000000);
}

TEST(FlashDownloadComponent, SilenceIsACommunicationProblem) {
  sim::RadioConfig config;
  config.faults.silentAfterBlocks = 3;
  RadioRig rig(config);
  ASSERT_TRUE(rig.OpenComponent());
  std::vector<std::uint8_t> l, c;
  EXPECT_EQ(Download(rig, Records('2', std::vector<int>(40, 16), l) + S9(), Records('3', {16}, c)),
            link::kCommProblem);
  EXPECT_EQ(rig.status.Last(), "Communication problem during code download.");
}

}  // namespace
}  // namespace bcu::test

namespace bcu::test {
namespace {

TEST(FlashDownload, TwoDownloadsOnTwoPortsInTwoThreads) {
  sim::RadioConfig config;
  config.codeKind = sim::CodeKind::kApplication;
  RadioRig first(config), second(config);
  ASSERT_TRUE(first.Open());
  ASSERT_TRUE(second.Open());
  std::vector<std::uint8_t> l1, c1, l2, c2;
  const std::string loader1 = Records('2', {16, 16}, l1, 0x100, 1) + S9();
  const std::string code1 = Records('3', std::vector<int>(100, 16), c1, 0x1000, 2) + S9();
  const std::string loader2 = Records('2', {16, 8}, l2, 0x100, 3) + S9();
  const std::string code2 = Records('3', std::vector<int>(90, 16), c2, 0x1000, 4) + S9();
  int result1 = 0, result2 = 0;
  std::thread t1([&] { result1 = Download(first, loader1, code1); });
  std::thread t2([&] { result2 = Download(second, loader2, code2); });
  t1.join();
  t2.join();
  EXPECT_EQ(result1, link::kCommSuccess);
  EXPECT_EQ(result2, link::kCommSuccess);
  EXPECT_EQ(Received(first, ReceivedFile::Kind::kApplication), PadToPair(c1, 0xFF));
  EXPECT_EQ(Received(second, ReceivedFile::Kind::kApplication), PadToPair(c2, 0xFF));
  EXPECT_EQ(first.status.Last(), "Download finished.");
  EXPECT_EQ(second.status.Last(), "Download finished.");
}

}  // namespace
}  // namespace bcu::test
