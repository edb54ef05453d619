// A firmware set folder taken at run time, checked as the build checks the set
// it embeds; attribute values that would make an updater do harm are refused
// there and at build time alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "FirmwareTestSupport.h"
#include "app/EmbeddedFiles.h"
#include "app/FirmwareSetIdentity.h"
#include "platform/EmbeddedResources.h"
#include "resources/FirmwareSetCheck.h"
#include "resources/FirmwareSetFolder.h"
#include "tools/DemoFirmware.h"

namespace bcu {
namespace {

using testing::ReadAll;
using testing::ScratchDir;
using testing::WriteText;

// An S-record image of `n` data bytes from `seed`, 16 bytes to a record.
std::string Image(char type, int n, std::uint8_t seed) {
  std::string text;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i)
    data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(seed + i * 7);
  for (int at = 0; at < n; at += 16)
    text += tools::MakeSRecord(type, static_cast<std::uint32_t>(at), data.data() + at,
                               static_cast<std::size_t>(std::min(16, n - at)));
  return text + tools::MakeSRecord('9', 0, nullptr, 0);
}

// A good Application/Boot set: one loader chunk, two code chunks, boot images.
void WriteGoodSet(const ScratchDir& dir) {
  WriteText(dir / "attributes.json", R"({
    "Name": "Mobile_6700_Series_4", "Release": "5.0.1",
    "LoaderChunks": 1, "CodeChunks": 2, "BootLoaderChunks": 1, "BootCodeChunks": 1,
    "BootMajor": 4, "BootMinor": 3, "RadioFamily": 1, "NewPlatform": 1, "Series": 4,
    "UpgradeType": 3, "ConfigDeskVersion": "2.11.0"})");
  WriteText(dir / "Loader_1.s2", Image('2', 64, 1));
  const std::string code = Image('3', 96, 2);
  const auto cut = code.find("\r\nS3", code.size() / 2) + 2;  // at a record boundary
  WriteText(dir / "Code_1.s3", code.substr(0, cut));
  WriteText(dir / "Code_2.s3", code.substr(cut));
  WriteText(dir / "Loader_Boot_1.s2", Image('2', 32, 3));
  WriteText(dir / "Code_Boot_1.s3", Image('3', 48, 4));
}

std::string Resource(const platform::ResourceSource& set, const char* name) {
  std::span<const std::uint8_t> bytes;
  if (!set.Find("TEXT", name, bytes)) return "(missing)";
  return std::string(bytes.begin(), bytes.end());
}

TEST(FirmwareSetFolder, GoodSetBecomesTheUpdatersResources) {
  ScratchDir dir;
  WriteGoodSet(dir);
  std::string error;
  resources::FirmwareSetDescription d;
  auto set = resources::LoadFirmwareSet(dir.Path(), error, &d);
  ASSERT_TRUE(set) << error;

  // Chunks byte for byte, under their resource names.
  EXPECT_EQ(Resource(*set, "Loader_1"), ReadAll(dir / "Loader_1.s2"));
  EXPECT_EQ(Resource(*set, "Code_2"), ReadAll(dir / "Code_2.s3"));
  EXPECT_EQ(Resource(*set, "Code_Boot_1"), ReadAll(dir / "Code_Boot_1.s3"));
  // The attributes record as the updater reads it at start-up.
  app::ResourceAttributes a;
  ASSERT_TRUE(app::ReadResourceAttributes(*set, a));
  EXPECT_EQ(a.CodeChunks, 2);
  EXPECT_EQ(a.BootMinor, 3);
  EXPECT_EQ(a.UpgradeType, app::kUpgradeApplicationBoot);
  EXPECT_EQ(app::AttributeText(a.ConfigDeskVersion), "2.11.0");
  const auto identity = app::ReadFirmwareSetIdentity(*set);
  EXPECT_EQ(identity.name, "Mobile_6700_Series_4");
  EXPECT_EQ(identity.release, "5.0.1");
  EXPECT_EQ(d.identity.release, "5.0.1");

  // The work files of an update are the images of the folder.
  ScratchDir work;
  testing::MessageHost host;
  std::string loader, code;
  ASSERT_TRUE(app::ExtractEmbeddedFiles(*set, host, a, false, false, loader, code, work.Path()));
  EXPECT_EQ(ReadAll(work / code), ReadAll(dir / "Code_1.s3") + ReadAll(dir / "Code_2.s3"));
}

