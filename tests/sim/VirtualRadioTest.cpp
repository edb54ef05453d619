// The radio fed bytes directly: information requests, the interface box,
// flash and DSP downloads, restarts and the injected faults.
#include <gtest/gtest.h>

#include "link/Frame.h"
#include "sim/VirtualRadio.h"
#include "support/SimTalk.h"

namespace bcu::sim {
namespace {

using test::Bytes;
using test::Pattern;
using test::SimTalk;

TEST(VirtualRadioInfo, AnswersEveryInformationRequest) {
  RadioConfig c;
  c.formatBefore = {5, 9};
  c.dspVersion = {3, 2, 1};
  c.controllerVersion = {4, 3, 0};
  c.hardwareVersion = {1, 4, 0};
  c.serialNumber = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70};
  c.bootVersion = {4, 1};
  c.semVersion = {1, 2};
  SimTalk t(c);
  EXPECT_EQ(t.Ask({0x04, 0x1C}), (Bytes{0x04, 0x1D, 5, 9}));
  EXPECT_EQ(t.Ask({0x04, 0x0B}), (Bytes{0x04, 0x0C, 3, 2, 1}));
  EXPECT_EQ(t.Ask({0x04, 0x09}), (Bytes{0x04, 0x0A, 4, 3, 0}));
  EXPECT_EQ(t.Ask({0x04, 0x07}), (Bytes{0x04, 0x08, 1, 4, 0}));
  EXPECT_EQ(t.Ask({0x04, 0x04}),
            (Bytes{0x04, 0x05, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70}));
  EXPECT_EQ(t.Ask({0x04, 0x2D}), (Bytes{0x04, 0x2E, 4, 1}));
  EXPECT_EQ(t.Ask({0x04, 0x3E}), (Bytes{0x04, 0x3F, 1, 2}));
  EXPECT_EQ(t.Ask({0x04, 0x67}), (Bytes{0x04, 0x68, 0}));  // mobile
  // Both modes answer them.
  t.radio.SetMode(RadioMode::kApplication);
  EXPECT_EQ(t.Ask({0x04, 0x2D}), (Bytes{0x04, 0x2E, 4, 1}));
  // Unknown requests get no answer.
  EXPECT_TRUE(t.Exchange({0x04, 0x55}).empty());
}

TEST(VirtualRadioInfo, NotAvailableAndSilentVariants) {
  RadioConfig c;
  c.family = RadioFamily::kPortable;
  c.hasBootInfo = false;
  c.hasSem = false;
  SimTalk t(c);
  EXPECT_EQ(t.Ask({0x04, 0x2D}), (Bytes{0x04, 0x20}));
  EXPECT_EQ(t.Ask({0x04, 0x3E}), (Bytes{0x04, 0x20}));
  EXPECT_EQ(t.Ask({0x04, 0x67}), (Bytes{0x04, 0x68, 1}));  // portable

  c.answersKindQuery = false;
  SimTalk quiet(c);
  EXPECT_TRUE(quiet.Exchange({0x04, 0x67}).empty());
}

TEST(VirtualRadioInfo, InterfaceBoxAnswersTheProbeOnlyWhenPresent) {
  const Bytes probe{0xBA, 0x7F, 0x4F, 0x09, 0x01, 0x77, 0x77, 0x77, 0xC3, 0x7E};
  SimTalk t;
  t.radio.Receive(probe.data(), probe.size());
  auto replies = t.Replies();
  ASSERT_EQ(replies.size(), 1u);
  ASSERT_EQ(replies[0].size(), 6u);
  EXPECT_EQ(replies[0][0], 0x09);
  EXPECT_EQ(replies[0][1], 0x02);

  RadioConfig c;
  c.boxPresent = false;
  SimTalk nobox(c);
  nobox.radio.Receive(probe.data(), probe.size());
  EXPECT_TRUE(nobox.Replies().empty());
  EXPECT_EQ(nobox.radio.Counters().probesAnswered, 0);
}

TEST(VirtualRadioInfo, BaudChangeIsRecordedWithoutReply) {
  SimTalk t;
  EXPECT_EQ(t.radio.BaudRate(), 19200);
  const std::pair<std::uint8_t, int> rates[] = {{5, 115200}, {0, 9600},  {3, 38400},
                                                {4, 57600},  {1, 19200}, {9, 19200}};
  for (auto [rate, baud] : rates) {
    EXPECT_TRUE(t.Exchange({0x09, 0x00, rate}).empty());
    EXPECT_EQ(t.radio.BaudRate(), baud) << int(rate);
  }
}

TEST(VirtualRadioInfo, BadChecksumIsDroppedSilently) {
  SimTalk t;
  Bytes frame = link::BuildFrame(Bytes{0x04, 0x1C}.data(), 2);
  frame[frame.size() - 2] ^= 0x01;
  t.radio.Receive(frame.data(), frame.size());
  EXPECT_TRUE(t.Replies().empty());
  EXPECT_EQ(t.radio.Counters().badFrames, 1);
  // Stuffed bytes in a command come through: a serial number request framed
  // with noise in front still gets its answer.
  const Bytes noise{0x10, 0x7E, 0x33};
  t.radio.Receive(noise.data(), noise.size());
  EXPECT_EQ(t.Ask({0x04, 0x04}).size(), 10u);
}

// A radio whose code files are application code unless told otherwise.
RadioConfig SmallRadio() {
  RadioConfig c;
  c.bootCodeMaxBytes = 512;
  c.eraseMs = 2000;
  c.restartMs = 5000;
  c.bootReentryMs = 700;
  return c;
}

TEST(VirtualRadioFlash, LoaderEraseCodeAndRestartIntoNewApplication) {
  SimTalk t(SmallRadio());
  const Bytes loader = Pattern(300, 1);
  const Bytes code = Pattern(1000, 2);
  ASSERT_TRUE(t.SendFlashFile({0x02, 0x01}, loader));

  // Erasing: nothing is answered except the processor check.
  EXPECT_TRUE(t.radio.IsBusy());
  EXPECT_EQ(t.Ask({0x02, 0x0B}), (Bytes{0x02, 0x0C, 0x00, 8}));
  EXPECT_TRUE(t.Exchange({0x02, 0x01}).empty());
  EXPECT_TRUE(t.Exchange({0x04, 0x2D}).empty());
  EXPECT_EQ(t.radio.MsUntilNextEvent(), 2000);
  t.Advance(2000);
  EXPECT_FALSE(t.radio.IsBusy());

  ASSERT_TRUE(t.SendFlashFile({0x02, 0x01}, code));
  EXPECT_TRUE(t.Exchange({0x09, 0x00, 0x01}).empty());
  // Restarting: silent.
  EXPECT_TRUE(t.Exchange({0x04, 0x1C}).empty());
  t.Advance(4999);
  EXPECT_TRUE(t.Exchange({0x04, 0x1C}).empty());
  t.Advance(1);
  t.radio.Poll();
  EXPECT_EQ(t.radio.Restarts(), 1);
  EXPECT_EQ(t.radio.Mode(), RadioMode::kApplication);
  EXPECT_EQ(t.Ask({0x04, 0x1C}), (Bytes{0x04, 0x1D, 5, 10}));
  // The application no longer takes downloads.
  EXPECT_TRUE(t.Exchange({0x02, 0x01}).empty());

  const ReceivedFile* l = t.radio.LastFile(ReceivedFile::Kind::kLoader);
  const ReceivedFile* a = t.radio.LastFile(ReceivedFile::Kind::kApplication);
  ASSERT_TRUE(l && a);
  ASSERT_EQ(l->data.size(), 512u);  // two pairs, the rest 0xFF fill
  EXPECT_TRUE(std::equal(loader.begin(), loader.end(), l->data.begin()));
  EXPECT_EQ(l->data.back(), 0xFF);
  ASSERT_EQ(a->data.size(), 1024u);
  EXPECT_TRUE(std::equal(code.begin(), code.end(), a->data.begin()));
  EXPECT_EQ(t.radio.Counters().sumsAgreed, 6);
}

TEST(VirtualRadioFlash, AnnouncesItsApplicationAfterTheRestartWhenConfigured) {
  for (bool announces : {false, true}) {
    RadioConfig c = SmallRadio();
    c.announcesStart = announces;
    SimTalk t(c);
    ASSERT_TRUE(t.SendFlashFile({0x02, 0x01}, Pattern(300, 1)));
    t.Advance(2000);
    ASSERT_TRUE(t.SendFlashFile({0x02, 0x01}, Pattern(1000, 2)));
    EXPECT_TRUE(t.Exchange({0x09, 0x00, 0x01}).empty());
    t.Advance(5000);
    // The serial number request finds the 07 25 frame in front of its answer.
    const auto replies = t.Exchange({0x04, 0x04});
    ASSERT_EQ(replies.size(), announces ? 2u : 1u) << announces;
    if (announces) {
      EXPECT_EQ(replies[0], (Bytes{0x07, 0x25}));
    }
    EXPECT_EQ(replies.back(), (Bytes{0x04, 0x05, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70}));
    EXPECT_EQ(t.Exchange({0x04, 0x1C}).size(), 1u);
  }
}

TEST(VirtualRadioFlash, SmallCodeIsBootCodeAndBringsBootloadModeBack) {
  SimTalk t(SmallRadio());
  ASSERT_TRUE(t.SendFlashFile({0x02, 0x01}, Pattern(256, 3)));
  t.Advance(2000);
  ASSERT_TRUE(t.SendFlashFile({0x02, 0x01}, Pattern(400, 4)));
  // No baud change comes: the radio restarts anyway after a grace second.
  t.Advance(1000);
  EXPECT_TRUE(t.radio.IsBusy());
  t.Advance(700);
  EXPECT_EQ(t.radio.Mode(), RadioMode::kBootload);
  EXPECT_EQ(t.Ask({0x04, 0x2D}), (Bytes{0x04, 0x2E, 4, 2}));
  EXPECT_EQ(t.Ask({0x04, 0x1C}), (Bytes{0x04, 0x1D, 5, 9}));  // application unchanged
  ASSERT_NE(t.radio.LastFile(ReceivedFile::Kind::kBoot), nullptr);
  EXPECT_EQ(t.radio.LastFile(ReceivedFile::Kind::kApplication), nullptr);
  // The next update starts with a loader again.
  ASSERT_TRUE(t.SendFlashFile({0x02, 0x01}, Pattern(10, 5)));
  EXPECT_EQ(t.radio.Files().back().kind, ReceivedFile::Kind::kLoader);
}

TEST(VirtualRadioFlash, WrongSumIsAnsweredAndEveryResendAcknowledged) {
  RadioConfig c = SmallRadio();
  c.faults.wrongSums = 1;
  SimTalk t(c);
  const Bytes data = Pattern(256, 9);
  ASSERT_EQ(t.Ask({0x02, 0x01}), (Bytes{0x02, 0x07}));
  Bytes first{0x02, 0x09}, second{0x02, 0x09};
  first.insert(first.end(), data.begin(), data.begin() + 128);
  second.insert(second.end(), data.begin() + 128, data.end());
  EXPECT_EQ(t.Ask(first), (Bytes{0x02, 0x07}));
  const Bytes sum = t.Ask(second);
  ASSERT_EQ(sum.size(), 4u);
  const std::uint16_t right = FlashPairSum(data.data(), data.size());
  EXPECT_EQ((sum[2] << 8 | sum[3]), (right + 1) & 0xFFFF);
  EXPECT_EQ(t.Ask({0x02, 0x06}), (Bytes{0x02, 0x07}));
  // The PC sends the second block again up to four times, each acknowledged.
  for (int i = 0; i < 4; ++i) EXPECT_EQ(t.Ask(second), (Bytes{0x02, 0x07})) << i;
  EXPECT_EQ(t.radio.Counters().resends, 4);
  EXPECT_EQ(t.radio.Counters().sumsDiffered, 1);
  // The next pair is a normal pair again, with the right sum.
  EXPECT_EQ(t.Ask(first), (Bytes{0x02, 0x07}));
  const Bytes sum2 = t.Ask(second);
  ASSERT_EQ(sum2.size(), 4u);
  EXPECT_EQ((sum2[2] << 8 | sum2[3]), right);
}

TEST(VirtualRadioFlash, VerifyFailureAtTheChosenPairOfTheCode) {
  RadioConfig c = SmallRadio();
  c.faults.verifyFailPair = 1;
  SimTalk t(c);
  // The loader is not verified.
  ASSERT_TRUE(t.SendFlashFile({0x02, 0x01}, Pattern(600, 1)));
  t.Advance(2000);
  ASSERT_EQ(t.Ask({0x02, 0x01}), (Bytes{0x02, 0x07}));
  const Bytes data = Pattern(512, 7);
  std::vector<Bytes> last;
  for (int b = 0; b < 4; ++b) {
    Bytes block{0x02, 0x09};
    block.insert(block.end(), data.begin() + b * 128, data.begin() + (b + 1) * 128);
    last = t.Exchange(block);
    if (b % 2 == 1) last = t.Exchange({0x02, 0x05});
  }
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0], (Bytes{0x02, 0x0A, 0x00, 0x00, 0x01, 0x00}));  // pair 1: byte 256
  EXPECT_EQ(t.radio.Counters().verifyFailures, 1);
}

