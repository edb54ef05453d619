// Files on Windows: a replace that another program's open file blocks
// leaves the old file whole and says why; files and folders that hold a
// radio's configuration carry an owner-only ACL; paths with any character
// work, and the data folder is under %LOCALAPPDATA%.
#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/AtomicWrite.h"
#include "platform/BoundedRead.h"
#include "platform/FileOpen.h"
#include "platform/FolderRoom.h"
#include "platform/Folders.h"
#include "platform/PrivateFile.h"

namespace bcu::platform {
namespace {

namespace fs = std::filesystem;

std::wstring W(const std::string& utf8) {
  return PathOf(utf8).wstring();
}

class Win32FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    dir_ = MakeUniqueFolder(WorkFolderBase(), "bcu-files-test-", error);
    ASSERT_FALSE(dir_.empty()) << error;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(PathOf(dir_), ec);
  }
  std::string In(const std::string& name) const { return JoinPath(dir_, name); }
  std::string Read(const std::string& path) const {
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!ReadFileBounded(path, 1 << 20, bytes, error)) return "<" + error + ">";
    return std::string(bytes.begin(), bytes.end());
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(PathOf(dir_)))
      names.push_back(TextOf(e.path().filename()));
    return names;
  }
  std::string dir_;
};

// Empty when the object's ACL allows the current user and nobody else but
// the system itself (LocalSystem, which reads every file anyway; wine adds
// its entry to every ACL it reports); else what is wrong with it. (That the
// ACL is also protected from the folder's entries is not looked at: wine
// keeps no such flag.)
std::string OwnerOnlyProblem(const std::string& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (::GetNamedSecurityInfoW(W(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS)
    return "no security information";
  if (dacl == nullptr) {
    ::LocalFree(sd);
    return "no ACL: everyone has access";
  }
  HANDLE token = nullptr;
  ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  ::GetTokenInformation(token, TokenUser, user.data(), size, &size);
  ::CloseHandle(token);
  PSID self = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  PSID system = nullptr;
  ::ConvertStringSidToSidW(L"S-1-5-18", &system);
  std::string problem;
  bool userAllowed = false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ::GetAce(dacl, i, &ace);
    auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    PSID sid = &entry->SidStart;
    if (entry->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    if (::EqualSid(sid, self)) {
      userAllowed = true;
    } else if (!::EqualSid(sid, system)) {
      wchar_t* text = nullptr;
      ::ConvertSidToStringSidW(sid, &text);
      problem = "access for " + TextOf(std::filesystem::path(text != nullptr ? text : L"?"));
      if (text != nullptr) ::LocalFree(text);
    }
  }
  if (problem.empty() && !userAllowed) problem = "no entry for the user";
  ::LocalFree(system);
  ::LocalFree(sd);
  return problem;
}

TEST_F(Win32FilesTest, AReplaceAnotherProgramBlocksLeavesTheOldFileWhole) {
  const std::string path = In("codeplug.bin");
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(path, std::string_view("old"), {}, error)) << error;

  // Held open without leave to delete it (an editor): the replace fails,
  // names the reason, and takes its temporary file away again.
  HANDLE held = ::CreateFileW(W(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(WriteFileAtomically(path, std::string_view("new"), {}, error));
  EXPECT_NE(error.find("in use by another program"), std::string::npos) << error;
  EXPECT_NE(error.find(path), std::string::npos) << error;
  ::CloseHandle(held);
  EXPECT_EQ(Read(path), "old");
  EXPECT_EQ(Names(), std::vector<std::string>{"codeplug.bin"});

  // Once the other program lets go, the replace goes through.
  EXPECT_TRUE(WriteFileAtomically(path, std::string_view("new"), {}, error)) << error;
  EXPECT_EQ(Read(path), "new");

  // Keep: a taken name is not replaced.
  AtomicWriteOptions keep;
  keep.existing = ExistingFile::kKeep;
  EXPECT_FALSE(WriteFileAtomically(path, std::string_view("newer"), keep, error));
  EXPECT_NE(error.find("already exists"), std::string::npos) << error;
  EXPECT_EQ(Read(path), "new");
  EXPECT_EQ(Names(), std::vector<std::string>{"codeplug.bin"});
}

TEST_F(Win32FilesTest, ARadiosConfigurationIsReadableByItsOwnerOnly) {
  std::string error;
  AtomicWriteOptions privately;
  privately.mode = kPrivateFileMode;
  const std::string backup = In("backup.bin");
  ASSERT_TRUE(WriteFileAtomically(backup, std::string_view("codeplug"), privately, error)) << error;
  EXPECT_EQ(OwnerOnlyProblem(backup), "");

  const std::string folder = JoinPath(In("backups"), "0123456789ABCDEF");
  ASSERT_TRUE(MakePrivateFolders(folder, error)) << error;
  EXPECT_EQ(OwnerOnlyProblem(In("backups")), "");
  EXPECT_EQ(OwnerOnlyProblem(folder), "");

  // An existing file that anyone could read is narrowed when it is opened
  // as a private file.
  const std::string trace = In("trace.txt");
  ASSERT_TRUE(WriteFileAtomically(trace, std::string_view("x"), {}, error)) << error;
  std::FILE* f = OpenPrivateFile(trace, error);
  ASSERT_NE(f, nullptr) << error;
  std::fputs("frames", f);
  std::fclose(f);
  EXPECT_EQ(OwnerOnlyProblem(trace), "");
  EXPECT_EQ(Read(trace), "frames");

  // A run's work folder too.
  const std::string work = MakeUniqueFolder(dir_, "bcu-work-", error);
  ASSERT_FALSE(work.empty()) << error;
  EXPECT_EQ(OwnerOnlyProblem(work), "");
}

TEST_F(Win32FilesTest, NamesWithAnyCharacterWork) {
  const std::string name = "Kodeplug Größe Кодплаг ✓.bin";
  const std::string folder = In("Ordner ä");
  std::string error;
  ASSERT_TRUE(MakePrivateFolders(folder, error)) << error;
  const std::string path = JoinPath(folder, name);
  ASSERT_TRUE(WriteFileAtomically(path, std::string_view("bytes"), {}, error)) << error;
  EXPECT_EQ(Read(path), "bytes");
  std::uint64_t size = 0;
  EXPECT_TRUE(RegularFileSize(path, size));
  EXPECT_EQ(size, 5u);
  EXPECT_TRUE(PathExists(path));
  std::FILE* f = OpenFile(path, "rb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  // The file is there under its own name, not under a code page's guess.
  EXPECT_TRUE(
      fs::exists(fs::path(W(folder)) / fs::path(L"Kodeplug Gr\u00f6\u00dfe "
                                                L"\u041a\u043e\u0434\u043f\u043b\u0430\u0433 "
                                                L"\u2713.bin")));
  EXPECT_TRUE(RemoveFile(path));
  EXPECT_FALSE(PathExists(path));
  // A missing file is named as given.
  std::vector<std::uint8_t> bytes;
  EXPECT_FALSE(ReadFileBounded(path, 100, bytes, error));
  EXPECT_EQ(error, path + ": no such file or folder");
}

// The radios of a fleet ask for the backup folder's room at the same moment,
// from one process: every one of them gets its answer, and no probe stays.
TEST_F(Win32FilesTest, FolderRoomIsAnsweredToEveryThreadAtOnce) {
  const std::string folder = In("backups");
  std::vector<int> refused(8, 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < refused.size(); ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i)
        if (!QueryFolderRoom(folder).writable) ++refused[t];
    });
  for (auto& t : threads) t.join();
  for (int n : refused) EXPECT_EQ(n, 0);
  EXPECT_TRUE(fs::is_empty(PathOf(folder)));
}

TEST_F(Win32FilesTest, TheDataFolderIsUnderLocalAppData) {
  wchar_t saved[32768] = {};
  const DWORD had = ::GetEnvironmentVariableW(L"LOCALAPPDATA", saved, 32767);
  ::SetEnvironmentVariableW(L"LOCALAPPDATA", L"C:\\Users\\J\u00fcrgen\\AppData\\Local");
  EXPECT_EQ(ProgramDataFolder(), "C:\\Users\\Jürgen\\AppData\\Local\\Brisant Code Updater");
  ::SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
  std::string why;
  EXPECT_EQ(ProgramDataFolder(&why), "");
  EXPECT_EQ(why, "LOCALAPPDATA is not set");
  ::SetEnvironmentVariableW(L"LOCALAPPDATA", had > 0 ? saved : nullptr);
  // Work folders go to the temporary folder.
  EXPECT_FALSE(WorkFolderBase().empty());
  EXPECT_EQ(FolderOf("C:\\data\\history.jsonl"), "C:\\data");
  EXPECT_EQ(FolderOf("C:\\history.jsonl"), "C:\\");
  EXPECT_EQ(FolderOf("history.jsonl"), ".");
}

}  // namespace
}  // namespace bcu::platform
