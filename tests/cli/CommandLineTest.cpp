// `bcu` as a technician runs it: its version, its help, an update with a
// firmware set folder given at run time, and the files it leaves behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/CodeplugBackup.h"
#include "sim/PtyRadio.h"
#include "sim/RadioConfig.h"
#include "support/UpdateRig.h"
#include "tests/cli/InProcessBcu.h"
#include "tools/DemoFirmware.h"

namespace bcu::cli {
namespace {

using testsupport::TestCodeData;

using Result = testsupport::BcuRun;

// Runs one `bcu` command line in this process.
Result Bcu(const std::vector<std::string>& args) {
  return testsupport::RunBcuInProcess(args);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

// S2 records of `data`, 16 bytes each, and the end record.
std::string SRecords(const std::vector<std::uint8_t>& data) {
  std::string text;
  for (std::size_t at = 0; at < data.size(); at += 16)
    text += tools::MakeSRecord('2', static_cast<std::uint32_t>(at), data.data() + at,
                               std::min<std::size_t>(16, data.size() - at));
  return text + tools::MakeSRecord('9', 0, nullptr, 0);
}

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeTempDir("bcu-cli-test");
    set_ = dir_ + "/set";
    work_ = dir_ + "/work";
    std::filesystem::create_directories(set_);
    std::filesystem::create_directories(work_);
    // The history and the backups go into a private data folder below it.
    ::setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
    // Work files go into the current folder.
    oldDir_ = std::filesystem::current_path();
    std::filesystem::current_path(work_);
  }
  void TearDown() override {
    std::filesystem::current_path(oldDir_);
    if (radio_) radio_->Stop();
    testsupport::RemoveTree(dir_);
  }

  // An "Application" set for series 5 portable radios (platform code 4: no
  // boot version check, and no interface box probe with its short reply
  // time-out), with code the radio takes as application code.
  void WriteSet(const std::string& attributesJson) {
    WriteText(set_ + "/attributes.json", attributesJson);
    WriteText(set_ + "/Loader_1.s2", SRecords(TestCodeData(256, 11)));
    WriteText(set_ + "/Code_1.s2", SRecords(TestCodeData(4096, 12)));
  }
  static std::string Attributes(const std::string& extra = "") {
    return R"({"Name": "Mobile_Test", "Release": "9.1", "LoaderChunks": 1, "CodeChunks": 1,
               "BootLoaderChunks": 0, "BootCodeChunks": 0, "RadioFamily": 0, "Series": 5,
               "UpgradeType": 0)" +
           extra + "}";
  }

  sim::PtyRadio& Radio(sim::RadioConfig config) {
    config.bootCodeMaxBytes = 1024;
    radio_ = std::make_unique<sim::PtyRadio>(config, kScale);
    std::string error;
    EXPECT_TRUE(radio_->Start(&error)) << error;
    return *radio_;
  }

  // Fixed waits a tenth as long; reply time-outs of 400 ms and more.
  static constexpr double kScale = 0.1;
  std::string dir_, set_, work_;
  std::filesystem::path oldDir_;
  std::unique_ptr<sim::PtyRadio> radio_;
};