TEST(VirtualRadioFlash, ProcessorCheckReportsTheConfiguredProcessor) {
  RadioConfig c;
  c.processor = 4;
  SimTalk t(c);
  const Bytes reply = t.Ask({0x02, 0x0B});
  ASSERT_GE(reply.size(), 4u);
  EXPECT_EQ(reply[0], 0x02);
  EXPECT_EQ(reply[1], 0x0C);
  EXPECT_EQ(reply[3], 4);
  // An application does not answer it.
  t.radio.SetMode(RadioMode::kApplication);
  EXPECT_TRUE(t.Exchange({0x02, 0x0B}).empty());
}

TEST(VirtualRadioFlash, BusyRepliesThenReady) {
  RadioConfig c = SmallRadio();
  c.faults.busyReplies = 2;
  SimTalk t(c);
  EXPECT_EQ(t.Ask({0x04, 0x2D}), (Bytes{0x04, 0x20}));
  EXPECT_EQ(t.Ask({0x04, 0x2D}), (Bytes{0x04, 0x20}));
  EXPECT_EQ(t.Ask({0x04, 0x2D}), (Bytes{0x04, 0x2E, 4, 1}));
  EXPECT_EQ(t.Ask({0x02, 0x01}), (Bytes{0x02, 0x0A}));
  EXPECT_EQ(t.Ask({0x02, 0x01}), (Bytes{0x02, 0x0A}));
  // A PC that takes the busy reply as the answer may send blocks at once.
  Bytes block{0x02, 0x09};
  block.resize(130, 0x11);
  EXPECT_EQ(t.Ask(block), (Bytes{0x02, 0x07}));
  EXPECT_EQ(t.Ask({0x02, 0x01}), (Bytes{0x02, 0x07}));
  EXPECT_EQ(t.radio.Counters().busyReplies, 4);
}

