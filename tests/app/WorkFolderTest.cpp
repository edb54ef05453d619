// The run's private work folder and the checks on work files before a
// download.
#include "app/WorkFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace bcu::app {
namespace {

namespace fs = std::filesystem;

class WorkFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "bcu-workfolder-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    base_ = pattern;
  }
  void TearDown() override { fs::remove_all(base_); }
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = base_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  std::string base_;
};

TEST_F(WorkFolderTest, EachRunGetsItsOwnPrivateFolderAndRemovesItWhole) {
  std::string error;
  const std::string a = MakeRunWorkFolder(base_, error);
  const std::string b = MakeRunWorkFolder(base_, error);
  ASSERT_FALSE(a.empty()) << error;
  ASSERT_FALSE(b.empty()) << error;
  EXPECT_NE(a, b);
  EXPECT_EQ(fs::path(a).parent_path(), fs::path(base_));
  struct stat st {};
  ASSERT_EQ(::stat(a.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // Whatever the run left in it goes with it; a link inside is removed, not
  // followed.
  const std::string outside = Write("outside", "keep");
  std::ofstream(a + "/Code.hex") << "S9030000FC\r\n";
  fs::create_symlink(outside, a + "/Loader.hex");
  RemoveRunWorkFolder(a);
  EXPECT_FALSE(fs::exists(a));
  EXPECT_TRUE(fs::exists(b));
  std::ifstream in(outside);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
  RemoveRunWorkFolder("");  // nothing to do
}

TEST_F(WorkFolderTest, FolderThatCannotBeMadeSaysWhere) {
  std::string error;
  EXPECT_TRUE(MakeRunWorkFolder(base_ + "/missing/deeper", error).empty());
  EXPECT_NE(error.find(base_ + "/missing/deeper"), std::string::npos) << error;
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

TEST_F(WorkFolderTest, WorkFilesAreCheckedBeforeADownload) {
  const std::string s0 = "S0030000FC\r\n";
  const std::string s9 = "S9030000FC\r\n";
  const std::string record = "S30900001000010203040F\r\n";
  struct Case {
    const char* what;
    std::string content;  // "\x01" stands for: no file at all
    WorkFileKind kind;
    std::string problem;  // empty: fit for the download
  } cases[] = {
      {"missing", "\x01", WorkFileKind::SRecordCode,
       "The work file W is missing; nothing was downloaded."},
      {"empty code", "", WorkFileKind::SRecordCode,
       "The work file W is empty; nothing was downloaded."},
      {"empty loader", "", WorkFileKind::SRecordLoader,
       "The work file W is empty; nothing was downloaded."},
      {"empty image", "", WorkFileKind::Binary,
       "The work file W is empty; nothing was downloaded."},
      {"header and end only", s0 + s9, WorkFileKind::SRecordCode,
       "The work file W holds no code records; nothing was downloaded."},
      {"records after the end", s0 + s9 + record, WorkFileKind::SRecordCode,
       "The work file W holds no code records; nothing was downloaded."},
      {"no end record", s0 + record, WorkFileKind::SRecordCode, ""},
      {"code", s0 + record + s9, WorkFileKind::SRecordCode, ""},
      {"loader of any text", "S5030005F7\r\n", WorkFileKind::SRecordLoader, ""},
      {"image", std::string("\x93\0\x01", 3), WorkFileKind::Binary, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = base_ + "/file";
    fs::remove(path);
    if (c.content != "\x01") Write("file", c.content);
    EXPECT_EQ(CheckWorkFile(path, "W", c.kind), c.problem);
  }
  // A folder under the file's name is no work file.
  fs::remove(base_ + "/file");
  fs::create_directory(base_ + "/file");
  EXPECT_EQ(CheckWorkFile(base_ + "/file", "W", WorkFileKind::Binary),
            "The work file W is missing; nothing was downloaded.");
}

}  // namespace
}  // namespace bcu::app
