// The command-line program as a technician runs it, against a virtual radio
// on a pseudo-terminal: options it refuses, its wait for bootload mode after
// the automatic boot update, and what stop signals and a closed output do.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim/PtyRadio.h"
#include "sim/VirtualRadio.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/UpdateRig.h"

namespace bcu::cli {
namespace {

using testsupport::ChildProcess;

// Generous bounds for things that take a moment; never a measurement.
constexpr double kLong = 120.0;

class BcuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeTempDir("bcu-cli-test");
    // The program keeps codeplug backups in the user's data folder: here.
    data_ = testsupport::MakeTempDir("bcu-cli-data");
    ::setenv("XDG_DATA_HOME", data_.c_str(), 1);
  }
  void TearDown() override {
    if (HasFailure() && bcu_) {
      std::fprintf(stderr, "--- output:\n%s--- errors:\n%s", bcu_->Output().c_str(),
                   bcu_->Error().c_str());
    }
    bcu_.reset();
    if (radio_) radio_->Stop();
    testsupport::RemoveTree(dir_);
    testsupport::RemoveTree(data_);
  }

  // The program's radio: a mobile series-4 radio with boot code 4.2 (current
  // for the embedded set) and codeplug format 5.9 going to 5.10.
  static sim::RadioConfig Radio() {
    sim::RadioConfig c;
    c.bootVersion = {4, 2};
    return c;
  }

  void StartRadio(sim::RadioConfig c, double scale) {
    c.timeScale = scale;
    radio_ = std::make_unique<sim::PtyRadio>(c, scale);
    std::string error;
    ASSERT_TRUE(radio_->Start(&error)) << error;
  }

  ChildProcess& Run(std::vector<std::string> args, bool closeOutput = false) {
    args.insert(args.begin(), BCU_PROGRAM);
    bcu_ = std::make_unique<ChildProcess>(args, dir_, closeOutput);
    EXPECT_TRUE(bcu_->Started());
    return *bcu_;
  }

  // `bcu update` on the radio with the start password and a fast clock.
  ChildProcess& Update(double scale, std::vector<std::string> more = {}, bool closeOutput = false) {
    std::vector<std::string> args{"update",  "--port",        radio_->DevicePath(), "--password",
                                  "gablers", "--delay-scale", std::to_string(scale)};
    args.insert(args.end(), more.begin(), more.end());
    return Run(args, closeOutput);
  }

  template <class F>
  auto WithRadio(F f) {
    return radio_->With([&](sim::VirtualRadio& r) { return f(r); });
  }
  bool Has(sim::ReceivedFile::Kind kind) {
    return WithRadio([kind](sim::VirtualRadio& r) {
      for (const auto& f : r.Files())
        if (f.kind == kind) return true;
      return false;
    });
  }
  // The radio files what it received once its own thread has seen the file's
  // end, which on a busy machine can come after the program has gone on.
  bool WaitForFile(sim::ReceivedFile::Kind kind) {
    for (int i = 0; i < 3000; ++i) {
      if (Has(kind)) return true;
      usleep(10000);
    }
    return false;
  }
  int FramesReceived() {
    return WithRadio([](sim::VirtualRadio& r) { return r.Counters().framesReceived; });
  }
  // Waits until the radio has taken `blocks` data blocks of application code
  // (a code file is application code until it ends small enough for boot code).
  bool WaitForApplicationBlocks(int blocks) {
    for (int i = 0; i < 12000; ++i) {
      const bool taken = WithRadio([&](sim::VirtualRadio& r) {
        return !r.Files().empty() &&
               r.Files().back().kind == sim::ReceivedFile::Kind::kApplication &&
               r.Files().back().data.size() > static_cast<std::size_t>(blocks) * 128;
      });
      if (taken) return true;
      usleep(10000);
    }
    return false;
  }
  // A run folder or a work file left in the program's folder.
  std::vector<std::string> WorkLeft() const {
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir_))
      left.push_back(e.path().filename().string());
    return left;
  }
  // The codeplug backups the program kept.
  std::vector<std::string> Backups() const {
    std::vector<std::string> found;
    const std::string folder = data_ + "/brisant-code-updater/backups";
    if (!std::filesystem::exists(folder)) return found;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
      if (e.is_regular_file()) found.push_back(e.path().string());
    return found;
  }

  std::string dir_, data_;
  std::unique_ptr<sim::PtyRadio> radio_;
  std::unique_ptr<ChildProcess> bcu_;
};

