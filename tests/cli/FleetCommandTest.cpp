// `bcu update` with several radios at once, against virtual radios on
// pseudo-terminals: each radio ends on its own, a failing one keeps and names
// its backup, every radio is recorded in the history, prompts come one at a
// time naming the port, and `bcu history` reads the record back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "sim/PtyRadio.h"
#include "sim/VirtualRadio.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/UpdateRig.h"

namespace bcu::cli {
namespace {

using testsupport::ChildProcess;

constexpr double kLong = 240.0;
constexpr double kScale = 0.02;

class FleetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeTempDir("bcu-fleet-test");
    data_ = testsupport::MakeTempDir("bcu-fleet-data");
    ::setenv("XDG_DATA_HOME", data_.c_str(), 1);
  }
  void TearDown() override {
    if (HasFailure() && bcu_) {
      std::fprintf(stderr, "--- output:\n%s--- errors:\n%s", bcu_->Output().c_str(),
                   bcu_->Error().c_str());
    }
    bcu_.reset();
    for (auto& r : radios_) r->Stop();
    testsupport::RemoveTree(dir_);
    testsupport::RemoveTree(data_);
  }

  // A mobile series-4 radio with current boot code, codeplug 5.9 going to
  // 5.10, whose serial number ends in `n`.
  static sim::RadioConfig Radio(std::uint8_t n) {
    sim::RadioConfig c;
    c.bootVersion = {4, 2};
    c.serialNumber = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, n};
    return c;
  }
  static std::string SerialOf(std::uint8_t n) {
    char text[32];
    std::snprintf(text, sizeof text, "001A2B3C4D5E6F%02X", n);
    return text;
  }

  sim::PtyRadio& AddRadio(sim::RadioConfig c, double scale = kScale) {
    c.timeScale = scale;
    radios_.push_back(std::make_unique<sim::PtyRadio>(c, scale));
    std::string error;
    EXPECT_TRUE(radios_.back()->Start(&error)) << error;
    return *radios_.back();
  }

  ChildProcess& Run(std::vector<std::string> args) {
    args.insert(args.begin(), BCU_PROGRAM);
    bcu_ = std::make_unique<ChildProcess>(args, dir_);
    EXPECT_TRUE(bcu_->Started());
    return *bcu_;
  }
  // `bcu update` on every radio, with the start password and a fast clock.
  ChildProcess& UpdateAll(std::vector<std::string> more, double scale = kScale) {
    std::vector<std::string> args{"update", "--password", "gablers", "--delay-scale",
                                  std::to_string(scale)};
    for (auto& r : radios_) {
      args.push_back("--port");
      args.push_back(r->DevicePath());
    }
    args.insert(args.end(), more.begin(), more.end());
    return Run(args);
  }

  std::string HistoryPath() const { return data_ + "/brisant-code-updater/history.jsonl"; }
  std::vector<nlohmann::json> HistoryLines() const {
    std::vector<nlohmann::json> lines;
    std::ifstream in(HistoryPath());
    std::string line;
    while (std::getline(in, line)) lines.push_back(nlohmann::json::parse(line));
    return lines;
  }
  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  static bool HasApplication(sim::PtyRadio& radio) {
    return radio.With([](sim::VirtualRadio& r) {
      for (const auto& f : r.Files())
        if (f.kind == sim::ReceivedFile::Kind::kApplication && f.complete) return true;
      return false;
    });
  }

  std::string dir_, data_;
  std::vector<std::unique_ptr<sim::PtyRadio>> radios_;
  std::unique_ptr<ChildProcess> bcu_;
};

