// The update history: appends from many threads at once lose no line and
// leave no half line, the file stays private, and what is written reads back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "app/UpdateHistory.h"
#include "tests/support/UpdateRig.h"

namespace bcu::app {
namespace {

class UpdateHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testsupport::MakeTempDir("bcu-history-test"); }
  void TearDown() override { testsupport::RemoveTree(dir_); }
  std::string dir_;
};

HistoryRecord Record(int thread, int n) {
  HistoryRecord r;
  r.port = "/dev/ttyUSB" + std::to_string(thread);
  r.serialNumber = "SERIAL" + std::to_string(thread) + "-" + std::to_string(n);
  r.versionsBefore.controllerVersion = "4.3.0";
  r.versionsAfter.controllerVersion = "4.4.0";
  r.codeplugFormatBefore = "5.9";
  r.codeplugFormatAfter = "5.10";
  r.firmwareSetName = "Set";
  r.firmwareSetRelease = "4.2";
  r.backupPath = "/backups/b, \"quoted\".bin";
  r.outcomeCode = n % 2 == 0 ? 0 : 8;
  r.outcomeText = n % 2 == 0 ? "Done." : "An error occurred while downloading the codeplug.";
  r.startTime = "2026-12-08T14:03:05Z";
  r.durationSeconds = 12.5;
  return r;
}

TEST_F(UpdateHistoryTest, ConcurrentAppendsKeepEveryLineWhole) {
  // The folders do not exist yet: the first append makes them.
  const std::string path = dir_ + "/data/brisant-code-updater/history.jsonl";
  constexpr int kThreads = 8;
  constexpr int kEach = 15;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; n < kEach; ++n) {
        std::string error;
        if (!AppendHistory(path, {Record(t, n)}, error)) ++failures[static_cast<std::size_t>(t)];
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int f : failures) EXPECT_EQ(f, 0);

  std::vector<HistoryRecord> records;
  int skipped = -1;
  std::string error;
  ASSERT_TRUE(ReadHistory(path, records, skipped, error)) << error;
  EXPECT_EQ(skipped, 0);
  ASSERT_EQ(records.size(), static_cast<std::size_t>(kThreads * kEach));
  // Each thread's lines in its own order, every field back as written.
  std::vector<int> next(kThreads, 0);
  for (const auto& r : records) {
    const int t = r.port.back() - '0';
    const HistoryRecord expected = Record(t, next[static_cast<std::size_t>(t)]++);
    EXPECT_EQ(r.serialNumber, expected.serialNumber);
    EXPECT_EQ(r.outcomeCode, expected.outcomeCode);
    EXPECT_EQ(r.outcomeText, expected.outcomeText);
    EXPECT_EQ(r.versionsAfter.controllerVersion, "4.4.0");
    EXPECT_EQ(r.codeplugFormatAfter, "5.10");
    EXPECT_EQ(r.firmwareSetRelease, "4.2");
    EXPECT_EQ(r.backupPath, expected.backupPath);
    EXPECT_EQ(r.durationSeconds, 12.5);
  }
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Nothing but the file and its lock beside it.
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_ + "/data/brisant-code-updater")) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 2);
}

TEST_F(UpdateHistoryTest, ALineLeftWithoutItsEndAndLinesThatAreNoRecords) {
  const std::string path = dir_ + "/history.jsonl";
  {
    std::ofstream out(path);
    out << "garbage\n[1,2]\n{\"port\":\"/dev/ttyS0\",\"serialNumber\":\"AB\"}";  // no line end
  }
  std::string error;
  ASSERT_TRUE(AppendHistory(path, {Record(1, 0)}, error)) << error;
  std::vector<HistoryRecord> records;
  int skipped = 0;
  ASSERT_TRUE(ReadHistory(path, records, skipped, error));
  EXPECT_EQ(skipped, 2);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].serialNumber, "AB");
  EXPECT_EQ(records[1].serialNumber, "SERIAL1-0");
}

