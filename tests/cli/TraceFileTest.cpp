// The link trace: every frame in hex, but never the codeplug password unless
// asked, and a file only its owner can read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/TraceFile.h"
#include "link/Frame.h"
#include "support/UpdateRig.h"

namespace bcu::cli {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

class TraceFileTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testsupport::MakeTempDir("bcu-trace-test"); }
  void TearDown() override { testsupport::RemoveTree(dir_); }

  // Writes the frames the PC sends when it answers a password request with
  // `digits` (BCD, 0xF fill), then an ordinary request and the radio's
  // acceptance; returns the trace's text.
  std::string Trace(bool secrets, const std::vector<std::uint8_t>& digits) {
    const std::string path = dir_ + "/trace.txt";
    std::string error;
    TraceFile trace;
    trace.ShowSecrets(secrets);
    EXPECT_TRUE(trace.Open(path, error)) << error;
    std::vector<std::uint8_t> packet = {0x03, 0x0C};
    packet.insert(packet.end(), digits.begin(), digits.end());
    const auto frame = link::BuildFrame(packet.data(), static_cast<std::int32_t>(packet.size()));
    trace.OnSent(frame.data(), static_cast<int>(frame.size()));
    const std::uint8_t request[] = {0x04, 0x04};
    const auto other = link::BuildFrame(request, 2);
    trace.OnSent(other.data(), static_cast<int>(other.size()));
    const std::uint8_t accepted[] = {0x03, 0x0D};
    trace.OnReceived(accepted, 2);
    return ReadText(path);
  }

  std::string dir_;
};

TEST_F(TraceFileTest, CodeplugPasswordIsMaskedUnlessSecretsAreAsked) {
  // "1234": BCD 12 34 FF FF.
  std::string text = Trace(false, {0x12, 0x34, 0xFF, 0xFF});
  EXPECT_NE(text.find("BA 7F 01 03 0C ** ** ** ** ** 7E"), std::string::npos) << text;
  EXPECT_EQ(text.find("12 34"), std::string::npos) << text;
  // Other frames are written whole.
  EXPECT_NE(text.find("BA 7F 01 04 04"), std::string::npos) << text;
  EXPECT_NE(text.find("RX"), std::string::npos) << text;

  // Digits that need stuffing on the wire (0x10 is "10") leave no trace of
  // that either: the masked line always has the same length.
  text = Trace(false, {0x10, 0x10, 0xFF, 0xFF});
  EXPECT_NE(text.find("  11: BA 7F 01 03 0C ** ** ** ** ** 7E"), std::string::npos) << text;
  EXPECT_EQ(text.find(" 10 "), std::string::npos) << text;

  text = Trace(true, {0x12, 0x34, 0xFF, 0xFF});
  EXPECT_NE(text.find("BA 7F 01 03 0C 12 34 FF FF"), std::string::npos) << text;
}

TEST_F(TraceFileTest, TraceIsReadableByItsOwnerOnly) {
  const mode_t old = ::umask(022);
  const std::string path = dir_ + "/trace.txt";
  {
    // An earlier file of a wider mode is narrowed before anything is written.
    std::ofstream(path) << "old\n";
    ::chmod(path.c_str(), 0644);
    TraceFile trace;
    std::string error;
    ASSERT_TRUE(trace.Open(path, error)) << error;
    EXPECT_EQ(ModeOf(path), 0600u);
    const std::uint8_t accepted[] = {0x03, 0x0D};
    trace.OnReceived(accepted, 2);
  }
  EXPECT_EQ(ReadText(path).find("old"), std::string::npos);
  std::filesystem::remove(path);
  {
    TraceFile trace;
    std::string error;
    ASSERT_TRUE(trace.Open(path, error)) << error;
    EXPECT_EQ(ModeOf(path), 0600u);
  }
  ::umask(old);
}

}  // namespace
}  // namespace bcu::cli
