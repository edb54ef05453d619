#include "app/EmbeddedFiles.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>

#include "FirmwareTestSupport.h"
#include "platform/EmbeddedResources.h"

namespace bcu::app {
namespace {

using testing::MessageHost;
using testing::ReadAll;
using testing::ScratchDir;
using testing::WriteText;

std::vector<std::uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

// A small set: two loader chunks and three code chunks per line.
struct SmallSet {
  platform::MemoryResources resources;
  ResourceAttributes attributes;
  SmallSet() {
    attributes.LoaderChunks = 2;
    attributes.CodeChunks = 3;
    attributes.BootLoaderChunks = 1;
    attributes.BootCodeChunks = 1;
    attributes.SecondBootLoaderChunks = 1;
    attributes.SecondBootCodeChunks = 2;
    for (const char* suffix : {"", "_Boot", "_BootTwo"}) {
      for (int n = 1; n <= 3; ++n) {
        std::string s = suffix + std::string("_") + std::to_string(n);
        resources.Add("TEXT", "LOADER" + s, Bytes("loader" + s + "\r\n"));
        resources.Add("TEXT", "code" + s, Bytes("code" + s + "\r\n"));
      }
    }
  }
};

TEST(ReadResourceAttributes, ReadsTheEmbeddedDemoRecord) {
  ResourceAttributes a;
  ASSERT_TRUE(ReadResourceAttributes(platform::EmbeddedResources(), a));
  EXPECT_EQ(a.LoaderChunks, 1);
  EXPECT_EQ(a.CodeChunks, 12);
  EXPECT_EQ(a.BootLoaderChunks, 1);
  EXPECT_EQ(a.BootCodeChunks, 1);
  EXPECT_EQ(a.SecondBootLoaderChunks, 0);
  EXPECT_EQ(a.SecondBootCodeChunks, 0);
  EXPECT_EQ(a.BootMajor, 4);
  EXPECT_EQ(a.BootMinor, 2);
  EXPECT_EQ(AttributeText(a.ConfigDeskVersion), "2.10.2");
  EXPECT_EQ(AttributeText(a.TuneDeskVersion), "3.0.14");
  EXPECT_EQ(a.RadioFamily, 1);
  EXPECT_EQ(a.NewPlatform, 1);
  EXPECT_EQ(a.Series, 4);
  EXPECT_EQ(a.UpgradeType, kUpgradeApplicationBoot);
  EXPECT_EQ(a.Processor416, 0);
  EXPECT_EQ(std::string(a.Tag, 3), "E01");
}

TEST(ReadResourceAttributes, MissingOrShortRecordLeavesTheRecordAlone) {
  ResourceAttributes a;
  a.Series = 7;
  platform::MemoryResources none;
  EXPECT_FALSE(ReadResourceAttributes(none, a));
  EXPECT_EQ(a.Series, 7);
  platform::MemoryResources shortOne;
  shortOne.Add("TEXT", "RESOURCEATTRIBUTES_", std::vector<std::uint8_t>(67, 1));
  EXPECT_FALSE(ReadResourceAttributes(shortOne, a));
  EXPECT_EQ(a.Series, 7);
}

TEST(EmbeddedResources, LooksNamesUpWithoutRegardToCase) {
  std::span<const std::uint8_t> a, b;
  ASSERT_TRUE(platform::EmbeddedResources().Find("TEXT", "code_12", a));
  ASSERT_TRUE(platform::EmbeddedResources().Find("text", "CODE_12", b));
  EXPECT_EQ(a.data(), b.data());
  EXPECT_FALSE(platform::EmbeddedResources().Find("DATA", "CODE_12", a));
  EXPECT_FALSE(platform::EmbeddedResources().Find("TEXT", "CODE_13", a));
}

TEST(ExtractEmbeddedFiles, JoinsEachImageAndRemovesTheChunkFiles) {
  SmallSet set;
  ScratchDir dir;
  MessageHost host;
  std::string loader, code;
  ASSERT_TRUE(ExtractEmbeddedFiles(set.resources, host, set.attributes, false, false, loader, code,
                                   dir.Path()));
  EXPECT_EQ(loader, "Loader.hex");
  EXPECT_EQ(code, "Code.hex");
  EXPECT_EQ(ReadAll(dir / loader), "loader_1\r\nloader_2\r\n");
  EXPECT_EQ(ReadAll(dir / code), "code_1\r\ncode_2\r\ncode_3\r\n");
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"Code.hex", "Loader.hex"}));
  EXPECT_TRUE(host.messages.empty());
}