TEST(VirtualRadioDsp, PagesAreKeptApartAndConfirmed) {
  SimTalk t(SmallRadio());
  ASSERT_TRUE(t.SendFlashFile({0x02, 0x01}, Pattern(100, 1)));
  t.Advance(2000);
  ASSERT_EQ(t.Ask({0x02, 0x00}), (Bytes{0x02, 0x07}));
  const Bytes pages[2] = {Pattern(256, 0x40), Pattern(512, 0x50)};
  for (const Bytes& page : pages) {
    for (std::size_t off = 0; off < page.size(); off += 256) {
      Bytes b1{0x02, 0x09}, b2{0x02, 0x09};
      b1.insert(b1.end(), page.begin() + static_cast<long>(off),
                page.begin() + static_cast<long>(off + 128));
      b2.insert(b2.end(), page.begin() + static_cast<long>(off + 128),
                page.begin() + static_cast<long>(off + 256));
      EXPECT_EQ(t.Ask(b1), (Bytes{0x02, 0x07}));
      EXPECT_EQ(t.Ask(b2)[1], 0x02);
      // A differing sum is only noted: the DSP download carries on.
      EXPECT_EQ(t.Ask({0x02, 0x06}), (Bytes{0x02, 0x07}));
    }
    EXPECT_EQ(t.Ask({0x02, 0x08}), (Bytes{0x02, 0x03}));
  }
  EXPECT_TRUE(t.Exchange({0x02, 0x04}).empty());
  const auto got = t.radio.DspPages();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0]->page, 1);
  EXPECT_EQ(got[0]->data, pages[0]);
  EXPECT_EQ(got[1]->data, pages[1]);
  EXPECT_EQ(t.radio.Counters().resends, 0);
  EXPECT_EQ(t.radio.Counters().dspPagesWritten, 2);
}

