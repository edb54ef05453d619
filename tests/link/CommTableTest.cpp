#include <gtest/gtest.h>

#include <set>

#include "link/CommLink.h"

namespace bcu::link {
namespace {

TEST(CommTable, EveryKeyIsFoundOnceAndRowsCarryTheirCodes) {
  std::set<int> keys;
  for (int row = 0; row < kCommCommandCount; ++row) {
    const CommCommand& c = CommCommandRow(row);
    EXPECT_TRUE(keys.insert(c.key).second) << "key " << c.key;
    EXPECT_EQ(CommFindCommand(c.key), row);
  }
  EXPECT_EQ(keys.size(), 60u);
  EXPECT_EQ(CommFindCommand(60), -1);
  EXPECT_EQ(CommFindCommand(-1), -1);
  // Rows the link and the downloads rely on.
  struct Want {
    int key;
    std::uint8_t group, code, one;
    int data;
  } want[] = {{1, 0x02, 0x00, 0xD8, 0},    {3, 0x02, 0x02, 0xC5, 2},  {8, 0x02, 0x07, 0xC4, 0},
              {13, 0x03, 0x02, 0xD9, 128}, {25, 0x04, 0x05, 0x00, 8}, {29, 0x04, 0x0A, 0x72, 3},
              {34, 0x04, 0x1A, 0x00, 16},  {40, 0x00, 0x00, 0x73, 8}, {42, 0x09, 0x00, 0x00, 0},
              {48, 0x02, 0x09, 0xD9, 128}, {51, 0x04, 0x20, 0xC7, 0}, {54, 0x04, 0x2C, 0x00, 4},
              {57, 0x04, 0x2E, 0x00, 2},   {59, 0x04, 0x3F, 0x00, 2}};
  for (const auto& w : want) {
    const CommCommand& c = CommCommandRow(CommFindCommand(w.key));
    EXPECT_EQ(c.group, w.group) << w.key;
    EXPECT_EQ(c.code, w.code) << w.key;
    EXPECT_EQ(c.oneByteCode, w.one) << w.key;
    EXPECT_EQ(c.dataBytes, w.data) << w.key;
  }
}

TEST(CommTable, MakeCommandAndReplyLength) {
  CommPacket p;
  ASSERT_TRUE(CommMakeCommand(p, kKeyDataBlock, true));
  EXPECT_EQ(p.length, 2);
  EXPECT_EQ(p.data[0], 0x02);
  EXPECT_EQ(p.data[1], 0x09);
  ASSERT_TRUE(CommMakeCommand(p, kKeyDataBlock, false));
  EXPECT_EQ(p.length, 1);
  EXPECT_EQ(p.data[0], 0xD9);
  p.data[0] = 0x55;
  EXPECT_FALSE(CommMakeCommand(p, 77, true));
  EXPECT_EQ(p.length, 1);
  EXPECT_EQ(p.data[0], 0x55);
  EXPECT_EQ(CommReplyLength(kKeyDataBlock, true), 130);
  EXPECT_EQ(CommReplyLength(kKeyDataBlock, false), 129);
  EXPECT_EQ(CommReplyLength(kKeyDeviceSerialReply, true), 10);
  EXPECT_EQ(CommReplyLength(kKeyNotAvailable, true), 2);
  EXPECT_EQ(CommReplyLength(99, true), 0);
  EXPECT_STREQ(CommCodeName(0x02, 0x09), "02 09 data block");
  EXPECT_STREQ(CommCodeName(0x7A, 0x7A), "unknown command");
}

TEST(CommTable, BaudCodesAndWordSum) {
  EXPECT_EQ(CommSerialBaudCode(9600), 12);
  EXPECT_EQ(CommSerialBaudCode(19200), 14);
  EXPECT_EQ(CommSerialBaudCode(38400), 15);
  EXPECT_EQ(CommSerialBaudCode(57600), 17);
  EXPECT_EQ(CommSerialBaudCode(115200), 19);
  EXPECT_EQ(CommSerialBaudCode(14400), 14);
  EXPECT_EQ(CommSerialBaudCode(0), 14);
  const std::uint8_t d[] = {0x12, 0x34, 0xFF, 0xFF, 0x00, 0x01, 0xAB};
  EXPECT_EQ(CommWordSum(d, 6), static_cast<std::uint16_t>(0x1234 + 0xFFFF + 0x0001));
  EXPECT_EQ(CommWordSum(d, 0), 0);
  // An odd count ends in a half word whose low byte counts as zero.
  EXPECT_EQ(CommWordSum(d, 7), static_cast<std::uint16_t>(0x1234 + 0xFFFF + 0x0001 + 0xAB00));
}

TEST(CommState, InitResultAndLineIdleByTransport) {
  CommLink link;
  link.running = true;
  link.useComPort = true;
  link.lineIdle = true;
  link.portLost = true;
  CommInitLink(link);
  EXPECT_FALSE(link.running);
  EXPECT_FALSE(link.useComPort);
  EXPECT_EQ(link.comPort, nullptr);
  EXPECT_EQ(link.serialDevice, nullptr);
  EXPECT_EQ(CommGetResult(link), kCommTimedOut);
  CommSetRunning(link, true);
  EXPECT_TRUE(CommIsRunning(link));
  EXPECT_EQ(CommGetResult(link), kCommSuccess);
  link.lineIdle = true;
  EXPECT_FALSE(CommIsLineIdle(link));  // only the component transport reports it
  EXPECT_EQ(CommGetResult(link), kCommSuccess);
  link.useComPort = true;
  EXPECT_TRUE(CommIsLineIdle(link));
  EXPECT_EQ(CommGetResult(link), kCommProblem);
  link.useComPort = false;
  link.portLost = true;
  EXPECT_EQ(CommGetResult(link), kCommProblem);
  EXPECT_TRUE(CommSetTimeout(link, 1234));
  EXPECT_EQ(link.timeoutMs, 1234u);
  CommSetFramed(link, true);
  EXPECT_EQ(link.framed, 1);
  // A link without a device: closing leaves it as it is.
  CommCloseLink(link);
  EXPECT_EQ(link.serialDevice, nullptr);
}

}  // namespace
}  // namespace bcu::link