// Four radios at once; the third keeps a word other than it was sent, so its
// codeplug download fails on the read-back. The others end "Done.", the
// failed one keeps its backup and names it, the command says some failed, and
// every radio has its line in the history and in the report.
TEST_F(FleetTest, FourRadiosOneFailingItsCodeplugDownload) {
  for (std::uint8_t n = 1; n <= 4; ++n) {
    sim::RadioConfig c = Radio(n);
    if (n == 3) c.faults.alterStoredWord = 777;
    AddRadio(c);
  }
  const std::string report = dir_ + "/report.csv";
  ChildProcess& bcu = UpdateAll({"--report", report});
  EXPECT_EQ(bcu.Wait(kLong), 15);
  const std::string out = bcu.Output();
  for (std::size_t i = 0; i < radios_.size(); ++i) {
    SCOPED_TRACE(radios_[i]->DevicePath());
    // Not on a terminal: each status line names its port.
    EXPECT_NE(out.find(radios_[i]->DevicePath() + ": Downloading Application code ..."),
              std::string::npos);
    EXPECT_TRUE(HasApplication(*radios_[i]));
  }
  EXPECT_EQ(Count(out, ": finished, exit code 0: Done."), 3) << out;
  EXPECT_NE(out.find(radios_[2]->DevicePath() + ": finished, exit code 8: An error occurred "
                                                "while downloading the codeplug."),
            std::string::npos);
  EXPECT_NE(out.find("4 radios: 3 done, 1 failed"), std::string::npos);

  const std::vector<nlohmann::json> lines = HistoryLines();
  ASSERT_EQ(lines.size(), 4u);
  std::map<std::string, nlohmann::json> byPort;
  for (const auto& j : lines) byPort[j.at("port").get<std::string>()] = j;
  for (std::size_t i = 0; i < radios_.size(); ++i) {
    SCOPED_TRACE(radios_[i]->DevicePath());
    ASSERT_EQ(byPort.count(radios_[i]->DevicePath()), 1u);
    const nlohmann::json& j = byPort[radios_[i]->DevicePath()];
    const bool failing = i == 2;
    EXPECT_EQ(j.at("serialNumber"), SerialOf(static_cast<std::uint8_t>(i + 1)));
    EXPECT_EQ(j.at("outcome").at("code"), failing ? 8 : 0);
    EXPECT_EQ(j.at("outcome").at("text").get<std::string>().rfind(
                  failing ? "An error occurred while downloading the codeplug." : "Done.", 0),
              0u);
    EXPECT_EQ(j.at("versionsBefore").at("controllerVersion"), "4.3.0");
    EXPECT_EQ(j.at("versionsBefore").at("fileFormatVersion"), "5.9");
    EXPECT_EQ(j.at("versionsAfter").at("fileFormatVersion"), "5.10");
    EXPECT_EQ(j.at("codeplugFormatBefore"), "5.9");
    EXPECT_EQ(j.at("codeplugFormatAfter"), "5.10");
    EXPECT_FALSE(j.at("firmwareSet").at("release").get<std::string>().empty());
    EXPECT_TRUE(std::regex_match(j.at("startTime").get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    EXPECT_GT(j.at("durationSeconds").get<double>(), 0.0);
    const std::string backup = j.at("backupFile");
    EXPECT_TRUE(std::filesystem::exists(backup)) << backup;
    EXPECT_NE(backup.find("/" + SerialOf(static_cast<std::uint8_t>(i + 1)) + "/"),
              std::string::npos);
    if (failing) {
      EXPECT_NE(bcu.Error().find(radios_[i]->DevicePath() +
                                 ": the codeplug read from the radio is saved in " + backup),
                std::string::npos);
      EXPECT_NE(out.find("backup: " + backup), std::string::npos);
    }
  }
  struct stat st {};
  ASSERT_EQ(::stat(HistoryPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // The report: a header and one line per radio.
  std::ifstream in(report);
  std::string line;
  int rows = 0;
  while (std::getline(in, line)) ++rows;
  EXPECT_EQ(rows, 5);
  // No run left its work folder behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                          std::filesystem::directory_iterator()),
            1);
}

// A radio unplugged during its code download is that radio's failure; the
// other radio goes on to "Done.".
TEST_F(FleetTest, ARadioThatDisappearsFailsAlone) {
  sim::RadioConfig gone = Radio(1);
  gone.faults.dropLineAfterBlocks = 40;
  AddRadio(gone);
  AddRadio(Radio(2));
  ChildProcess& bcu = UpdateAll({"--json"});
  EXPECT_EQ(bcu.Wait(kLong), 15);
  EXPECT_TRUE(radios_[0]->LineClosed());
  EXPECT_TRUE(HasApplication(*radios_[1]));
  // --json: one object per line, each naming port and serial number.
  std::map<std::string, nlohmann::json> results;
  std::istringstream lines(bcu.Output());
  std::string line;
  while (std::getline(lines, line)) {
    const nlohmann::json j = nlohmann::json::parse(line);
    ASSERT_TRUE(j.contains("port") && j.contains("serialNumber")) << line;
    if (j.at("event") == "result") results[j.at("port")] = j;
  }
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[radios_[0]->DevicePath()].at("exitCode"), 5);
  EXPECT_EQ(results[radios_[0]->DevicePath()].at("serialNumber"), SerialOf(1));
  EXPECT_EQ(results[radios_[1]->DevicePath()].at("exitCode"), 0);
  EXPECT_EQ(results[radios_[1]->DevicePath()].at("statusText"), "Done.");
  EXPECT_EQ(HistoryLines().size(), 2u);
}

// A radio whose boot code the automatic update writes first drops its line
// in that download: the window's status line then reads "Idle", but its
// result everywhere it is shown (the live line, the final table, the JSON
// result, the history line and the report) is the download's failure text
// with the block and what ended it.
TEST_F(FleetTest, AFailedBootDownloadSaysWhyEverywhereNeverIdle) {
  sim::RadioConfig old = Radio(1);
  old.bootVersion = {4, 1};
  old.faults.dropLineAfterBlocks = 3;
  AddRadio(old);
  AddRadio(Radio(2));
  const std::string report = dir_ + "/report.csv";
  ChildProcess& bcu = UpdateAll({"--report", report});
  EXPECT_EQ(bcu.Wait(kLong), 15);
  const std::string failed = radios_[0]->DevicePath();
  const std::string why = "Communication problem during code download. (the ";
  const std::string out = bcu.Output();
  EXPECT_NE(out.find(failed + ": finished, exit code 5: " + why), std::string::npos) << out;
  EXPECT_EQ(out.find(failed + ": Idle"), std::string::npos) << out;
  EXPECT_NE(out.find("the port went away)"), std::string::npos) << out;
  // The final table's line of the radio.
  std::istringstream rows(out);
  std::string row;
  bool inTable = false;
  while (std::getline(rows, row))
    if (row.rfind(failed + " ", 0) == 0 && row.find(SerialOf(1)) != std::string::npos) {
      inTable = true;
      EXPECT_NE(row.find(why), std::string::npos) << row;
    }
  EXPECT_TRUE(inTable) << out;
  for (const auto& j : HistoryLines()) {
    if (j.at("port") != failed) continue;
    EXPECT_EQ(j.at("outcome").at("code"), 5);
    EXPECT_EQ(j.at("outcome").at("text").get<std::string>().rfind(why, 0), 0u) << j.dump();
  }
  std::ifstream in(report);
  const std::string csv((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(csv.find(why), std::string::npos) << csv;
  EXPECT_EQ(csv.find(",Idle,"), std::string::npos) << csv;

  // --json: the result object says the same.
  radios_[0]->Stop();
  radios_.erase(radios_.begin());
  AddRadio(old);
  ChildProcess& json = UpdateAll({"--json"});
  EXPECT_EQ(json.Wait(kLong), 15);
  bool result = false;
  std::istringstream lines(json.Output());
  std::string line;
  while (std::getline(lines, line)) {
    const nlohmann::json j = nlohmann::json::parse(line);
    EXPECT_NE(j.value("statusText", ""), "Idle") << line;
    if (j.at("event") != "result" || j.at("port") != radios_[1]->DevicePath()) continue;
    result = true;
    EXPECT_EQ(j.at("statusText").get<std::string>().rfind(why, 0), 0u) << line;
  }
  EXPECT_TRUE(result) << json.Output();
}

// Two radios that both ask for their codeplug password: one prompt at a time,
// each naming its radio and port; the second radio waits for the first.
TEST_F(FleetTest, CodeplugPasswordPromptsComeOneAtATimeNamingThePort) {
  for (std::uint8_t n = 1; n <= 2; ++n) {
    sim::RadioConfig c = Radio(n);
    c.password = "2468";
    AddRadio(c);
  }
  ChildProcess& bcu = UpdateAll({});
  const std::string prompt = "Codeplug password of radio ";
  std::map<std::string, int> asked;
  // Each radio asks for the upload and again for the download.
  for (int k = 1; k <= 4; ++k) {
    for (int i = 0; i < 4000 && Count(bcu.Error(), prompt) < k; ++i) usleep(50000);
    ASSERT_EQ(Count(bcu.Error(), prompt), k);
    usleep(300000);
    // Nobody else asks while this prompt waits.
    ASSERT_EQ(Count(bcu.Error(), prompt), k) << bcu.Error();
    const std::string err = bcu.Error();
    const std::string last = err.substr(err.rfind(prompt));
    bool named = false;
    for (std::size_t i = 0; i < radios_.size(); ++i) {
      if (last.rfind(prompt + SerialOf(static_cast<std::uint8_t>(i + 1)) + " on " +
                         radios_[i]->DevicePath() + ": ",
                     0) == 0) {
        named = true;
        ++asked[radios_[i]->DevicePath()];
      }
    }
    EXPECT_TRUE(named) << last;
    bcu.Write("2468\n");
  }
  EXPECT_EQ(bcu.Wait(kLong), 0);
  EXPECT_EQ(asked.size(), 2u);
  EXPECT_EQ(HistoryLines().size(), 2u);
}

// Ctrl-C stops every radio at its next safe step: the radio waiting to convert
// its codeplug keeps the codeplug it had and names its backup, no radio is
// left with a codeplug half written, and the command says some failed.
TEST_F(FleetTest, CtrlCStopsEveryRadioAtItsNextSafeStep) {
  constexpr double kSlower = 0.05;  // the conversion wait lasts a second
  AddRadio(Radio(1), kSlower);
  AddRadio(Radio(2), kSlower);
  const auto before = radios_[0]->With([](sim::VirtualRadio& r) { return r.Codeplug(); });
  ChildProcess& bcu = UpdateAll({"--yes"}, kSlower);
  ASSERT_TRUE(bcu.WaitForOutput(
      radios_[0]->DevicePath() + ": Resetting radio and converting codeplug...", kLong));
  bcu.Signal(SIGINT);
  EXPECT_EQ(bcu.Wait(kLong), 15);
  EXPECT_NE(bcu.Error().find("Ctrl-C: every radio stops after its current step"),
            std::string::npos);
  EXPECT_NE(bcu.Output().find(radios_[0]->DevicePath() +
                              ": finished, exit code 10: Stopped. The radio runs its new code; "
                              "its codeplug was not converted."),
            std::string::npos)
      << bcu.Output();
  EXPECT_EQ(radios_[0]->With([](sim::VirtualRadio& r) { return r.Counters().downloads; }), 0);
  EXPECT_EQ(radios_[0]->With([](sim::VirtualRadio& r) { return r.Codeplug(); }), before);
  const std::vector<nlohmann::json> lines = HistoryLines();
  ASSERT_EQ(lines.size(), 2u);
  for (const auto& j : lines) {
    const int code = j.at("outcome").at("code");
    EXPECT_TRUE(code == 0 || code == 10) << j.dump();
    if (j.at("port") == radios_[0]->DevicePath()) {
      EXPECT_EQ(code, 10);
      EXPECT_NE(bcu.Error().find(radios_[0]->DevicePath() +
                                 ": the codeplug read from the radio is saved in " +
                                 j.at("backupFile").get<std::string>()),
                std::string::npos)
          << bcu.Error();
    }
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                          std::filesystem::directory_iterator()),
            0);
}

// After their automatic boot update, radios wait to be put back into bootload
// mode: one prompt at a time, naming the port; Enter lets that radio go on.
TEST_F(FleetTest, BootloadPromptsComeOneAtATimeNamingThePort) {
  for (std::uint8_t n = 1; n <= 2; ++n) {
    sim::RadioConfig c = Radio(n);
    c.bootVersion = {4, 1};
    AddRadio(c);
  }
  ChildProcess& bcu = UpdateAll({});
  const std::string prompt = "put the radio back into bootload mode, then press Enter";
  std::map<std::string, int> asked;
  for (int k = 1; k <= 2; ++k) {
    for (int i = 0; i < 4000 && Count(bcu.Error(), prompt) < k; ++i) usleep(50000);
    ASSERT_EQ(Count(bcu.Error(), prompt), k);
    usleep(300000);
    ASSERT_EQ(Count(bcu.Error(), prompt), k) << bcu.Error();
    const std::string err = bcu.Error();
    const std::string line = err.substr(err.rfind('\n', err.rfind(prompt)) + 1);
    for (std::size_t i = 0; i < radios_.size(); ++i)
      if (line.rfind(radios_[i]->DevicePath() + " (radio " +
                         SerialOf(static_cast<std::uint8_t>(i + 1)) + "): " + prompt,
                     0) == 0)
        ++asked[radios_[i]->DevicePath()];
    bcu.Write("\n");
  }
  EXPECT_EQ(bcu.Wait(kLong), 0);
  EXPECT_EQ(asked.size(), 2u);
  for (auto& r : radios_) EXPECT_TRUE(HasApplication(*r));
}

// `bcu history` reads the record back: one radio, since a date, as CSV.
TEST_F(FleetTest, HistoryFiltersBySerialAndDateAndPrintsCsv) {
  std::filesystem::create_directories(data_ + "/brisant-code-updater");
  {
    std::ofstream out(HistoryPath());
    out << R"({"port":"/dev/ttyUSB0","serialNumber":"001A2B3C4D5E6F01","outcome":{"code":0,"text":"Done."},"startTime":"2026-11-30T09:00:00Z","durationSeconds":300,"codeplugFormatBefore":"5.9","codeplugFormatAfter":"5.10","firmwareSet":{"name":"Set","release":"4.2"},"backupFile":"/b/1.bin"})"
        << "\n"
        << "not a record\n"
        << R"({"port":"/dev/ttyUSB1","serialNumber":"001A2B3C4D5E6F02","outcome":{"code":8,"text":"An error occurred, \"badly\""},"startTime":"2026-12-02T10:00:00Z","durationSeconds":200,"backupFile":"/b/2.bin"})"
        << "\n"
        << R"({"port":"/dev/ttyUSB0","serialNumber":"001A2B3C4D5E6F01","outcome":{"code":0,"text":"Done."},"startTime":"2026-12-05T11:30:00Z","durationSeconds":310})"
        << "\n";
  }
  ChildProcess& bySerial = Run({"history", "--serial", "00-1a-2b-3c-4d-5e-6f-01", "--json"});
  EXPECT_EQ(bySerial.Wait(kLong), 0);
  EXPECT_EQ(Count(bySerial.Output(), "\"serialNumber\":\"001A2B3C4D5E6F01\""), 2);
  EXPECT_EQ(Count(bySerial.Output(), "\n"), 2);
  EXPECT_NE(bySerial.Error().find("1 line of"), std::string::npos);

  ChildProcess& csv = Run({"history", "--since", "2026-12-01", "--csv"});
  EXPECT_EQ(csv.Wait(kLong), 0);
  std::istringstream rows(csv.Output());
  std::string header, first, second, more;
  std::getline(rows, header);
  std::getline(rows, first);
  std::getline(rows, second);
  EXPECT_FALSE(std::getline(rows, more));
  EXPECT_EQ(header.rfind("startTime,port,serialNumber,exitCode,outcome,", 0), 0u) << header;
  EXPECT_EQ(first.rfind("2026-12-02T10:00:00Z,/dev/ttyUSB1,001A2B3C4D5E6F02,8,"
                        "\"An error occurred, \"\"badly\"\"\",200.0,",
                        0),
            0u)
      << first;
  EXPECT_EQ(second.rfind("2026-12-05T11:30:00Z,/dev/ttyUSB0,001A2B3C4D5E6F01,0,Done.,", 0), 0u)
      << second;

  ChildProcess& table = Run({"history"});
  EXPECT_EQ(table.Wait(kLong), 0);
  EXPECT_NE(table.Output().find("5.9>5.10"), std::string::npos) << table.Output();
  EXPECT_NE(table.Output().find("backup: /b/2.bin"), std::string::npos);
  // The table's columns are as wide as their entries: the header's "Port"
  // stands where each port begins.
  std::istringstream tableRows(table.Output());
  std::string head, row;
  std::getline(tableRows, head);
  std::getline(tableRows, row);
  const auto portAt = head.find("Port");
  ASSERT_NE(portAt, std::string::npos) << head;
  EXPECT_EQ(row.find("/dev/ttyUSB"), portAt) << head << "\n" << row;

  ChildProcess& bad = Run({"history", "--since", "yesterday"});
  EXPECT_EQ(bad.Wait(kLong), 2);
  EXPECT_NE(bad.Error().find("not a date"), std::string::npos);
  // A day no calendar has is no date either; a good one says what it took.
  ChildProcess& impossible = Run({"history", "--since", "2026-02-30"});
  EXPECT_EQ(impossible.Wait(kLong), 2);
  EXPECT_NE(impossible.Error().find("not a date: 2026-02-30"), std::string::npos);
  ChildProcess& day = Run({"history", "--since", "2026-12-01"});
  EXPECT_EQ(day.Wait(kLong), 0);
  EXPECT_NE(day.Error().find("at or after 2026-12-01T00:00:00Z (UTC)"), std::string::npos)
      << day.Error();
}

}  // namespace
}  // namespace bcu::cli