TEST(VirtualRadioFaults, CorruptedAndNoisyRepliesStillParseWhereGood) {
  RadioConfig c;
  c.faults.corruptReplyEvery = 2;
  c.faults.garbageMaxBytes = 8;
  c.faults.garbageSeed = 42;
  SimTalk t(c);
  int good = 0;
  for (int i = 0; i < 10; ++i) good += t.Exchange({0x04, 0x1C}).size();
  EXPECT_EQ(good, 5);  // every second frame fails the PC's checksum
  EXPECT_EQ(t.radio.Counters().framesSent, 10);
}

TEST(VirtualRadioFaults, SilenceAndLineDropAfterBlocks) {
  RadioConfig c = SmallRadio();
  c.faults.silentAfterBlocks = 3;
  SimTalk t(c);
  ASSERT_EQ(t.Ask({0x02, 0x01}), (Bytes{0x02, 0x07}));
  Bytes block{0x02, 0x09};
  block.resize(130, 0x22);
  EXPECT_EQ(t.Ask(block), (Bytes{0x02, 0x07}));
  EXPECT_EQ(t.Ask(block).size(), 4u);
  EXPECT_EQ(t.Ask({0x02, 0x05}), (Bytes{0x02, 0x07}));
  EXPECT_EQ(t.Ask(block), (Bytes{0x02, 0x07}));
  EXPECT_TRUE(t.Exchange(block).empty());
  EXPECT_TRUE(t.Exchange({0x04, 0x1C}).empty());
  EXPECT_FALSE(t.radio.LineDropRequested());

  RadioConfig d = SmallRadio();
  d.faults.dropLineAfterBlocks = 1;
  SimTalk u(d);
  ASSERT_EQ(u.Ask({0x02, 0x01}), (Bytes{0x02, 0x07}));
  EXPECT_EQ(u.Ask(block), (Bytes{0x02, 0x07}));
  EXPECT_FALSE(u.radio.LineDropRequested());
  EXPECT_TRUE(u.Exchange(block).empty());
  EXPECT_TRUE(u.radio.LineDropRequested());
}

