// The virtual radio on a pseudo-terminal, driven by the updater's real link
// over the serial device transport.
#include <gtest/gtest.h>

#include "link/CommLink.h"
#include "sim/PtyRadio.h"
#include "support/LinkHost.h"
#include "support/SimTalk.h"

namespace bcu::sim {
namespace {

using test::Bytes;
using namespace bcu::link;

class PtyLink : public ::testing::Test {
 protected:
  void Serve(RadioConfig config) {
    radio_ = std::make_unique<PtyRadio>(std::move(config));
    std::string error;
    ASSERT_TRUE(radio_->Start(&error)) << error;
    host_.ports.SetDevicePath(1, radio_->DevicePath());
    ASSERT_TRUE(host_.OpenSerial(1, &error)) << error;
  }
  void TearDown() override {
    CommCloseLink(host_.link);
    if (radio_) radio_->Stop();
  }

  int SendPayload(const Bytes& payload) {
    CommPacket p;
    p.length = static_cast<std::int32_t>(payload.size());
    std::copy(payload.begin(), payload.end(), p.data);
    return CommSendPacket(host_.link, p);
  }
  // Waits for a reply of this code and payload length (or 02 0A, length 2 or
  // 6, as the alternative); returns it, empty when none came.
  Bytes Wait(std::uint8_t group, std::uint8_t code, int length, int altLength = 2) {
    CommPacket expected, alternative;
    expected.length = 2;
    expected.data[0] = group;
    expected.data[1] = code;
    alternative.length = 2;
    alternative.data[0] = 0x02;
    alternative.data[1] = 0x0A;
    bool gotAlternative = false;
    const CommPacket r =
        CommWaitReply(host_.link, expected, length, false, alternative, altLength, gotAlternative);
    return Bytes(r.data, r.data + r.length);
  }