TEST_F(BcuTest, OptionsThatCouldWriteTheWrongCodeOrHangAreRefused) {
  StartRadio(Radio(), 0.02);
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      // What the updater believes it carries.
      {{"--family", "portable"}, "refused without --force"},
      {{"--series", "6"}, "refused without --force"},
      {{"--new-platform", "0"}, "refused without --force"},
      {{"--upgrade-type", "0"}, "refused without --force"},
      // The embedded set brings its boot code up to date by itself.
      {{"--boot"}, "no boot update to choose"},
      // Numbers that are none.
      {{"--delay-scale", "nan"}, "not a finite number"},
      {{"--delay-scale", "inf"}, "not a finite number"},
      {{"--wait-bootload", "nan"}, "not a finite number"},
      {{"--wait-bootload", "-inf"}, "not a finite number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    ChildProcess& bcu = Update(0.02, c.args);
    EXPECT_EQ(bcu.Wait(kLong), 2);
    EXPECT_NE(bcu.Error().find(c.says), std::string::npos) << bcu.Error();
  }
  ChildProcess& info = Run({"info", "--port", radio_->DevicePath(), "--delay-scale", "nan"});
  EXPECT_EQ(info.Wait(kLong), 2);
  EXPECT_EQ(FramesReceived(), 0);
  EXPECT_TRUE(WorkLeft().empty());

  // With --force an override is taken, and the program says what it disables.
  ChildProcess& forced = Run({"update", "--port", radio_->DevicePath(), "--password", "wrong",
                              "--force", "--family", "mobile"});
  EXPECT_EQ(forced.Wait(kLong), 3);  // then the password is refused
  EXPECT_NE(forced.Error().find("--force: --family mobile"), std::string::npos) << forced.Error();
  EXPECT_NE(forced.Error().find("is disabled"), std::string::npos) << forced.Error();
}

TEST_F(BcuTest, AfterTheBootUpdateTheProgramWaitsForEnter) {
  sim::RadioConfig c = Radio();
  c.bootVersion = {4, 1};
  StartRadio(c, 0.02);
  ChildProcess& bcu = Update(0.02);
  ASSERT_TRUE(bcu.WaitForError("then press Enter", kLong));
  // The command line's own words: Enter, not the window's OK.
  EXPECT_NE(bcu.Error().find("Press Enter once the radio is ready."), std::string::npos);
  EXPECT_EQ(bcu.Error().find("Press OK"), std::string::npos);
  EXPECT_EQ(bcu.Output().find("Idle"), std::string::npos) << bcu.Output();
  // The boot code is in; the application waits for the technician.
  EXPECT_TRUE(WaitForFile(sim::ReceivedFile::Kind::kBoot));
  usleep(300000);
  EXPECT_FALSE(Has(sim::ReceivedFile::Kind::kApplication));
  bcu.Write("\n");
  // The step under way is the one the stop message names.
  ASSERT_TRUE(bcu.WaitForOutput("Downloading Application code ...", kLong));
  // Ctrl-C now: the application download ends at its next block.
  bcu.Signal(SIGINT);
  EXPECT_EQ(bcu.Wait(kLong), 10);
  EXPECT_NE(bcu.Error().find("Ctrl-C: stopping the application code download at its next block; "
                             "the radio is then in bootload mode without application code, and "
                             "running the update again completes it (Downloading Application "
                             "code ...)"),
            std::string::npos)
      << bcu.Error();
  EXPECT_NE(bcu.Output().find("Stopped. The radio is in bootload mode without application code; "
                              "running the update again completes it."),
            std::string::npos);
  EXPECT_TRUE(WorkLeft().empty());
}

// A first Ctrl-C while the program waits for bootload mode names that wait.
TEST_F(BcuTest, CtrlCDuringTheBootloadWaitNamesTheWait) {
  sim::RadioConfig c = Radio();
  c.bootVersion = {4, 1};
  StartRadio(c, 0.02);
  ChildProcess& bcu = Update(0.02);
  ASSERT_TRUE(bcu.WaitForError("then press Enter", kLong));
  bcu.Signal(SIGINT);
  EXPECT_EQ(bcu.Wait(kLong), 10);
  EXPECT_NE(bcu.Error().find("(waiting for the radio in bootload mode)"), std::string::npos)
      << bcu.Error();
  EXPECT_EQ(bcu.Error().find("(Idle)"), std::string::npos) << bcu.Error();
}

