#include "link/SRecord.h"

#include <gtest/gtest.h>

#include <sstream>

namespace bcu::link {
namespace {

TEST(SRecord, KindsLengthsAndWords) {
  EXPECT_EQ(SRecordKind("S1130000"), kSRecordS1);
  EXPECT_EQ(SRecordKind("S2"), kSRecordS2);
  EXPECT_EQ(SRecordKind("S315"), kSRecordS3);
  EXPECT_EQ(SRecordKind("S0"), kSRecordS0);
  for (const char* other : {"S5030000FC", "S8", "S9", "s1", "", "S"})
    EXPECT_EQ(SRecordKind(other), -1);
  EXPECT_TRUE(SRecordIsEnd("S9030000FC"));
  EXPECT_TRUE(SRecordIsEnd("S70500000000FA"));
  EXPECT_FALSE(SRecordIsEnd("S804000000FB"));

  EXPECT_EQ(SRecordDataLength("S1130000"), 0x13 - 2 - 1);
  EXPECT_EQ(SRecordDataLength("S2140000"), 0x14 - 3 - 1);
  EXPECT_EQ(SRecordDataLength("S3150000"), 0x15 - 4 - 1);
  EXPECT_EQ(SRecordDataLength("S3030000"), -2);  // malformed: no data

  // A goes first: the word is B * 256 + A; digits in either case.
  EXPECT_EQ(SRecordHexWord("0012ab", 2), 0xAB12);
  EXPECT_EQ(SRecordHexWord("0012AB", 2), 0xAB12);
  EXPECT_EQ(SRecordHexWord("12", 0), 0x0012);  // beyond the line counts as 0
  EXPECT_EQ(SRecordHexWord("1G2x", 0), 0x2010);
}

TEST(SRecord, ReadsLinesAndPiecesOfLongLines) {
  const std::string longLine(350, 'A');
  std::istringstream in("S1\r\nS2\n" + longLine + "\r\nlast");
  std::string line;
  ASSERT_TRUE(SRecordReadLine(in, line));
  EXPECT_EQ(line, "S1");
  ASSERT_TRUE(SRecordReadLine(in, line));
  EXPECT_EQ(line, "S2");
  ASSERT_TRUE(SRecordReadLine(in, line));
  EXPECT_EQ(line.size(), 299u);
  ASSERT_TRUE(SRecordReadLine(in, line));
  EXPECT_EQ(line.size(), 51u);
  ASSERT_TRUE(SRecordReadLine(in, line));
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(SRecordReadLine(in, line));

  // A line of 298 characters and its line end fit one read.
  std::istringstream exact(std::string(298, 'B') + "\r\nS9");
  ASSERT_TRUE(SRecordReadLine(exact, line));
  EXPECT_EQ(line.size(), 298u);
  ASSERT_TRUE(SRecordReadLine(exact, line));
  EXPECT_EQ(line, "S9");
}

}  // namespace
}  // namespace bcu::link