TEST(ExtractEmbeddedFiles, PicksTheResourceSet) {
  SmallSet set;
  MessageHost host;
  std::string loader, code;
  {
    ScratchDir dir;
    ASSERT_TRUE(ExtractEmbeddedFiles(set.resources, host, set.attributes, true, false, loader, code,
                                     dir.Path()));
    EXPECT_EQ(ReadAll(dir / loader), "loader_Boot_1\r\n");
    EXPECT_EQ(ReadAll(dir / code), "code_Boot_1\r\n");
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"Code.hex", "Loader.hex"}));
  }
  for (bool boot : {false, true}) {  // the second boot line wins over the boot flag
    ScratchDir dir;
    ASSERT_TRUE(ExtractEmbeddedFiles(set.resources, host, set.attributes, boot, true, loader, code,
                                     dir.Path()));
    EXPECT_EQ(ReadAll(dir / loader), "loader_BootTwo_1\r\n");
    EXPECT_EQ(ReadAll(dir / code), "code_BootTwo_1\r\ncode_BootTwo_2\r\n");
  }
}

TEST(ExtractEmbeddedFiles, ZeroCountsGiveEmptyJoinedFiles) {
  SmallSet set;
  set.attributes.SecondBootLoaderChunks = 0;
  set.attributes.SecondBootCodeChunks = 0;
  ScratchDir dir;
  MessageHost host;
  std::string loader, code;
  ASSERT_TRUE(ExtractEmbeddedFiles(set.resources, host, set.attributes, false, true, loader, code,
                                   dir.Path()));
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"Code.hex", "Loader.hex"}));
  EXPECT_EQ(ReadAll(dir / loader), "");
  EXPECT_EQ(ReadAll(dir / code), "");
  EXPECT_TRUE(host.messages.empty());
}

TEST(ExtractEmbeddedFiles, DspCodeIsJoinedAsOut) {
  SmallSet set;
  set.attributes.UpgradeType = kUpgradeDsp;
  ScratchDir dir;
  MessageHost host;
  std::string loader, code;
  ASSERT_TRUE(ExtractEmbeddedFiles(set.resources, host, set.attributes, false, false, loader, code,
                                   dir.Path()));
  EXPECT_EQ(loader, "Loader.hex");
  EXPECT_EQ(code, "Code.OUT");
}

TEST(ExtractEmbeddedFiles, TakesTheFirstFreeJoinedName) {
  SmallSet set;
  ScratchDir dir;
  MessageHost host;
  std::string loader, code;
  WriteText(dir / "Loader.hex", "old");
  ASSERT_TRUE(ExtractEmbeddedFiles(set.resources, host, set.attributes, false, false, loader, code,
                                   dir.Path()));
  EXPECT_EQ(loader, "Loader1.hex");
  EXPECT_EQ(code, "Code.hex");
  EXPECT_EQ(ReadAll(dir / "Loader.hex"), "old");  // replaced nothing
  ASSERT_TRUE(ExtractEmbeddedFiles(set.resources, host, set.attributes, false, false, loader, code,
                                   dir.Path()));
  EXPECT_EQ(loader, "Loader2.hex");
  EXPECT_EQ(code, "Code1.hex");
  EXPECT_EQ(ReadAll(dir / "Code1.hex"), "code_1\r\ncode_2\r\ncode_3\r\n");
}

TEST(ExtractEmbeddedFiles, ExistingChunkFileGuardsAgainstASecondCopy) {
  SmallSet set;
  MessageHost host;
  std::string loader = "unset", code = "unset";
  {
    ScratchDir dir;
    WriteText(dir / "Loader.2", "other copy");
    EXPECT_FALSE(ExtractEmbeddedFiles(set.resources, host, set.attributes, false, false, loader,
                                      code, dir.Path()));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, kTextLoaderChunkFailed);
    EXPECT_EQ(host.messages[0].caption, "Embedded Files");
    EXPECT_EQ(host.messages[0].icon, platform::MsgIcon::Error);
    EXPECT_EQ(ReadAll(dir / "Loader.2"), "other copy");
    // The chunk this call wrote stays, as does the other copy's; nothing was joined.
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"Loader.1", "Loader.2"}));
    EXPECT_EQ(loader, "unset");
    // A later call fails on them in the same way.
    EXPECT_FALSE(ExtractEmbeddedFiles(set.resources, host, set.attributes, false, false, loader,
                                      code, dir.Path()));
    EXPECT_EQ(host.messages.size(), 2u);
  }
  {
    host.messages.clear();
    ScratchDir dir;
    WriteText(dir / "Code.3", "other copy");
    EXPECT_FALSE(ExtractEmbeddedFiles(set.resources, host, set.attributes, false, false, loader,
                                      code, dir.Path()));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, kTextCodeChunkFailed);
    EXPECT_EQ(host.messages[0].caption, "Embedded Files");
    // The loader was joined before the code chunks were tried; it stays under its name.
    EXPECT_EQ(loader, "Loader.hex");
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"Code.1", "Code.2", "Code.3", "Loader.1",
                                                     "Loader.2", "Loader.hex"}));
  }
}