TEST_F(BcuTest, WithYesTheProgramAsksTheRadioUntilItIsBackInBootloadMode) {
  constexpr double kScale = 0.02;
  sim::RadioConfig c = Radio();
  c.bootVersion = {4, 1};
  c.bootReentryMs = static_cast<std::uint32_t>(1500 / kScale);  // back after 1.5 s
  StartRadio(c, kScale);
  ChildProcess& bcu = Update(kScale, {"--yes"});
  ASSERT_TRUE(bcu.WaitForError("The radio answers in bootload mode.", kLong));
  EXPECT_NE(bcu.Error().find("Waiting up to 300 s for the radio to answer in bootload mode"),
            std::string::npos);
  // With --yes the box says what the program does instead of asking for OK.
  EXPECT_NE(bcu.Error().find("Waiting for the radio in bootload mode, 5:00 left (--yes)."),
            std::string::npos)
      << bcu.Error();
  EXPECT_EQ(bcu.Error().find("Press OK"), std::string::npos);
  ASSERT_TRUE(WaitForApplicationBlocks(10));
  // Two stop signals: the second quits at once; the run still unwinds.
  bcu.Signal(SIGTERM);
  ASSERT_TRUE(bcu.WaitForError("SIGTERM: stopping the application code download", kLong));
  bcu.Signal(SIGTERM);
  EXPECT_EQ(bcu.Wait(kLong), 10);
  EXPECT_TRUE(WorkLeft().empty());
}

TEST_F(BcuTest, WithYesTheProgramGivesUpWhenTheRadioStaysAway) {
  sim::RadioConfig c = Radio();
  c.bootVersion = {4, 1};
  c.bootReentryMs = 3600000;
  StartRadio(c, 0.02);
  ChildProcess& bcu = Update(0.02, {"--yes", "--wait-bootload", "2"});
  EXPECT_EQ(bcu.Wait(kLong), 12);
  EXPECT_NE(bcu.Error().find("did not answer in bootload mode within 2 s"), std::string::npos);
  EXPECT_NE(bcu.Output().find("The radio did not come back in bootload mode; the application "
                              "code was not written."),
            std::string::npos);
  EXPECT_FALSE(Has(sim::ReceivedFile::Kind::kApplication));
  EXPECT_TRUE(WorkLeft().empty());
}

TEST_F(BcuTest, CtrlCDuringTheEraseWaitSaysSoAndStopsBeforeTheCode) {
  constexpr double kScale = 0.05;  // the erase wait lasts 4 s
  StartRadio(Radio(), kScale);
  ChildProcess& bcu = Update(kScale, {"--yes"});
  ASSERT_TRUE(bcu.WaitForOutput("Erasing flash (80 seconds)...", kLong));
  bcu.Signal(SIGINT);
  EXPECT_TRUE(
      bcu.WaitForError("Ctrl-C: stopping before the application code; the radio's flash "
                       "is being erased",
                       kLong));
  EXPECT_EQ(bcu.Wait(kLong), 10);
  EXPECT_TRUE(WaitForFile(sim::ReceivedFile::Kind::kLoader));
  EXPECT_FALSE(Has(sim::ReceivedFile::Kind::kApplication));
  EXPECT_NE(bcu.Output().find("Stopped. The radio is in bootload mode without application code"),
            std::string::npos);
  EXPECT_TRUE(WorkLeft().empty());
}