TEST_F(UpdateHistoryTest, ALineCutShortByACrashAndTheAppendsAfterIt) {
  const std::string path = dir_ + "/history.jsonl";
  std::string error;
  ASSERT_TRUE(AppendHistory(path, {Record(1, 0), Record(1, 1)}, error)) << error;
  // The second line loses its end, as a crash in the middle of a write
  // leaves it; the file was made wider by hand.
  const auto size = std::filesystem::file_size(path);
  std::filesystem::resize_file(path, size - 20);
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  ASSERT_TRUE(AppendHistory(path, {Record(2, 0)}, error)) << error;
  ASSERT_TRUE(AppendHistory(path, {Record(2, 1)}, error)) << error;

  std::vector<HistoryRecord> records;
  int skipped = 0;
  ASSERT_TRUE(ReadHistory(path, records, skipped, error)) << error;
  EXPECT_EQ(skipped, 1);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].serialNumber, "SERIAL1-0");
  EXPECT_EQ(records[1].serialNumber, "SERIAL2-0");
  EXPECT_EQ(records[2].serialNumber, "SERIAL2-1");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Appending adds at the end and copies nothing: the lines before are
  // untouched, byte for byte.
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);
  EXPECT_EQ(text.back(), '\n');
}

TEST_F(UpdateHistoryTest, ReadingStreamsLinesOfAnyLength) {
  const std::string path = dir_ + "/history.jsonl";
  std::string error;
  ASSERT_TRUE(AppendHistory(path, {Record(1, 0)}, error)) << error;
  {
    std::ofstream out(path, std::ios::app | std::ios::binary);
    // A line past the bound, then lines that cross the reader's chunks.
    out << std::string(kMaxHistoryLineBytes + 100, 'x') << "\n";
    for (int n = 0; n < 300; ++n) out << HistoryRecordToJson(Record(3, n)).dump() << "\n";
    out << "\n\n{\"serialNumber\":\"LAST\"}";  // empty lines, no last line end
  }
  std::vector<std::string> serials;
  int skipped = 0;
  ASSERT_TRUE(ForEachHistoryRecord(
      path, [&](HistoryRecord& r) { serials.push_back(r.serialNumber); }, skipped, error))
      << error;
  EXPECT_EQ(skipped, 1);
  ASSERT_EQ(serials.size(), 302u);
  EXPECT_EQ(serials[0], "SERIAL1-0");
  EXPECT_EQ(serials[1], "SERIAL3-0");
  EXPECT_EQ(serials[300], "SERIAL3-299");
  EXPECT_EQ(serials[301], "LAST");

  // No file: no records; a folder in its place: an error that says so.
  EXPECT_TRUE(ForEachHistoryRecord(
      dir_ + "/none.jsonl", [&](HistoryRecord&) { ADD_FAILURE(); }, skipped, error));
  EXPECT_FALSE(ForEachHistoryRecord(
      dir_, [&](HistoryRecord&) {}, skipped, error));
  EXPECT_NE(error.find(dir_), std::string::npos) << error;
}

TEST_F(UpdateHistoryTest, WhereTheFileIsAndHowTimesAreRead) {
  EXPECT_EQ(HistoryPathFrom("/x/data", "/home/u"), "/x/data/brisant-code-updater/history.jsonl");
  EXPECT_EQ(HistoryPathFrom("relative", "/home/u"),
            "/home/u/.local/share/brisant-code-updater/history.jsonl");
  EXPECT_EQ(HistoryPathFrom(nullptr, nullptr), "");
  std::string error;
  EXPECT_FALSE(AppendHistory("", {Record(0, 0)}, error));

  std::time_t t = 0;
  ASSERT_TRUE(ParseIsoUtcTime("2026-12-08T14:03:05Z", t));
  EXPECT_EQ(IsoUtcTime(t), "2026-12-08T14:03:05Z");
  ASSERT_TRUE(ParseIsoUtcTime("2026-12-08", t));
  EXPECT_EQ(IsoUtcTime(t), "2026-12-08T00:00:00Z");
  ASSERT_TRUE(ParseIsoUtcTime("2026-12-08 14:03", t));
  EXPECT_EQ(IsoUtcTime(t), "2026-12-08T14:03:00Z");
  for (const char* bad : {"", "yesterday", "2026-13-01", "2026-12-08T25:00", "2026-12-08X",
                          "2026-12-08T14:03:05Zjunk"})
    EXPECT_FALSE(ParseIsoUtcTime(bad, t)) << bad;
}

}  // namespace
}  // namespace bcu::app
