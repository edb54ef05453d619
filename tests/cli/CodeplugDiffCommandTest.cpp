// `bcu codeplug diff A B` as the technician runs it: the exit code answers
// whether B holds what A holds (the same image, or A as an update converts
// it), the text and JSON say what differs, files that hold no readable
// codeplug are refused with their reason, and `codeplug backups` points to
// the command.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/CodeplugBackup.h"
#include "cli/ExitCodes.h"
#include "codeplug/CodeplugFile.h"
#include "codeplug/TableAccess.h"
#include "support/CodeplugImages.h"
#include "support/UpdateRig.h"
#include "tests/cli/InProcessBcu.h"

namespace bcu::cli {
namespace {

using Result = testsupport::BcuRun;
constexpr auto& Bcu = testsupport::RunBcuInProcess;
constexpr auto& Describe = testsupport::DescribeRun;

class CodeplugDiffCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeTempDir("bcu-diff-test");
    a59_ = Path("a59.bin");
    ASSERT_EQ(Bcu({"-q", "codeplug", "sample", a59_, "--format", "5.9", "--seed", "3"}).code, 0);
    a510_ = Path("a510.bin");
    ASSERT_EQ(Bcu({"-q", "codeplug", "convert", a59_, a510_, "--to", "5.10"}).code, 0);
  }
  void TearDown() override { testsupport::RemoveTree(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // A copy of `from` with word `word` (of the image in host order) changed by
  // `flip`, written as `name`.
  std::string Altered(const std::string& from, const std::string& name, std::uint32_t word,
                      codeplug::Word flip) {
    auto image = std::make_unique<codeplug::CodeplugImage>();
    std::size_t bytes = 0;
    std::string error;
    EXPECT_TRUE(codeplug::ReadCodeplugFile(from, *image, bytes, error)) << error;
    (*image)[word] ^= flip;
    EXPECT_TRUE(codeplug::WriteCodeplugFile(Path(name), *image, bytes, error)) << error;
    return Path(name);
  }

  std::string dir_, a59_, a510_;
};

TEST_F(CodeplugDiffCommandTest, ExitCodeSaysWhetherBHoldsWhatAHolds) {
  // The same file: 0, "Same".
  Result r = Bcu({"codeplug", "diff", a59_, a59_});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.out.find("Same: "), std::string::npos) << r.out;

  // A and A converted: 0, and the check says every setting was carried.
  r = Bcu({"codeplug", "diff", a59_, a510_});
  EXPECT_EQ(r.code, kExitOk) << Describe({"codeplug", "diff", a59_, a510_}, r);
  EXPECT_NE(r.out.find("radio block (A word 0, B word 0)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("every setting the conversion carries over was carried"), std::string::npos)
      << r.out;

  // A word of the converted file changed: 16, and the word is named under the
  // conversion check.
  const std::uint32_t word = 4 + 2;  // radio block, fixed word 6
  const std::string tampered = Altered(a510_, "tampered.bin", word, 0x0001);
  r = Bcu({"codeplug", "diff", a59_, tampered});
  EXPECT_EQ(r.code, kExitDiffer) << r.err;
  const std::size_t check = r.out.find("Conversion check: B differs from A converted");
  ASSERT_NE(check, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  word 6: ", check), std::string::npos) << r.out;

  // Quiet: nothing when they match, one line when they differ.
  r = Bcu({"-q", "codeplug", "diff", a59_, a510_});
  EXPECT_EQ(r.code, kExitOk);
  EXPECT_EQ(r.out + r.err, "");
  r = Bcu({"codeplug", "diff", a59_, tampered, "-q"});
  EXPECT_EQ(r.code, kExitDiffer);
  EXPECT_NE(r.out.find("the codeplugs differ"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;

  // Two different radios' codeplugs of one format: 16.
  const std::string other = Path("other.bin");
  ASSERT_EQ(Bcu({"-q", "codeplug", "sample", other, "--format", "5.9", "--seed", "4"}).code, 0);
  r = Bcu({"codeplug", "diff", a59_, other});
  EXPECT_EQ(r.code, kExitDiffer);
  EXPECT_NE(r.out.find("Conversion check: none needed: both are format 5.9"), std::string::npos)
      << r.out;
}

TEST_F(CodeplugDiffCommandTest, JsonIsOneDocumentWithTheComparison) {
  Result r = Bcu({"codeplug", "diff", a59_, a510_, "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.err, "");
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["a"]["file"], a59_);
  EXPECT_EQ(j["a"]["fileBytes"], std::filesystem::file_size(a59_));
  EXPECT_EQ(j["a"]["codeplugFormat"], "5.9");
  EXPECT_EQ(j["b"]["codeplugFormat"], "5.10");
  EXPECT_EQ(j["a"]["valid"], true);
  EXPECT_EQ(j["same"], false);
  EXPECT_EQ(j["matches"], true);
  for (const char* key : {"counts", "blocks", "trailingWords", "conversionCheck"})
    EXPECT_TRUE(j.contains(key)) << key;
  EXPECT_EQ(j["conversionCheck"]["fromFormat"], "5.9");
  EXPECT_EQ(j["conversionCheck"]["toFormat"], "5.10");
  EXPECT_EQ(j["conversionCheck"]["carried"], true);
  EXPECT_EQ(std::int64_t{j["b"]["imageWords"]} - std::int64_t{j["a"]["imageWords"]},
            std::int64_t{j["counts"]["wordsAdded"]} - std::int64_t{j["counts"]["wordsDropped"]});

  // Differing is a result, not a failure: the comparison, not an error object.
  const std::string other = Altered(a59_, "other.bin", 20, 0x0100);
  r = Bcu({"codeplug", "diff", a59_, other, "--json"});
  EXPECT_EQ(r.code, kExitDiffer);
  const auto d = nlohmann::json::parse(r.out);
  EXPECT_FALSE(d.contains("error"));
  EXPECT_EQ(d["matches"], false);
  ASSERT_EQ(d["blocks"].size(), 1u);
  EXPECT_EQ(d["blocks"][0]["fixedWords"]["changed"][0]["word"], 20);
}

TEST_F(CodeplugDiffCommandTest, FilesWithoutAReadableCodeplugAreRefused) {
  const std::string missing = Path("missing.bin");
  const std::string odd = Path("odd.bin");
  std::ofstream(odd, std::ios::binary) << std::string(301, '\x5F');
  // The first 200 bytes of a valid file: its image is not whole.
  const std::string cut = Path("cut.bin");
  {
    std::ifstream in(a59_, std::ios::binary);
    std::string bytes(200, '\0');
    in.read(bytes.data(), 200);
    std::ofstream(cut, std::ios::binary) << bytes;
  }
  // A block mark gone: its chain of blocks cannot be read.
  auto image = std::make_unique<codeplug::CodeplugImage>();
  std::size_t bytes = 0;
  std::string error;
  ASSERT_TRUE(codeplug::ReadCodeplugFile(a59_, *image, bytes, error));
  const std::uint32_t second = (*image)[1] & codeplug::kMaxBlockLength;
  const std::string broken = Altered(a59_, "broken.bin", second, 0x0001);
  // One system block more than the counts say: readable, compared, invalid.
  const std::string miscounted =
      Altered(a59_, "miscounted.bin", codeplug::kWordBlockCounts, 0x0001);

  struct Case {
    std::vector<std::string> args;
    int code;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"codeplug", "diff", a59_, missing}, kExitFileError, missing},
      {{"codeplug", "diff", missing, a59_}, kExitFileError, missing},
      {{"codeplug", "diff", odd, a59_}, kExitFileInvalid, "odd byte count"},
      {{"codeplug", "diff", a59_, cut}, kExitFileInvalid, cut + ": incomplete"},
      {{"codeplug", "diff", broken, a59_}, kExitFileInvalid, broken + ": not readable: "},
      {{"codeplug", "diff", a59_}, kExitUsage, "B"},
  };
  for (const Case& c : cases) {
    Result r = Bcu(c.args);
    EXPECT_EQ(r.code, c.code) << Describe(c.args, r);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << Describe(c.args, r);
    std::vector<std::string> json = c.args;
    json.push_back("--json");
    r = Bcu(json);
    EXPECT_EQ(r.code, c.code) << Describe(json, r);
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["error"]["code"], c.code) << Describe(json, r);
    EXPECT_EQ(j["error"]["name"], ExitCodeName(c.code)) << Describe(json, r);
  }

  const Result r = Bcu({"codeplug", "diff", a59_, miscounted});
  EXPECT_EQ(r.code, kExitDiffer) << r.err;
  EXPECT_NE(r.out.find("B: " + miscounted + ": format 5.9"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("invalid (the number of system blocks differs"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  word 14: "), std::string::npos) << r.out;
}

TEST_F(CodeplugDiffCommandTest, HelpAndBackupsPointToIt) {
  const Result group = Bcu({"codeplug", "--help"});
  EXPECT_NE(group.out.find("diff"), std::string::npos) << group.out;
  const Result help = Bcu({"codeplug", "diff", "--help"});
  EXPECT_EQ(help.code, kExitOk);
  EXPECT_NE(help.out.find("16 they differ"), std::string::npos) << help.out;
  const Result all = Bcu({"--help"});
  EXPECT_NE(all.out.find("16 differ"), std::string::npos) << all.out;

  // With a backup kept, the list says how to compare it with the radio.
  const std::string data = Path("data");
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  std::string error;
  const std::vector<std::uint8_t> bytes(64, 0);
  ASSERT_FALSE(
      app::WriteCodeplugBackup(app::DefaultBackupRoot(), "001A2B3C4D5E6F70", "5.9", bytes, 0, error)
          .empty())
      << error;
  const Result list = Bcu({"codeplug", "backups"});
  if (old)
    ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(list.code, kExitOk) << list.err;
  EXPECT_NE(list.out.find("bcu codeplug diff BACKUP"), std::string::npos) << list.out;
}

}  // namespace
}  // namespace bcu::cli
