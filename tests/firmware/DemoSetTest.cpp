// The set that the build embeds, and the checks that keep a bad set out.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "FirmwareTestSupport.h"
#include "app/EmbeddedFiles.h"
#include "link/SRecord.h"
#include "platform/EmbeddedResources.h"
#include "resources/FirmwareSetCheck.h"
#include "tools/DemoFirmware.h"

namespace bcu {
namespace {

using testing::ReadAll;
using testing::ScratchDir;
using testing::WriteText;

// The data bytes of an S-record file as the downloads see them.
std::vector<std::uint8_t> ParseData(const std::string& path, int& records) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> data;
  std::string line;
  records = 0;
  while (link::SRecordReadLine(in, line)) {
    if (link::SRecordIsEnd(line)) break;
    const int kind = link::SRecordKind(line);
    if (kind < link::kSRecordS1 || kind > link::kSRecordS3) continue;
    ++records;
    const int first = link::SRecordFirstData(kind);
    for (int i = 0; i < link::SRecordDataLength(line); ++i)
      data.push_back(link::SRecordHexByte(line, first + 2 * i));
  }
  return data;
}

TEST(DemoSet, ExportedImagesCarryTheGeneratorsData) {
  app::ResourceAttributes a;
  ASSERT_TRUE(app::ReadResourceAttributes(platform::EmbeddedResources(), a));
  ScratchDir dir;
  int exported = 0;
  for (const auto& image : app::EmbeddedImages(a)) {
    if (image.chunks == 0) continue;
    const std::string path = dir / (image.resourceBase + ".hex");
    std::string error;
    ASSERT_TRUE(app::WriteEmbeddedImage(platform::EmbeddedResources(), image, path, error))
        << error;
    int records = 0;
    const auto data = ParseData(path, records);
    const auto expected = tools::DemoImageData(image.resourceBase);
    ASSERT_FALSE(expected.empty()) << image.resourceBase;
    EXPECT_TRUE(data == expected) << image.resourceBase << ": " << data.size() << " bytes vs "
                                  << expected.size();
    ++exported;
    if (image.resourceBase == "Code") {
      EXPECT_EQ(records, 11 * 21312 + 15105);
      EXPECT_EQ(data.size(), 3992582u);
    }
  }
  EXPECT_EQ(exported, 4);
}

TEST(DemoSet, ChunksAreCutLikeTheProductionImage) {
  std::span<const std::uint8_t> chunk;
  for (int n = 1; n <= 11; ++n) {
    ASSERT_TRUE(platform::EmbeddedResources().Find("TEXT", "Code_" + std::to_string(n), chunk));
    EXPECT_EQ(chunk.size(), 1022976u);
  }
  ASSERT_TRUE(platform::EmbeddedResources().Find("TEXT", "Code_12", chunk));
  EXPECT_EQ(chunk.size(), 725046u);
  // Every chunk passes the build's checks, and so do all images as generated.
  for (const auto& image : tools::DemoImages()) {
    bool endSeen = false;
    for (std::size_t i = 0; i < image.chunks.size(); ++i) {
      std::string error;
      EXPECT_TRUE(resources::CheckSRecordChunk(image.chunks[i], image.baseName,
                                               i + 1 == image.chunks.size(), endSeen, error))
          << error;
    }
  }
}

TEST(SetCheck, RefusesMalformedRecords) {
  const std::uint8_t d[4] = {1, 2, 3, 4};
  const std::string good = tools::MakeSRecord('3', 0x1000, d, 4);
  const std::string end = tools::MakeSRecord('9', 0, nullptr, 0);
  auto check = [](const std::string& text, bool last = true) {
    bool endSeen = false;
    std::string error;
    resources::CheckSRecordChunk(text, "Code_1.s3", last, endSeen, error);
    return error;
  };
  EXPECT_EQ(check(good + end), "");
  EXPECT_EQ(check(good, false), "");
  EXPECT_NE(check(good).find("does not end with an S9"), std::string::npos);

  std::string badSum = good;
  badSum[badSum.size() - 3] = badSum[badSum.size() - 3] == '0' ? '1' : '0';
  EXPECT_NE(check(badSum + end).find("line 1: wrong record checksum"), std::string::npos);

  const std::string odd = tools::MakeSRecord('3', 0x1000, d, 3);
  EXPECT_NE(check(good + odd + end).find("line 2: odd number of data bytes (3)"),
            std::string::npos);

  EXPECT_NE(check("S3XX\r\n" + end).find("not a hex digit"), std::string::npos);
  EXPECT_NE(check("hello\r\n" + end).find("not an S-record"), std::string::npos);
  EXPECT_NE(check("S4030000FC\r\n" + end).find("unknown record type S4"), std::string::npos);
  std::string shortRecord = good.substr(0, good.size() - 4) + "\r\n";
  EXPECT_NE(check(shortRecord + end).find("does not match"), std::string::npos);
  EXPECT_NE(check(good.substr(0, good.size() - 2)).find("no line end"), std::string::npos);
  EXPECT_NE(check(end + good).find("record after the end record"), std::string::npos);
}

TEST(SetCheck, ChunkFilesMustMatchTheCounts) {
  const std::uint8_t d[2] = {1, 2};
  const std::string image =
      tools::MakeSRecord('2', 0, d, 2) + tools::MakeSRecord('9', 0, nullptr, 0);
  app::ResourceAttributes a;
  a.LoaderChunks = 1;
  a.CodeChunks = 1;
  ScratchDir dir;
  WriteText(dir / "Loader_1.s2", image);
  WriteText(dir / "code_1.S3", image);
  std::map<std::string, std::filesystem::path> chunks;
  std::string error;
  EXPECT_TRUE(resources::CheckFirmwareSet(dir.Path(), a, chunks, error)) << error;
  EXPECT_EQ(chunks.size(), 2u);
  EXPECT_TRUE(chunks.count("CODE_1"));

  WriteText(dir / "Code_2.s3", image);
  chunks.clear();
  EXPECT_FALSE(resources::CheckFirmwareSet(dir.Path(), a, chunks, error));
  EXPECT_NE(error.find("Code_2.s3"), std::string::npos) << error;

  std::filesystem::remove(dir / "Code_2.s3");
  a.CodeChunks = 2;
  chunks.clear();
  EXPECT_FALSE(resources::CheckFirmwareSet(dir.Path(), a, chunks, error));
  EXPECT_NE(error.find("chunk Code_2 is missing"), std::string::npos) << error;

  // A DSP updater's code is a binary object file, not S-records.
  a.CodeChunks = 2;
  a.UpgradeType = app::kUpgradeDsp;
  WriteText(dir / "Code_2.s3", std::string("\x01\x02", 2));
  chunks.clear();
  EXPECT_TRUE(resources::CheckFirmwareSet(dir.Path(), a, chunks, error)) << error;
}

TEST(SetCheck, AttributesJsonRoundTripsAndRefusesUnknownFields) {
  ScratchDir dir;
  WriteText(dir / "attributes.json", resources::AttributesJson(tools::DemoDescription()));
  resources::FirmwareSetDescription a;
  std::string error;
  ASSERT_TRUE(resources::ReadAttributesJson(dir / "attributes.json", a, error)) << error;
  EXPECT_EQ(a.identity.name, "BrisantCodeUpdater_6700_Series_4");
  EXPECT_EQ(a.identity.release, "4.2");
  std::uint8_t x[68], y[68];
  app::EncodeResourceAttributes(a.attributes, x);
  app::EncodeResourceAttributes(tools::DemoAttributes(), y);
  EXPECT_EQ(0, std::memcmp(x, y, 68));

  WriteText(dir / "attributes.json", R"({"LoaderChunks":1,"CodeChunks":1,"BootLoaderChunks":0,
    "BootCodeChunks":0,"Seris":4})");
  EXPECT_FALSE(resources::ReadAttributesJson(dir / "attributes.json", a, error));
  EXPECT_NE(error.find("unknown field Seris"), std::string::npos);
  WriteText(dir / "attributes.json", R"({"LoaderChunks":1,"CodeChunks":1,"BootLoaderChunks":0,
    "BootCodeChunks":0,"ConfigDeskVersion":"10.10.10.1"})");
  EXPECT_FALSE(resources::ReadAttributesJson(dir / "attributes.json", a, error));
}

}  // namespace
}  // namespace bcu