TEST(FirmwareSetFolder, MalformedSetIsRefusedWithFileAndLine) {
  auto refusal = [](const std::function<void(const ScratchDir&)>& spoil) {
    ScratchDir dir;
    WriteGoodSet(dir);
    spoil(dir);
    std::string error;
    auto set = resources::LoadFirmwareSet(dir.Path(), error);
    EXPECT_FALSE(set);
    return error;
  };
  // A record with a wrong checksum in the third line of the second code chunk.
  std::string error = refusal([](const ScratchDir& dir) {
    std::string text = ReadAll(dir / "Code_2.s3");
    std::size_t line3 = text.find('\n', text.find('\n') + 1) + 1;
    const std::size_t end = text.find('\r', line3);
    text[end - 1] = text[end - 1] == '0' ? '1' : '0';
    WriteText(dir / "Code_2.s3", text);
  });
  EXPECT_NE(error.find("Code_2.s3 line 3: wrong record checksum"), std::string::npos) << error;

  error = refusal([](const ScratchDir& dir) { std::filesystem::remove(dir / "Code_2.s3"); });
  EXPECT_NE(error.find("chunk Code_2 is missing"), std::string::npos) << error;

  error = refusal([](const ScratchDir& dir) { std::filesystem::remove(dir / "attributes.json"); });
  EXPECT_NE(error.find("attributes.json: cannot be read"), std::string::npos) << error;

  error = refusal([](const ScratchDir& dir) {
    WriteText(dir / "attributes.json", "{\n  \"LoaderChunks\": 1,\n");
  });
  EXPECT_NE(error.find("attributes.json: not valid JSON"), std::string::npos) << error;

  std::string missing;
  EXPECT_FALSE(resources::LoadFirmwareSet("/nonexistent/set", missing));
  EXPECT_NE(missing.find("not a folder"), std::string::npos) << missing;

#ifndef _WIN32
  // A chunk that is a link in a loop is refused with the system's reason,
  // not thrown.
  error = refusal([](const ScratchDir& dir) {
    std::filesystem::remove(dir / "Code_2.s3");
    std::filesystem::create_symlink(dir / "Code_2.s3", dir / "Code_2.s3");
  });
  EXPECT_NE(error.find("Code_2.s3: not a regular file (Too many levels of symbolic links)"),
            std::string::npos)
      << error;

  // A huge chunk is refused at its first line over the bound, without
  // reading the rest (/dev/zero never ends: only a bounded read returns).
  error = refusal([](const ScratchDir& dir) {
    WriteText(dir / "Code_2.s3", ReadAll(dir / "Code_2.s3") + "S3" + std::string(400, '0'));
  });
  EXPECT_NE(error.find("Code_2.s3 line "), std::string::npos) << error;
  EXPECT_NE(error.find(": record longer than 298 characters"), std::string::npos) << error;
  std::string text;
  EXPECT_FALSE(resources::ReadChunkFile("/dev/zero", false, text, error));
  EXPECT_NE(error.find("larger than 16777216 bytes"), std::string::npos) << error;
  EXPECT_LE(text.size(), resources::kMaxChunkBytes);
#endif
}

