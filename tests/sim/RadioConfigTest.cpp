#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "sim/RadioConfig.h"

namespace bcu::sim {
namespace {

TEST(RadioConfig, ReadsKeysAndRefusesUnknownOnes) {
  const auto c = RadioConfigFromJson(nlohmann::json::parse(R"({
    "family": "portable", "bootVersion": "6.0", "formatAfter": [5, 10],
    "serialNumber": "01-23-45-67-89-AB-CD-EF", "password": "0042",
    "faults": {"verifyFailPair": 3, "garbageMaxBytes": 4}})"));
  EXPECT_EQ(c.family, RadioFamily::kPortable);
  EXPECT_EQ(c.bootVersion, (std::array<std::uint8_t, 2>{6, 0}));
  EXPECT_EQ(c.formatAfter, (std::array<std::uint8_t, 2>{5, 10}));
  EXPECT_EQ(c.serialNumber[7], 0xEF);
  EXPECT_EQ(c.password, "0042");
  EXPECT_EQ(c.faults.verifyFailPair, 3);
  EXPECT_EQ(c.faults.garbageMaxBytes, 4);
  EXPECT_EQ(c.controllerVersion[0], 4);  // defaults stay

  for (const char* bad :
       {R"({"colour": 1})", R"({"faults": {"wrongsums": 1}})", R"({"bootVersion": "4"})",
        R"({"bootVersion": "4.300"})", R"({"serialNumber": "0123"})", R"({"password": "12a4"})",
        R"({"family": "handheld"})", R"({"pacing": 1})"})
    EXPECT_THROW(RadioConfigFromJson(nlohmann::json::parse(bad)), std::invalid_argument) << bad;
}

TEST(RadioConfig, WritesWhatItReads) {
  RadioConfig c;
  c.startMode = RadioMode::kApplication;
  c.codeKind = CodeKind::kBoot;
  c.faults.dropLineAfterBlocks = 7;
  c.announcesStart = true;
  const RadioConfig back = RadioConfigFromJson(RadioConfigToJson(c));
  EXPECT_EQ(back.startMode, RadioMode::kApplication);
  EXPECT_EQ(back.codeKind, CodeKind::kBoot);
  EXPECT_EQ(back.faults.dropLineAfterBlocks, 7);
  EXPECT_TRUE(back.announcesStart);
  EXPECT_EQ(back.serialNumber, c.serialNumber);
  EXPECT_EQ(back.formatAfter, c.formatAfter);
}

}  // namespace
}  // namespace bcu::sim