TEST(ExtractEmbeddedFiles, MissingResourceFailsWithItsName) {
  SmallSet set;
  set.attributes.CodeChunks = 4;  // Code_4 is not in the program
  ScratchDir dir;
  MessageHost host;
  std::string loader, code;
  EXPECT_FALSE(ExtractEmbeddedFiles(set.resources, host, set.attributes, false, false, loader, code,
                                    dir.Path()));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_NE(host.messages[0].text.find("Code_4"), std::string::npos);
  EXPECT_EQ(host.messages[0].caption, "Embedded Files");
  EXPECT_EQ(host.messages[0].icon, platform::MsgIcon::Error);
  EXPECT_TRUE(dir.Files().empty()) << "no work file may be left behind";
}

TEST(ExtractEmbeddedFiles, UncreatableFolderFailsWithFileAndReason) {
  SmallSet set;
  ScratchDir dir;
  MessageHost host;
  std::string loader, code;
  const std::string missing = dir / "no-such-folder";
  EXPECT_FALSE(ExtractEmbeddedFiles(set.resources, host, set.attributes, false, false, loader, code,
                                    missing));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_NE(host.messages[0].text.find(missing + "/Loader.1"), std::string::npos);
  EXPECT_NE(host.messages[0].text.find(std::strerror(ENOENT)), std::string::npos);
}

// A file size limit makes every write past it fail as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old_;
    lim.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit old_{};
  void (*oldHandler_)(int) = nullptr;
};

TEST(ExtractEmbeddedFiles, IncompleteWriteLeavesNoPartialFile) {
  SmallSet set;
  // Each chunk fits under the limit, the joined code does not.
  set.resources.Add("TEXT", "CODE_1", std::vector<std::uint8_t>(3000, 'a'));
  set.resources.Add("TEXT", "CODE_2", std::vector<std::uint8_t>(3000, 'b'));
  set.resources.Add("TEXT", "CODE_3", std::vector<std::uint8_t>(3000, 'c'));
  ScratchDir dir;
  MessageHost host;
  std::string loader, code;
  {
    FileSizeLimit limit(4096);
    EXPECT_FALSE(ExtractEmbeddedFiles(set.resources, host, set.attributes, false, false, loader,
                                      code, dir.Path()));
  }
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_NE(host.messages[0].text.find("Code.hex could not be written completely"),
            std::string::npos)
      << host.messages[0].text;
  EXPECT_TRUE(dir.Files().empty()) << "partial and work files are removed";

  // A chunk that cannot be written whole.
  host.messages.clear();
  set.resources.Add("TEXT", "CODE_2", std::vector<std::uint8_t>(9000, 'b'));
  {
    FileSizeLimit limit(4096);
    EXPECT_FALSE(ExtractEmbeddedFiles(set.resources, host, set.attributes, false, false, loader,
                                      code, dir.Path()));
  }
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_NE(host.messages[0].text.find("Code.2 could not be written completely"),
            std::string::npos);
  EXPECT_TRUE(dir.Files().empty());
}

TEST(ExtractEmbeddedFiles, DemoSetGivesTheFullImages) {
  ResourceAttributes a;
  ASSERT_TRUE(ReadResourceAttributes(platform::EmbeddedResources(), a));
  ScratchDir dir;
  MessageHost host;
  std::string loader, code;
  ASSERT_TRUE(ExtractEmbeddedFiles(platform::EmbeddedResources(), host, a, false, false, loader,
                                   code, dir.Path()));
  EXPECT_EQ(std::filesystem::file_size(dir / code), 11u * 1022976u + 725046u);
  const std::string text = ReadAll(dir / code);
  EXPECT_EQ(text.substr(text.size() - 12), "S9030000FC\r\n");
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"Code.hex", "Loader.hex"}));

  ScratchDir bootDir;
  ASSERT_TRUE(ExtractEmbeddedFiles(platform::EmbeddedResources(), host, a, true, false, loader,
                                   code, bootDir.Path()));
  EXPECT_EQ(bootDir.Files(), (std::vector<std::string>{"Code.hex", "Loader.hex"}));
  std::span<const std::uint8_t> bootCode;
  ASSERT_TRUE(platform::EmbeddedResources().Find("TEXT", "Code_Boot_1", bootCode));
  EXPECT_EQ(ReadAll(bootDir / code), std::string(bootCode.begin(), bootCode.end()));
}

TEST(JoinChunkFiles, SkipsMissingChunksAndCopiesLargeOnes) {
  ScratchDir dir;
  std::string big(5000, 'x');
  big[1023] = 'y';
  big[4999] = 'z';
  WriteText(dir / "Part.1", big);
  WriteText(dir / "Part.3", "tail");
  EXPECT_EQ(JoinChunkFiles("Part", 3, "bin", dir.Path()), "Part.bin");
  EXPECT_EQ(ReadAll(dir / "Part.bin"), big + "tail");
}

}  // namespace
}  // namespace bcu::app
