// `bcu codeplug ...` run as the technician runs it, against the virtual
// radio: what `write` refuses before the radio is touched, that it keeps what
// the radio held and reads back what it wrote, that `read` says when the
// radio's codeplug is invalid, that no command leaves a partial or empty file
// on a full disk, and the list of backups.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "codeplug/CodeplugBuilder.h"
#include "codeplug/CodeplugConversion.h"
#include "sim/PtyRadio.h"
#include "tests/support/UpdateRig.h"

extern char** environ;

namespace bcu::cli {
namespace {

namespace fs = std::filesystem;
using testsupport::FilesBelow;
using testsupport::ReadBytes;

struct Result {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs the bcu program with `args`, `env` added to the environment, and files
// limited to `fileLimit` bytes (a full disk: writes beyond fail).
Result RunBcu(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
              rlim_t fileLimit = RLIM_INFINITY) {
  std::vector<std::string> argStrings{BCU_PROGRAM};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings(env);
  for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    const int in = ::open("/dev/null", O_RDONLY);
    ::dup2(in, 0);
    if (fileLimit != RLIM_INFINITY) {
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{fileLimit, fileLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  Result r;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  int open = 2;
  while (open > 0 && ::poll(fds, 2, 60000) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A built codeplug of 5.`minor`, as the radio sends it.
std::vector<std::uint8_t> Codeplug(std::uint8_t minor, std::uint32_t seed = 4) {
  codeplug::CodeplugShape shape;
  shape.version = {5, minor};
  shape.seed = seed;
  auto image = std::make_unique<codeplug::CodeplugImage>();
  std::size_t n = 0;
  EXPECT_TRUE(codeplug::BuildCodeplug(shape, *image, n));
  codeplug::ParmsImageSwapBytes(*image, n);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(image->data());
  return {bytes, bytes + n};
}

class CodeplugCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeTempDir("bcu-cli");
    env_ = {"XDG_DATA_HOME=" + dir_ + "/data"};
  }
  void TearDown() override {
    if (radio_) radio_->Stop();
    testsupport::RemoveTree(dir_);
  }

  // A radio running its code (format 5.`minor`) that holds `codeplug`.
  sim::PtyRadio& Radio(const std::vector<std::uint8_t>& codeplug, std::uint8_t minor = 9) {
    sim::RadioConfig c;
    c.startMode = sim::RadioMode::kApplication;
    c.formatBefore = {5, minor};
    radio_ = std::make_unique<sim::PtyRadio>(c);
    std::string error;
    EXPECT_TRUE(radio_->Start(&error)) << error;
    radio_->With([&](sim::VirtualRadio& r) { r.SetCodeplug(codeplug); });
    return *radio_;
  }
  std::vector<std::uint8_t> Held() {
    return radio_->With([](sim::VirtualRadio& r) { return r.Codeplug(); });
  }
  sim::RadioCounters Counters() {
    return radio_->With([](sim::VirtualRadio& r) { return r.Counters(); });
  }
  std::string File(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    WriteFile(dir_ + "/" + name, bytes);
    return dir_ + "/" + name;
  }
  Result Bcu(std::vector<std::string> args, rlim_t fileLimit = RLIM_INFINITY) {
    return RunBcu(args, env_, fileLimit);
  }

  std::string dir_;
  std::vector<std::string> env_;
  std::unique_ptr<sim::PtyRadio> radio_;
};

// Files that are no whole valid codeplug, or of another format than the
// radio's, are refused with their reason; the radio is not touched.
TEST_F(CodeplugCommandsTest, WriteRefusesWhatWouldDamageTheRadio) {
  const auto held = Codeplug(9, 1);
  Radio(held, 9);
  const auto good = Codeplug(9, 2);
  std::mt19937 random(5);
  std::vector<std::uint8_t> noise(8000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  struct Case {
    std::string name;
    std::vector<std::uint8_t> bytes;
    int exitCode;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"empty.bin", {}, 13, "not a valid codeplug"},
      {"odd.bin", std::vector<std::uint8_t>(good.begin(), good.begin() + 101), 13,
       "odd byte count"},
      {"cut.bin", std::vector<std::uint8_t>(good.begin(), good.begin() + good.size() / 4 * 2), 13,
       "not a valid codeplug"},
      {"tail.bin", std::vector<std::uint8_t>(good.begin(), good.end() - 20), 13,
       "10 words missing"},
      {"noise.bin", noise, 13, "not a valid codeplug"},
      {"other-format.bin", Codeplug(10, 2), 3, "the radio reports codeplug format 5.9"},
  };
  for (const Case& c : cases) {
    const Result r =
        Bcu({"codeplug", "write", "--port", radio_->DevicePath(), File(c.name, c.bytes)});
    EXPECT_EQ(r.exitCode, c.exitCode) << c.name << "\n" << r.out << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find("nothing written"), std::string::npos) << c.name << ": " << r.err;
    EXPECT_EQ(r.out.find("Done."), std::string::npos) << c.name;
  }
  const Result folder = Bcu({"codeplug", "write", "--port", radio_->DevicePath(), dir_});
  EXPECT_EQ(folder.exitCode, 14);
  EXPECT_NE(folder.err.find("is a folder"), std::string::npos) << folder.err;
  EXPECT_EQ(Held(), held);
  EXPECT_EQ(Counters().downloads, 0);
  EXPECT_EQ(Counters().uploads, 0);

  // --force writes a file of another format, and reads it back.
  const auto other = Codeplug(10, 2);
  const Result forced = Bcu(
      {"codeplug", "write", "--force", "--port", radio_->DevicePath(), File("forced.bin", other)});
  EXPECT_EQ(forced.exitCode, 0) << forced.out << forced.err;
  EXPECT_EQ(Held(), other);
}

// A write keeps what the radio held in the backup folder, writes the file and
// reads it back: the same (0), a stored word that differs (9), or a read-back
// that cannot be done (10); never "Done." for the last two.
TEST_F(CodeplugCommandsTest, WriteKeepsABackupAndReadsBack) {
  const auto held = Codeplug(9, 1);
  const auto file = Codeplug(9, 2);
  Radio(held, 9);
  const std::string path = File("restore.bin", file);
  Result r = Bcu({"codeplug", "write", "--port", radio_->DevicePath(), path});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Verifying codeplug..."), std::string::npos);
  EXPECT_NE(r.out.find("read back the same"), std::string::npos) << r.out;
  EXPECT_EQ(Held(), file);
  auto backups = FilesBelow(dir_ + "/data/brisant-code-updater/backups");
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_NE(backups[0].find("/001A2B3C4D5E6F70/"), std::string::npos);
  const auto kept = ReadBytes(backups[0]);
  ASSERT_GE(kept.size(), held.size());
  EXPECT_TRUE(std::equal(held.begin(), held.end(), kept.begin()));
  EXPECT_NE(r.out.find(backups[0]), std::string::npos);

  radio_->With([](sim::VirtualRadio& r) { r.Faults().alterStoredWord = 300; });
  r = Bcu({"codeplug", "write", "--port", radio_->DevicePath(), path});
  EXPECT_EQ(r.exitCode, 8) << r.out << r.err;
  EXPECT_NE(r.err.find("word 300"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Done."), std::string::npos);

  // --no-verify: written, not read back, said so.
  r = Bcu({"codeplug", "write", "--no-verify", "--port", radio_->DevicePath(), path});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("not read back (--no-verify)"), std::string::npos) << r.out;
  // The program may end before the radio has taken its last frame.
  for (int i = 0; i < 500 && Counters().downloads < 3; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(Counters().downloads, 3);

  // The radio falls silent once it has taken the codeplug.
  radio_->With([&](sim::VirtualRadio& radio) {
    radio.Faults().alterStoredWord = -1;
    radio.SetCodeplug(held);
    const int uploadBlocks = static_cast<int>((held.size() + 127) / 128);
    const int downloadBlocks = static_cast<int>((file.size() + 255) / 256 * 2);
    radio.Faults().silentAfterBlocks = radio.DataBlocks() + uploadBlocks + downloadBlocks;
  });
  r = Bcu({"codeplug", "write", "--port", radio_->DevicePath(), path});
  EXPECT_EQ(r.exitCode, 11) << r.out << r.err;
  EXPECT_NE(r.out.find("The codeplug was written, but it could not be read back to verify it."),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Done."), std::string::npos);
  EXPECT_EQ(Held(), file);
}

// `read` saves the whole image the radio holds; one that fails the validity
// check is saved too but reported with its reason and exit code 7. On a full
// disk the output file keeps its old contents.
TEST_F(CodeplugCommandsTest, ReadSavesTheWholeImageAndSaysWhenItIsInvalid) {
  auto held = Codeplug(10, 3);
  Radio(held, 10);
  const std::string out = dir_ + "/read.bin";
  Result r = Bcu({"codeplug", "read", "--port", radio_->DevicePath(), out});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  auto saved = ReadBytes(out);
  ASSERT_EQ(saved.size(), (held.size() + 127) / 128 * 128);
  EXPECT_TRUE(std::equal(held.begin(), held.end(), saved.begin()));
  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A full disk: the earlier file stays as it was, no temporary is left.
  const auto before = ReadBytes(out);
  r = Bcu({"codeplug", "read", "--port", radio_->DevicePath(), out}, 1000);
  EXPECT_EQ(r.exitCode, 14) << r.out << r.err;
  EXPECT_EQ(ReadBytes(out), before);
  EXPECT_EQ(FilesBelow(dir_), std::vector<std::string>{out});

  std::vector<std::uint8_t> garbage(128);
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 37);
  radio_->With([&](sim::VirtualRadio& radio) { radio.SetCodeplug(garbage); });
  r = Bcu({"codeplug", "read", "--port", radio_->DevicePath(), out});
  EXPECT_EQ(r.exitCode, 13) << r.out << r.err;
  EXPECT_EQ(r.out.find("Done."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("invalid: no block mark at word 0"), std::string::npos) << r.out;
  EXPECT_EQ(ReadBytes(out), garbage);
}

// No offline command destroys or half-writes a file on a full disk, and a
// file that cannot be read is refused with its reason.
TEST_F(CodeplugCommandsTest, OfflineCommandsOnAFullDisk) {
  const auto original = Codeplug(9, 6);
  const std::string cp = File("cp.bin", original);
  // In place, the disk too full for the converted image: the input stays.
  Result r = Bcu({"codeplug", "convert", cp, cp, "--to", "5.10"}, original.size() + 10);
  EXPECT_NE(r.exitCode, 0);
  EXPECT_EQ(ReadBytes(cp), original);
  // Onto an existing output: it keeps its old contents.
  const std::string out = File("out.bin", {1, 2, 3, 4});
  r = Bcu({"codeplug", "convert", cp, out, "--to", "5.10"}, original.size() + 10);
  EXPECT_NE(r.exitCode, 0);
  EXPECT_EQ(ReadBytes(out), (std::vector<std::uint8_t>{1, 2, 3, 4}));
  // A new file that does not fit is not left behind empty.
  r = Bcu({"codeplug", "sample", dir_ + "/sample.bin", "--seed", "1"}, 100);
  EXPECT_NE(r.exitCode, 0);
  EXPECT_FALSE(fs::exists(dir_ + "/sample.bin"));
  EXPECT_EQ(FilesBelow(dir_).size(), 2u);  // cp.bin and out.bin only

  // With room, in place works.
  r = Bcu({"codeplug", "convert", cp, cp, "--to", "5.10"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Bcu({"codeplug", "check", cp}).exitCode, 0);

  r = Bcu({"codeplug", "check", "/dev/zero"});
  EXPECT_EQ(r.exitCode, 13);
  EXPECT_NE(r.err.find("larger than 65536 bytes"), std::string::npos) << r.err;
  r = Bcu({"codeplug", "check", dir_});
  EXPECT_NE(r.err.find("is a folder"), std::string::npos) << r.err;
  // A FIFO nobody writes to: refused, not waited on.
  ASSERT_EQ(::mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
  r = Bcu({"codeplug", "write", "--port", dir_ + "/no-port", dir_ + "/fifo"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("not a regular file (a FIFO)"), std::string::npos) << r.err;
  fs::remove(dir_ + "/fifo");
  // A file that ends before its image does is not a whole codeplug.
  r = Bcu({"codeplug", "check", File("short.bin", {original.begin(), original.end() - 2})});
  EXPECT_EQ(r.exitCode, 13);
  EXPECT_NE(r.err.find("1 words missing"), std::string::npos) << r.err;
}

// A file that `check` calls invalid (it stops before the image's end) is not
// converted without --force: no command exits 0 with an output the program
// itself calls invalid.
TEST_F(CodeplugCommandsTest, ConvertRefusesAFileCutShortUnlessForced) {
  const auto original = Codeplug(9, 6);
  const std::string cut = File("cut.bin", {original.begin(), original.end() - 2});
  const std::string out = dir_ + "/out.bin";
  Result r = Bcu({"codeplug", "convert", cut, out, "--to", "5.10"});
  EXPECT_EQ(r.exitCode, 13) << r.out << r.err;
  EXPECT_NE(r.err.find("1 words missing"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out));
  // In the same format too: no copy of an invalid file.
  r = Bcu({"codeplug", "convert", cut, out, "--to", "5.9"});
  EXPECT_EQ(r.exitCode, 13) << r.out << r.err;
  EXPECT_FALSE(fs::exists(out));
  r = Bcu({"codeplug", "convert", cut, out, "--to", "5.10", "--force"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("OUT lacks the same words"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(out));
}

TEST_F(CodeplugCommandsTest, BackupsAreListed) {
  Result r = Bcu({"codeplug", "backups"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("No codeplug backups"), std::string::npos) << r.out;

  const auto held = Codeplug(9, 1);
  Radio(held, 9);
  ASSERT_EQ(
      Bcu({"codeplug", "write", "--port", radio_->DevicePath(), File("w.bin", held)}).exitCode, 0);
  r = Bcu({"codeplug", "backups", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto list = nlohmann::json::parse(r.out);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["serialNumber"], "001A2B3C4D5E6F70");
  EXPECT_EQ(list[0]["codeplugFormat"], "5.9");
  EXPECT_EQ(list[0]["fileBytes"], (held.size() + 127) / 128 * 128);
  EXPECT_EQ(list[0]["time"].get<std::string>().size(), 19u);
  EXPECT_EQ(list[0]["file"], FilesBelow(dir_ + "/data")[0]);

  r = Bcu({"codeplug", "backups", "--serial", "00-1A-2B-3C-4D-5E-6F-70"});
  EXPECT_NE(r.out.find("001A2B3C4D5E6F70"), std::string::npos) << r.out;
  r = Bcu({"codeplug", "backups", "--serial", "FFFF", "--json"});
  EXPECT_EQ(nlohmann::json::parse(r.out).size(), 0u);
}

}  // namespace
}  // namespace bcu::cli