  test::LinkHost host_;
  std::unique_ptr<PtyRadio> radio_;
};

TEST_F(PtyLink, ReadRadioInfoTimedGetsEveryVersion) {
  RadioConfig c;
  c.bootVersion = {4, 1};
  Serve(c);
  VersionInfo info;
  ASSERT_EQ(CommReadRadioInfoTimed(host_.link, 7, info, true), kCommSuccess);
  const Bytes want{5,    9,    3,    2,    1,    4,    3,    0, 1, 4, 0, 0x00,
                   0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70, 4, 1, 1, 2};
  EXPECT_EQ(Bytes(info.data, info.data + 23), want);
}

TEST_F(PtyLink, MissingSemAndBootInformation) {
  RadioConfig c;
  c.hasSem = false;
  c.hasBootInfo = false;
  Serve(c);
  VersionInfo info;
  // Platform 7 takes a missing boot version as "not available"; the 04 20
  // answer to 04 3E is a frame, so the SEM bytes are those of the 04 20 reply.
  // The link takes the 04 20 answers as replies without data (zeros).
  EXPECT_EQ(CommReadRadioInfoTimed(host_.link, 7, info, true), kCommSuccess);
  EXPECT_EQ(Bytes(info.data + 19, info.data + 23), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(radio_->With([](VirtualRadio& r) { return r.Counters().infoRequests; }), 7);
  // The boot query's 04 20 is "not available", never boot version 0.0.
  std::uint8_t boot[2] = {9, 9};
  EXPECT_EQ(CommReadBootInfo(host_.link, 7, boot), kCommNotAvailable);
  EXPECT_EQ(boot[0], 0);
  EXPECT_EQ(boot[1], 0);
}

TEST_F(PtyLink, ProbeFindsTheBoxOnlyWhenPresent) {
  Serve({});
  CommSetTimeout(host_.link, 500);
  EXPECT_TRUE(CommProbeInterface(host_.link));
  EXPECT_EQ(radio_->With([](VirtualRadio& r) { return r.Counters().probesAnswered; }), 1);
  TearDown();

  RadioConfig c;
  c.boxPresent = false;
  Serve(c);
  CommSetTimeout(host_.link, 500);
  EXPECT_FALSE(CommProbeInterface(host_.link));
}

class PtyDownload : public PtyLink, public ::testing::WithParamInterface<bool> {};

// Loader and code through the Comm* API at 115200, with the line rate modelled
// or not; then the restart and the new application's format version.
TEST_P(PtyDownload, SmallDownloadThroughTheCommApi) {
  RadioConfig c;
  c.pacing = GetParam();
  c.eraseMs = 0;
  c.codeKind = CodeKind::kApplication;
  c.restartMs = 100;
  Serve(c);
  CommSetTimeout(host_.link, 4000);
  CommChangeBaud(host_.link, 115200);
  const Bytes data = test::Pattern(700, 0x31);
  for (int file = 0; file < 2; ++file) {
    SCOPED_TRACE(file == 0 ? "loader" : "code");
    ASSERT_GT(SendPayload({0x02, 0x01}), 0);
    ASSERT_EQ(Wait(0x02, 0x07, 2), (Bytes{0x02, 0x07}));
    Bytes padded = data;
    padded.resize(768, 0xFF);
    for (std::size_t off = 0; off < padded.size(); off += 128) {
      Bytes block{0x02, 0x09};
      block.insert(block.end(), padded.begin() + static_cast<long>(off),
                   padded.begin() + static_cast<long>(off + 128));
      ASSERT_GT(SendPayload(block), 0);
      if ((off / 128) % 2 == 1) {
        const Bytes sum = Wait(0x02, 0x02, 4);
        ASSERT_EQ(sum.size(), 4u) << "pair sum at " << off;
        std::uint16_t mine = 0;
        for (std::size_t i = off - 128; i < off + 128; i += 2)
          mine = static_cast<std::uint16_t>(mine + (padded[i + 1] << 8 | padded[i]));
        EXPECT_EQ((sum[2] << 8 | sum[3]), mine);
        SendPayload({0x02, 0x05});
      }
      ASSERT_EQ(Wait(0x02, 0x07, 2, 6), (Bytes{0x02, 0x07})) << "ack at " << off;
    }
    SendPayload({0x02, 0x04});
  }
  CommChangeBaud(host_.link, 19200);
  // After the restart the new application answers with the new format.
  host_.Clock().SleepMs(300);
  ASSERT_GT(SendPayload({0x04, 0x1C}), 0);
  EXPECT_EQ(Wait(0x04, 0x1D, 4), (Bytes{0x04, 0x1D, 5, 10}));
  radio_->With([&](VirtualRadio& r) {
    const ReceivedFile* code = r.LastFile(ReceivedFile::Kind::kApplication);
    EXPECT_NE(code, nullptr);
    if (code) {
      EXPECT_TRUE(std::equal(data.begin(), data.end(), code->data.begin()));
    }
    EXPECT_EQ(r.Restarts(), 1);
    EXPECT_EQ(r.BaudRate(), 19200);
    EXPECT_EQ(r.Counters().sumsAgreed, 6);
    return 0;
  });
}

INSTANTIATE_TEST_SUITE_P(Pacing, PtyDownload, ::testing::Bool());

TEST_F(PtyLink, DroppedLineEndsTheWaitAsACommunicationProblem) {
  RadioConfig c;
  c.faults.dropLineAfterBlocks = 1;
  Serve(c);
  CommSetTimeout(host_.link, 4000);
  ASSERT_GT(SendPayload({0x02, 0x01}), 0);
  ASSERT_EQ(Wait(0x02, 0x07, 2), (Bytes{0x02, 0x07}));
  Bytes block{0x02, 0x09};
  block.resize(130, 0x44);
  SendPayload(block);
  ASSERT_EQ(Wait(0x02, 0x07, 2), (Bytes{0x02, 0x07}));
  SendPayload(block);
  EXPECT_TRUE(Wait(0x02, 0x02, 4).empty());
  EXPECT_EQ(CommGetResult(host_.link), kCommProblem);
  EXPECT_TRUE(radio_->LineClosed());
}

}  // namespace
}  // namespace bcu::sim