// Attribute values with which an updater would erase a radio and write
// nothing, or compare the radio against numbers it cannot report: refused,
// naming the file and the field.
TEST(SetCheck, RefusesAttributesThatMakeNoSense) {
  const std::string base =
      R"("LoaderChunks": 1, "CodeChunks": 1, "BootLoaderChunks": 1, "BootCodeChunks": 1)";
  auto read = [&](const std::string& fields, std::string& error) {
    ScratchDir dir;
    WriteText(dir / "attributes.json", "{" + fields + "}");
    resources::FirmwareSetDescription d;
    error.clear();
    return resources::ReadAttributesJson(dir / "attributes.json", d, error);
  };
  std::string error;
  for (int type = 0; type <= 3; ++type)
    EXPECT_TRUE(read(base + R"(, "UpgradeType": )" + std::to_string(type), error)) << error;
  EXPECT_TRUE(read(base + R"(, "RadioFamily": 1, "BootMajor": 255, "SecondBootMinor": 0)", error))
      << error;

  const struct {
    std::string fields;
    const char* says;
  } refused[] = {
      {R"("LoaderChunks": 1, "CodeChunks": 0, "BootLoaderChunks": 0, "BootCodeChunks": 0)",
       "CodeChunks is 0"},
      {R"("LoaderChunks": 0, "CodeChunks": 1, "BootLoaderChunks": 0, "BootCodeChunks": 0)",
       "LoaderChunks is 0"},
      {base + R"(, "UpgradeType": 4)", "UpgradeType 4 is unknown"},
      {base + R"(, "RadioFamily": 2)", "RadioFamily 2 is unknown"},
      {base + R"(, "BootMajor": 256)", "BootMajor 256 is not a version part"},
      {base + R"(, "BootMinor": 1000)", "BootMinor 1000 is not a version part"},
      {base + R"(, "SecondBootMajor": 300, "SecondBootLoaderChunks": 1, "SecondBootCodeChunks": 1)",
       "SecondBootMajor 300"},
      {base + R"(, "SecondBootMinor": 256)", "SecondBootMinor 256"},
      // An Application/Boot set without boot images would write no boot code.
      {R"("LoaderChunks": 1, "CodeChunks": 1, "BootLoaderChunks": 1, "BootCodeChunks": 0,
          "UpgradeType": 3)",
       "BootCodeChunks is 0 in an Application/Boot set"},
      // A second boot line named but not carried.
      {base + R"(, "SecondBootMajor": 6, "SecondBootLoaderChunks": 1)",
       "SecondBootCodeChunks is 0"},
  };
  for (const auto& r : refused) {
    EXPECT_FALSE(read(r.fields, error)) << r.fields;
    EXPECT_NE(error.find("attributes.json: "), std::string::npos) << error;
    EXPECT_NE(error.find(r.says), std::string::npos) << error;
  }
}

TEST(SetCheck, NameAndReleaseAreOptionalPrintableTexts) {
  const std::string base =
      R"("LoaderChunks": 1, "CodeChunks": 1, "BootLoaderChunks": 0, "BootCodeChunks": 0)";
  ScratchDir dir;
  resources::FirmwareSetDescription d;
  std::string error;
  WriteText(dir / "attributes.json", "{" + base + "}");
  ASSERT_TRUE(resources::ReadAttributesJson(dir / "attributes.json", d, error)) << error;
  EXPECT_EQ(d.identity.name, "");
  // Without them the set carries only its record.
  const auto plain = resources::DescriptionResources(d);
  ASSERT_EQ(plain.size(), 1u);
  EXPECT_EQ(plain[0].second.size(), app::kResourceAttributesSize);

  for (const char* bad : {R"("Name": "")", R"("Name": "two\nlines")", R"("Release": 4.2)",
                          R"("Release": "123456789012345678901234567890123")"}) {
    WriteText(dir / "attributes.json", "{" + base + ", " + bad + "}");
    EXPECT_FALSE(resources::ReadAttributesJson(dir / "attributes.json", d, error)) << bad;
    EXPECT_NE(error.find("printable characters"), std::string::npos) << error;
  }
}

// The default build embeds the demo set with its name and release, so that an
// installed window and `bcu --version` can name it.
TEST(EmbeddedResources, CarryTheDemoSetsNameAndRelease) {
  const auto identity = app::ReadFirmwareSetIdentity(platform::EmbeddedResources());
  EXPECT_EQ(identity.name, tools::kDemoSetName);
  EXPECT_EQ(identity.release, tools::kDemoSetRelease);
}

}  // namespace
}  // namespace bcu