TEST(VirtualRadioLine, PacingHoldsBytesForTheirLineTime) {
  RadioConfig c;
  c.pacing = true;
  SimTalk t(c);
  // 04 1C framed is 7 bytes: 3.6 ms at 19200 baud before the radio has it.
  t.Send({0x04, 0x1C});
  EXPECT_TRUE(t.Replies().empty());
  EXPECT_EQ(t.radio.MsUntilNextEvent(), 4);
  t.Advance(4);
  // The 9-byte reply takes another 4.7 ms.
  EXPECT_TRUE(t.Replies().empty());
  t.Advance(5);
  EXPECT_EQ(t.Replies().size(), 1u);
  EXPECT_EQ(t.radio.MsUntilNextEvent(), -1);
  // At 115200 the same exchange takes well under 2 ms.
  t.Send({0x09, 0x00, 0x05});
  t.Advance(5);
  t.Send({0x04, 0x1C});
  t.Advance(2);
  EXPECT_EQ(t.Replies().size(), 1u);
}

// A clock with a microsecond time line, moved by hand.
class MicroClock final : public platform::Clock {
 public:
  std::uint64_t NowMs() override { return us_ / 1000; }
  std::uint64_t NowUs() override { return us_; }
  void SleepMs(std::uint32_t ms) override { us_ += 1000u * ms; }
  void AdvanceUs(std::uint64_t us) { us_ += us; }

