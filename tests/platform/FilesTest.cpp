// Files the program writes are whole or not there; files it reads are
// refused with their real reason, and never read without a bound.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/AtomicWrite.h"
#include "platform/BoundedRead.h"
#include "platform/FolderRoom.h"
#include "tests/support/UpdateRig.h"

namespace bcu::platform {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Files may grow to `bytes` only while it lives (as on a full disk, writes
// beyond fail with EFBIG instead of a signal).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit saved_{};
  sighandler_t oldHandler_{};
};

class AtomicWriteTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testsupport::MakeTempDir("bcu-atomic"); }
  void TearDown() override { testsupport::RemoveTree(dir_); }
  std::string dir_;
};

// A write that fails half way (the disk is full) leaves the old file exactly
// as it was and no temporary beside it; one that succeeds replaces it whole.
TEST_F(AtomicWriteTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
  const std::string path = dir_ + "/codeplug.bin";
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(path, std::string_view("old contents"), {}, error)) << error;
  const std::string big(5000, 'n');
  {
    FileSizeLimit limit(1000);
    EXPECT_FALSE(WriteFileAtomically(path, std::string_view(big), {}, error));
  }
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_EQ(Text(path), "old contents");
  EXPECT_EQ(Names(dir_), std::vector<std::string>{"codeplug.bin"});

  // A new file that cannot be written whole is not created at all.
  {
    FileSizeLimit limit(1000);
    EXPECT_FALSE(WriteFileAtomically(dir_ + "/new.bin", std::string_view(big), {}, error));
  }
  EXPECT_EQ(Names(dir_), std::vector<std::string>{"codeplug.bin"});

  ASSERT_TRUE(WriteFileAtomically(path, std::string_view(big), {}, error)) << error;
  EXPECT_EQ(Text(path), big);
  EXPECT_EQ(Names(dir_), std::vector<std::string>{"codeplug.bin"});
}

TEST_F(AtomicWriteTest, ModeKeepAndRefusalsNameTheReason) {
  const std::string path = dir_ + "/backup.bin";
  std::string error;
  AtomicWriteOptions privateKeep;
  privateKeep.mode = kPrivateFileMode;
  privateKeep.existing = ExistingFile::kKeep;
  ASSERT_TRUE(WriteFileAtomically(path, std::string_view("first"), privateKeep, error)) << error;
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // Keep: the existing file stays.
  EXPECT_FALSE(WriteFileAtomically(path, std::string_view("second"), privateKeep, error));
  EXPECT_NE(error.find("already exists"), std::string::npos) << error;
  EXPECT_EQ(Text(path), "first");

  // A folder in the way, a folder that does not exist.
  fs::create_directory(dir_ + "/folder");
  EXPECT_FALSE(WriteFileAtomically(dir_ + "/folder", std::string_view("x"), {}, error));
  EXPECT_NE(error.find("is a folder"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_directory(dir_ + "/folder"));
  EXPECT_FALSE(WriteFileAtomically(dir_ + "/missing/x.bin", std::string_view("x"), {}, error));
  EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"backup.bin", "folder"}));
}

// The radios of a fleet ask for the backup folder's room at the same moment,
// from one process: every one of them gets its answer, and no probe stays.
TEST_F(AtomicWriteTest, FolderRoomIsAnsweredToEveryThreadAtOnce) {
  const std::string folder = dir_ + "/backups";
  std::vector<int> refused(8, 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < refused.size(); ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i)
        if (!QueryFolderRoom(folder).writable) ++refused[t];
    });
  for (auto& t : threads) t.join();
  for (int n : refused) EXPECT_EQ(n, 0);
  EXPECT_TRUE(Names(folder).empty());
  EXPECT_GT(QueryFolderRoom(folder).freeBytes, 0u);
}

TEST(BoundedReadTest, ReadsUpToTheLimitAndNamesEveryRefusal) {
  const std::string dir = testsupport::MakeTempDir("bcu-bounded");
  std::string error;
  std::vector<std::uint8_t> bytes;
  {
    std::ofstream(dir + "/exact") << std::string(100, 'a');
    std::ofstream(dir + "/over") << std::string(101, 'a');
  }
  ASSERT_TRUE(ReadFileBounded(dir + "/exact", 100, bytes, error)) << error;
  EXPECT_EQ(bytes.size(), 100u);
  bool tooLarge = false;
  EXPECT_FALSE(ReadFileBounded(dir + "/over", 100, bytes, error, &tooLarge));
  EXPECT_TRUE(tooLarge);
  EXPECT_NE(error.find("larger than 100 bytes"), std::string::npos) << error;
  // A device that never ends is refused after the limit, not read forever.
  EXPECT_FALSE(ReadFileBounded("/dev/zero", 65536, bytes, error, &tooLarge));
  EXPECT_TRUE(tooLarge);
  EXPECT_NE(error.find("larger than 65536 bytes"), std::string::npos) << error;
  EXPECT_FALSE(ReadFileBounded(dir, 100, bytes, error, &tooLarge));
  EXPECT_FALSE(tooLarge);
  EXPECT_NE(error.find("is a folder"), std::string::npos) << error;
  EXPECT_FALSE(ReadFileBounded(dir + "/none", 100, bytes, error));
  EXPECT_NE(error.find("no such file"), std::string::npos) << error;
  // A FIFO nobody writes to is refused at once, not waited on.
  ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
  EXPECT_FALSE(ReadFileBounded(dir + "/fifo", 100, bytes, error));
  EXPECT_NE(error.find("not a regular file (a FIFO)"), std::string::npos) << error;
  if (::geteuid() != 0) {  // root reads any file
    ::chmod((dir + "/exact").c_str(), 0);
    EXPECT_FALSE(ReadFileBounded(dir + "/exact", 100, bytes, error));
    EXPECT_NE(error.find("permission denied"), std::string::npos) << error;
  }
  testsupport::RemoveTree(dir);
}

}  // namespace
}  // namespace bcu::platform
