// Platform codes, the name/release rule and the version panel texts.
#include <gtest/gtest.h>

#include "app/CodeUpdater.h"

namespace bcu::app {
namespace {

TEST(PlatformCode, FromAttributes) {
  // Mobile: without the new platform every series is platform 1.
  EXPECT_EQ(PlatformCodeFromAttributes(1, 4, 0), 1);
  EXPECT_EQ(PlatformCodeFromAttributes(1, 6, 0), 1);
  EXPECT_EQ(PlatformCodeFromAttributes(1, 4, 1), 7);
  EXPECT_EQ(PlatformCodeFromAttributes(1, 6, 1), 8);
  EXPECT_EQ(PlatformCodeFromAttributes(1, 5, 1), 5);
  EXPECT_EQ(PlatformCodeFromAttributes(1, 7, 2), 5);
  // Portable: the new-platform flag does not matter.
  EXPECT_EQ(PlatformCodeFromAttributes(0, 4, 0), 6);
  EXPECT_EQ(PlatformCodeFromAttributes(0, 6, 1), 0);
  EXPECT_EQ(PlatformCodeFromAttributes(0, 5, 0), 4);
  EXPECT_EQ(PlatformCodeFromAttributes(0, 0, 0), 4);
}

TEST(PlatformCode, FromBoot) {
  EXPECT_EQ(PlatformCodeFromBoot(1, 4, 2), 7);
  EXPECT_EQ(PlatformCodeFromBoot(1, 6, 0), 8);
  EXPECT_EQ(PlatformCodeFromBoot(1, 2, 0), 5);
  EXPECT_EQ(PlatformCodeFromBoot(1, 7, 0), 5);
  EXPECT_EQ(PlatformCodeFromBoot(1, 1, 9), 5);
  EXPECT_EQ(PlatformCodeFromBoot(1, 1, 8), 1);
  EXPECT_EQ(PlatformCodeFromBoot(1, 0, 200), 1);
  EXPECT_EQ(PlatformCodeFromBoot(0, 4, 0), 6);
  EXPECT_EQ(PlatformCodeFromBoot(0, 7, 3), 6);
  EXPECT_EQ(PlatformCodeFromBoot(0, 6, 1), 0);
  EXPECT_EQ(PlatformCodeFromBoot(0, 5, 0), 4);
}

TEST(PlatformCode, FamilyNames) {
  EXPECT_EQ(FamilyName(0), "6400");
  EXPECT_EQ(FamilyName(1), "6700");
  EXPECT_EQ(FamilyName(2), "");
}

TEST(ProgramName, NameIsFileNameBeforeFirstDot) {
  EXPECT_EQ(ProgramNameFromPath("/opt/bcu/Anything_Release_4_1.exe"), "Anything_Release_4_1");
  EXPECT_EQ(ProgramNameFromPath("C:\\Tools\\Updater.v2.exe"), "Updater");
  EXPECT_EQ(ProgramNameFromPath("bcu"), "bcu");
  EXPECT_EQ(ProgramNameFromPath("/usr/local/bin/"), "");
}

TEST(ProgramName, ReleaseRule) {
  EXPECT_EQ(ReleaseFromNameLabel("Name: Anything_Release_4_1"), "4.1");
  // Underscores away from "Release" become blanks; only the underscore that
  // stands two characters after "Release" becomes a dot.
  EXPECT_EQ(ReleaseFromNameLabel("Name: Mobile_6700_Release_2_3_beta"), "2.3 beta");
  EXPECT_EQ(ReleaseFromNameLabel("Name: Mobile_Release_12_3"), "12 3");
  // No "Release " at all.
  EXPECT_EQ(ReleaseFromNameLabel("Name: bcu"), "N/A");
  EXPECT_EQ(ReleaseFromNameLabel("Name: ReleaseX"), "N/A");
  // The last character is never changed: a trailing underscore stays.
  EXPECT_EQ(ReleaseFromNameLabel("Name: X_Release_5_"), "5_");
  // The look-back reaches the very first character.
  EXPECT_EQ(ReleaseFromNameLabel("Release_4_1"), "4.1");
  EXPECT_EQ(ReleaseFromNameLabel("_"), "N/A");
  // The label text is trimmed first.
  EXPECT_EQ(ReleaseFromNameLabel("  Name: A_Release_1_0  "), "1.0");
}

link::VersionInfo MakeInfo(std::initializer_list<std::uint8_t> bytes) {
  link::VersionInfo info;
  int i = 0;
  for (auto b : bytes) info.data[i++] = b;
  return info;
}

TEST(VersionPanel, FullRecordOnPlatform7) {
  const auto info = MakeInfo({5,    10,   1,    2,    3,    4,    0,    255, 9, 8, 7, 0x00,
                              0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70, 4,   2, 1, 3});
  const auto panel = FormatVersionPanel(info, 7);
  EXPECT_EQ(panel.FileVersionLabel, "5.10");
  EXPECT_EQ(panel.DSPVersionLabel, "1.2.3");
  EXPECT_EQ(panel.HWControllerVersionHeadingLabel, "Controller Version:");
  EXPECT_EQ(panel.HWControllerVersionLabel, "4.0.255");
  EXPECT_EQ(panel.HWRevisionLabel, "9.8.7");
  EXPECT_EQ(panel.SerialNumberLabel, "00-1A-2B-3C-4D-5E-6F-70");
  EXPECT_EQ(panel.BootLoadVersionLabel, "4.2");
  EXPECT_EQ(panel.SEMVersionLabel, "1.3");
}

TEST(VersionPanel, NotApplicableCases) {
  auto info = MakeInfo({5, 9, 1, 0, 0, 2, 0, 0, 9, 8, 7, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0});
  for (std::uint8_t code : {0, 4, 6, 8}) {
    const auto panel = FormatVersionPanel(info, code);
    EXPECT_EQ(panel.HWRevisionLabel, "Not Applicable") << int(code);
  }
  for (std::uint8_t code : {1, 5, 7})
    EXPECT_EQ(FormatVersionPanel(info, code).HWRevisionLabel, "9.8.7");
  auto panel = FormatVersionPanel(info, 8);
  EXPECT_EQ(panel.SerialNumberLabel, "00-00-00-00-00-00-00-01");
  EXPECT_EQ(panel.BootLoadVersionLabel, "Not Applicable");
  EXPECT_EQ(panel.SEMVersionLabel, "Not Applicable");
  // A zero major with a non-zero minor is a version.
  info.data[20] = 5;
  info.data[22] = 5;
  panel = FormatVersionPanel(info, 8);
  EXPECT_EQ(panel.BootLoadVersionLabel, "0.5");
  EXPECT_EQ(panel.SEMVersionLabel, "0.5");
}

}  // namespace
}  // namespace bcu::app