 private:
  std::uint64_t us_ = 0;
};

TEST(VirtualRadioLine, PacedRepliesEndOnTheMicrosecondTheyAreDue) {
  RadioConfig c;
  c.pacing = true;
  MicroClock clock;
  VirtualRadio radio(c, clock);
  auto send = [&](const Bytes& payload) {
    const Bytes frame = link::BuildFrame(payload.data(), static_cast<std::int32_t>(payload.size()));
    radio.Receive(frame.data(), frame.size());
  };
  send({0x09, 0x00, 0x05});  // 115200 baud: 86.8 us a byte
  clock.AdvanceUs(10000);
  EXPECT_TRUE(radio.TakeOutput().empty());
  ASSERT_EQ(radio.BaudRate(), 115200);

  // 04 1C is 7 bytes on the line: complete after 607.6 us.
  const int framesBefore = radio.Counters().framesReceived;
  send({0x04, 0x1C});
  EXPECT_EQ(radio.UsUntilNextEvent(), 608);
  EXPECT_EQ(radio.MsUntilNextEvent(), 1);
  clock.AdvanceUs(607);
  EXPECT_TRUE(radio.TakeOutput().empty());
  EXPECT_EQ(radio.Counters().framesReceived, framesBefore);
  clock.AdvanceUs(1);
  radio.Poll();
  EXPECT_EQ(radio.Counters().framesReceived, framesBefore + 1);

  // The 9-byte reply follows at once and ends 781.3 us later, at 1388.9 us:
  // the radio wakes for that byte, not a whole millisecond later.
  EXPECT_EQ(radio.UsUntilNextEvent(), 781);
  clock.AdvanceUs(780);
  const Bytes early = radio.TakeOutput();
  EXPECT_EQ(early.size(), 8u);
  EXPECT_EQ(radio.UsUntilNextEvent(), 1);
  clock.AdvanceUs(1);
  Bytes reply = early;
  const Bytes last = radio.TakeOutput();
  reply.insert(reply.end(), last.begin(), last.end());
  link::FrameParser parser;
  int frames = 0;
  for (std::uint8_t b : reply)
    if (parser.Feed(b)) {
      ++frames;
      EXPECT_EQ(Bytes(parser.Payload(), parser.Payload() + parser.PayloadLength()),
                (Bytes{0x04, 0x1D, 5, 9}));
    }
  EXPECT_EQ(frames, 1);
  EXPECT_EQ(radio.UsUntilNextEvent(), -1);
}

TEST(VirtualRadioLine, BytesInsideAFrameWaitAtMostAMillisecond) {
  // A 130-byte upload block at 19200 baud lasts about 70 ms: the radio hands
  // its bytes over at least every millisecond, never all at the end.
  RadioConfig c;
  c.pacing = true;
  c.startMode = RadioMode::kApplication;
  MicroClock clock;
  VirtualRadio radio(c, clock);
  const Bytes start{0x03, 0x07};
  const Bytes frame = link::BuildFrame(start.data(), 2);
  radio.Receive(frame.data(), frame.size());
  clock.AdvanceUs(static_cast<std::uint64_t>(radio.UsUntilNextEvent()));  // the start is in
  std::size_t got = 0;
  int wakeUps = 0;
  for (std::int64_t next = radio.UsUntilNextEvent(); next >= 0 && wakeUps < 1000;
       next = radio.UsUntilNextEvent()) {
    EXPECT_LE(next, 1000 + 521);  // a millisecond past the next byte's 520.8 us
    clock.AdvanceUs(static_cast<std::uint64_t>(next));
    got += radio.TakeOutput().size();
    ++wakeUps;
  }
  EXPECT_GE(got, 7u + 134u);                  // 03 0D, then the first block
  EXPECT_LT(wakeUps, static_cast<int>(got));  // batched, not one wake-up a byte
}

}  // namespace
}  // namespace bcu::sim