TEST_F(CommandLineTest, VersionNamesTheFirmwareSetAndBareCallPrintsTheHelp) {
  Result r = Bcu({"--version"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.rfind("bcu (Brisant Code Updater) ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(std::string("Firmware set: ") + tools::kDemoSetName + ", release " +
                       tools::kDemoSetRelease + " (Application/Boot, 6700 series 4, boot 4.2)"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(Bcu({"version"}).out, r.out);

  r = Bcu({});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.out.find("Usage: bcu"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("update"), std::string::npos) << r.out;

  // An unknown word: named, with the nearest command.
  r = Bcu({"updat", "--port", "/dev/null"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("no command \"updat\"; the nearest is \"update\""), std::string::npos)
      << r.err;
  r = Bcu({"bogus"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("no command \"bogus\""), std::string::npos) << r.err;
}

// The radio gets the folder's code, not the set built into the program; the
// codeplug password the radio asks for stays out of the trace.
TEST_F(CommandLineTest, UpdateWritesTheFirmwareFolderAndMasksThePassword) {
  WriteSet(Attributes());
  sim::RadioConfig config;
  config.family = sim::RadioFamily::kPortable;
  config.formatBefore = {5, 9};
  config.formatAfter = {5, 9};
  config.password = "1234";
  sim::PtyRadio& radio = Radio(config);
  const std::string trace = dir_ + "/trace.txt";

  const Result r = Bcu({"update", "--port", radio.DevicePath(), "--password", "gablers", "--yes",
                        "--delay-scale", "0.1", "--codeplug-password", "1234", "--trace", trace,
                        "--firmware", set_});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Firmware set Mobile_Test, release 9.1"), std::string::npos) << r.out;

  const auto code = radio.With([](sim::VirtualRadio& v) {
    const auto* f = v.LastFile(sim::ReceivedFile::Kind::kApplication);
    return f ? f->data : std::vector<std::uint8_t>{};
  });
  const auto expected = TestCodeData(4096, 12);
  ASSERT_GE(code.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), code.begin()));

  const std::string text = ReadText(trace);
  EXPECT_NE(text.find("03 0C ** ** ** ** ** 7E"), std::string::npos);
  EXPECT_EQ(text.find("03 0C 12 34"), std::string::npos);
  EXPECT_EQ(ModeOf(trace), 0600u);
}

// -q says nothing at all when an update succeeds; --json prints one report
// and nothing else on stdout, while -v adds time-stamped detail on stderr.
TEST_F(CommandLineTest, UpdateQuietJsonAndVerbose) {
  WriteSet(Attributes());
  const auto update = [&](std::vector<std::string> extra) {
    sim::RadioConfig config;
    config.family = sim::RadioFamily::kPortable;
    config.formatBefore = {5, 9};
    config.formatAfter = {5, 9};
    sim::PtyRadio& radio = Radio(config);
    std::vector<std::string> args = {"update",     "--port", radio.DevicePath(), "--password",
                                     "gablers",    "--yes",  "--delay-scale",    "0.1",
                                     "--firmware", set_};
    args.insert(args.end(), extra.begin(), extra.end());
    return Bcu(args);
  };
  Result r = update({"-q"});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");

  r = update({"--json", "--verbose"});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_FALSE(j.contains("error")) << r.out;
  EXPECT_EQ(j["exitCode"], 0);
  EXPECT_EQ(j["statusText"], "Done.");
  EXPECT_EQ(j["codeplug"]["formatBefore"], "5.9");
  EXPECT_FALSE(j["codeplug"]["backupFile"].get<std::string>().empty());
  EXPECT_NE(r.err.find("] Firmware set: Mobile_Test, release 9.1"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("] port: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("] exit code 0 (ok)"), std::string::npos) << r.err;
}

// A set that would erase the radio and write nothing, or that holds a bad
// record, never reaches the radio: the port is not even opened.
TEST_F(CommandLineTest, UpdateRefusesABadFirmwareFolderBeforeTouchingTheRadio) {
  sim::PtyRadio& radio = Radio(sim::RadioConfig{});
  const std::string trace = dir_ + "/trace.txt";
  auto update = [&] {
    return Bcu({"update", "--port", radio.DevicePath(), "--password", "gablers", "--yes", "--trace",
                trace, "--firmware", set_});
  };

  WriteSet(Attributes());
  WriteText(set_ + "/attributes.json",
            R"({"LoaderChunks": 1, "CodeChunks": 0, "BootLoaderChunks": 0, "BootCodeChunks": 0,
                "RadioFamily": 1, "Series": 4})");
  std::filesystem::remove(set_ + "/Code_1.s2");
  Result r = update();
  EXPECT_EQ(r.code, 13);
  EXPECT_NE(r.err.find("firmware set refused: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("attributes.json: CodeChunks is 0"), std::string::npos) << r.err;

  WriteSet(Attributes());
  std::string code = ReadText(set_ + "/Code_1.s2");
  code.replace(code.find("S2", 10), 2, "S4");  // the second record
  WriteText(set_ + "/Code_1.s2", code);
  r = update();
  EXPECT_EQ(r.code, 13);
  EXPECT_NE(r.err.find("Code_1.s2 line 2: unknown record type S4"), std::string::npos) << r.err;

  WriteSet(Attributes(R"(, "BootMajor": 300)"));
  r = update();
  EXPECT_EQ(r.code, 13);
  EXPECT_NE(r.err.find("BootMajor 300 is not a version part"), std::string::npos) << r.err;

  EXPECT_FALSE(std::filesystem::exists(trace));
  EXPECT_EQ(radio.With([](sim::VirtualRadio& v) { return v.Counters().framesReceived; }), 0);
  EXPECT_TRUE(std::filesystem::is_empty(work_));
}

// Codeplug files and their backups hold a radio's configuration: readable by
// their owner only, whatever the umask.
TEST_F(CommandLineTest, CodeplugFilesAreReadableByTheirOwnerOnly) {
  const mode_t old = ::umask(022);
  const Result r = Bcu({"codeplug", "sample", "sample.bin", "--format", "5.9"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ModeOf(work_ + "/sample.bin"), 0600u);
  const Result c = Bcu({"codeplug", "convert", "sample.bin", "converted.bin", "--to", "5.10"});
  EXPECT_EQ(c.code, 0) << c.err;
  EXPECT_EQ(ModeOf(work_ + "/converted.bin"), 0600u);
  const std::uint8_t bytes[4] = {1, 2, 3, 4};
  std::string error;
  const std::string backup = app::WriteCodeplugBackup(work_, "001A", "5.9", bytes, 0, error);
  ASSERT_FALSE(backup.empty()) << error;
  EXPECT_EQ(ModeOf(backup), 0600u);
  ::umask(old);
}

}  // namespace
}  // namespace bcu::cli