// A data folder that cannot take the codeplug backup is found out before
// anything is written to the radio: exit code 14 and the reason.
TEST_F(BcuTest, AnUnwritableDataFolderRefusesTheRunBeforeAnyWrite) {
  StartRadio(Radio(), 0.02);
  const std::string blocker = data_ + "/a-file";
  std::FILE* f = std::fopen(blocker.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  ::setenv("XDG_DATA_HOME", (blocker + "/data").c_str(), 1);
  ChildProcess& bcu = Update(0.02, {"--yes"});
  EXPECT_EQ(bcu.Wait(kLong), 14);
  const std::string all = bcu.Output() + bcu.Error();
  EXPECT_NE(all.find("The codeplug backup cannot be kept ("), std::string::npos) << all;
  EXPECT_NE(all.find("a part of the path is not a folder"), std::string::npos) << all;
  EXPECT_FALSE(Has(sim::ReceivedFile::Kind::kLoader));
  EXPECT_EQ(WithRadio([](sim::VirtualRadio& r) { return r.Counters().blocksReceived; }), 0);
  EXPECT_TRUE(WorkLeft().empty());
}

TEST_F(BcuTest, ClosedOutputOnlySilencesTheProgram) {
  StartRadio(Radio(), 0.02);
  ChildProcess& bcu = Update(0.02, {"--yes"}, true);
  // The status lines went nowhere; the download goes on.
  ASSERT_TRUE(WaitForApplicationBlocks(50));
  bcu.Signal(SIGHUP);
  EXPECT_EQ(bcu.Wait(kLong), 10);  // its own way out, not SIGPIPE's
  EXPECT_TRUE(WorkLeft().empty());
}

TEST_F(BcuTest, StopDuringTheConversionWaitKeepsTheRadioCodeplugAndNamesTheBackup) {
  constexpr double kScale = 0.02;
  StartRadio(Radio(), kScale);
  const auto before = WithRadio([](sim::VirtualRadio& r) { return r.Codeplug(); });
  ChildProcess& bcu = Update(kScale, {"--yes"});
  ASSERT_TRUE(bcu.WaitForOutput("Resetting radio and converting codeplug...", kLong));
  bcu.Signal(SIGTERM);
  EXPECT_EQ(bcu.Wait(kLong), 10);
  EXPECT_NE(bcu.Output().find("Stopped. The radio runs its new code; its codeplug was not "
                              "converted."),
            std::string::npos);
  EXPECT_EQ(WithRadio([](sim::VirtualRadio& r) { return r.Counters().downloads; }), 0);
  EXPECT_EQ(WithRadio([](sim::VirtualRadio& r) { return r.Codeplug(); }), before);
  // The backup is on disk and named.
  const std::vector<std::string> backups = Backups();
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_NE(bcu.Error().find("the codeplug read from the radio is saved in " + backups[0]),
            std::string::npos);
  EXPECT_TRUE(WorkLeft().empty());
  // The run is in the update history, with the backup and how it ended.
  std::ifstream history(data_ + "/brisant-code-updater/history.jsonl");
  std::string line, more;
  ASSERT_TRUE(std::getline(history, line));
  EXPECT_FALSE(std::getline(history, more));
  const nlohmann::json j = nlohmann::json::parse(line);
  EXPECT_EQ(j.at("port"), radio_->DevicePath());
  EXPECT_EQ(j.at("serialNumber"), "001A2B3C4D5E6F70");
  EXPECT_EQ(j.at("outcome").at("code"), 10);
  EXPECT_EQ(j.at("outcome").at("text").get<std::string>().rfind(
                "Stopped. The radio runs its new code; its codeplug was not converted.", 0),
            0u);
  EXPECT_EQ(j.at("backupFile"), backups[0]);
  EXPECT_EQ(j.at("codeplugFormatBefore"), "5.9");
  EXPECT_EQ(j.at("codeplugFormatAfter"), "5.9");
}

// The automatic boot update fails when the line drops in its download: the
// JSON result, the plain output and the history line say why (the
// download's failure text, the block and what ended it), never "Idle".
TEST_F(BcuTest, AFailedBootDownloadSaysWhyNeverIdle) {
  sim::RadioConfig c = Radio();
  c.bootVersion = {4, 1};
  c.faults.dropLineAfterBlocks = 3;
  StartRadio(c, 0.02);
  ChildProcess& bcu = Update(0.02, {"--json"});
  EXPECT_EQ(bcu.Wait(kLong), 5);
  const nlohmann::json j = nlohmann::json::parse(bcu.Output());
  const std::string why = "Communication problem during code download. (the ";
  EXPECT_EQ(j.at("statusText").get<std::string>().rfind(why, 0), 0u) << j.dump();
  EXPECT_EQ(j.at("error").at("text"), j.at("statusText"));
  std::ifstream history(data_ + "/brisant-code-updater/history.jsonl");
  std::string line;
  ASSERT_TRUE(std::getline(history, line));
  const nlohmann::json h = nlohmann::json::parse(line);
  EXPECT_EQ(h.at("outcome").at("code"), 5);
  EXPECT_EQ(h.at("outcome").at("text"), j.at("statusText"));
}

// A port another program holds: the refusal, then who holds it.
TEST_F(BcuTest, ABusyPortNamesTheProcessThatHoldsIt) {
  StartRadio(Radio(), 0.02);
  const int fd = ::open(radio_->DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ChildProcess& bcu = Run({"info", "--port", radio_->DevicePath()});
  EXPECT_EQ(bcu.Wait(kLong), 4);
  ::close(fd);
  EXPECT_NE(bcu.Error().find("Selected COM port is in use or not available."), std::string::npos);
  EXPECT_NE(bcu.Error().find(radio_->DevicePath() + ": in use by "), std::string::npos);
  EXPECT_NE(bcu.Error().find("(process " + std::to_string(::getpid()) + ")"), std::string::npos);
}

// A boot update of a radio whose boot code is current is refused before
// anything is written: exit code 3, and so in the history line.
TEST_F(BcuTest, ACurrentBootVersionIsARefusal) {
  StartRadio(Radio(), 0.02);
  ChildProcess& bcu = Run({"update", "--port", radio_->DevicePath(), "--password", "tollmore",
                           "--delay-scale", "0.02", "--upgrade-type", "1", "--force"});
  EXPECT_EQ(bcu.Wait(kLong), 3);
  EXPECT_NE(bcu.Output().find("The boot version is current and does not need to be upgraded."),
            std::string::npos);
  EXPECT_FALSE(Has(sim::ReceivedFile::Kind::kBoot));
  std::ifstream history(data_ + "/brisant-code-updater/history.jsonl");
  std::string line;
  ASSERT_TRUE(std::getline(history, line));
  const nlohmann::json h = nlohmann::json::parse(line);
  EXPECT_EQ(h.at("outcome").at("code"), 3);
  EXPECT_EQ(h.at("outcome").at("text"),
            "The boot version is current and does not need to be upgraded.");
}

// Without --json no status line reads "Idle": the failure text is the last.
TEST_F(BcuTest, NoIdleLineOnTheTerminal) {
  sim::RadioConfig c = Radio();
  c.bootVersion = {4, 1};
  c.faults.dropLineAfterBlocks = 3;
  StartRadio(c, 0.02);
  ChildProcess& bcu = Update(0.02);
  EXPECT_EQ(bcu.Wait(kLong), 5);
  EXPECT_EQ(bcu.Output().find("Idle"), std::string::npos) << bcu.Output();
  EXPECT_NE(bcu.Output().find("Communication problem during code download."), std::string::npos)
      << bcu.Output();
  // What the download knows beyond its status line follows it.
  EXPECT_NE(bcu.Error().find("bcu update: Communication problem during code download. (the "),
            std::string::npos)
      << bcu.Error();
  // The progress says how far the whole run is, beside the step's own.
  EXPECT_NE(bcu.Output().find("% of the run)"), std::string::npos) << bcu.Output();
}

// A script reads one JSON document: the rehearsal and the real run after it
// come together, and a rehearsal that writes nothing leaves the radio alone.
TEST_F(BcuTest, RehearsalThenRealRunIsOneJsonDocument) {
  StartRadio(Radio(), 0.02);
  ChildProcess& bcu = Update(0.02, {"--rehearse-first", "--yes", "--json"});
  EXPECT_EQ(bcu.Wait(kLong), 0);
  const auto doc = nlohmann::json::parse(bcu.Output(), nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << bcu.Output();
  ASSERT_TRUE(doc.contains("rehearsals") && doc["rehearsals"].is_array()) << doc.dump(1);
  ASSERT_EQ(doc["rehearsals"].size(), 1u);
  ASSERT_TRUE(doc.contains("update")) << doc.dump(1);
  EXPECT_EQ(doc["update"].value("exitCode", -1), 0);
  EXPECT_EQ(doc["update"].value("statusText", ""), "Done.");
  EXPECT_TRUE(Has(sim::ReceivedFile::Kind::kApplication));
}

TEST_F(BcuTest, RehearsalAloneIsOneJsonDocumentAndWritesNothing) {
  StartRadio(Radio(), 0.02);
  ChildProcess& bcu = Update(0.02, {"--rehearse", "--json"});
  EXPECT_EQ(bcu.Wait(kLong), 0);
  const auto doc = nlohmann::json::parse(bcu.Output(), nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << bcu.Output();
  EXPECT_EQ(doc["rehearsals"].size(), 1u);
  EXPECT_FALSE(doc.contains("update"));
  EXPECT_TRUE(WithRadio([](sim::VirtualRadio& r) { return r.Files().empty(); }));
}

TEST_F(BcuTest, CodeplugReadStopsOnSigtermWithoutWritingTheFile) {
  sim::RadioConfig c = Radio();
  c.startMode = sim::RadioMode::kApplication;
  c.faults.silentAfterBlocks = 1;  // the upload then waits for its time-out
  StartRadio(c, 1.0);
  ChildProcess& bcu = Run({"codeplug", "read", "--port", radio_->DevicePath(), "out.bin"});
  ASSERT_TRUE(bcu.WaitForOutput("Uploading codeplug...", kLong));
  bcu.Signal(SIGTERM);
  EXPECT_EQ(bcu.Wait(kLong), 10);
  EXPECT_NE(bcu.Error().find("stopped; out.bin was not written"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/out.bin"));
}

}  // namespace
}  // namespace bcu::cli
