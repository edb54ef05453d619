// One convention across `bcu`'s subcommands: a fault gives the same exit code
// whichever subcommand meets it, --json failures are one error object, the
// keys name what they hold, -q and -v mean the same everywhere, and the help
// names what each option takes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/ExitCodes.h"
#include "sim/PtyRadio.h"
#include "sim/RadioConfig.h"
#include "support/UpdateRig.h"
#include "tests/cli/InProcessBcu.h"

namespace bcu::cli {
namespace {

using Result = testsupport::BcuRun;

// Runs one `bcu` command line in this process.
Result Bcu(const std::vector<std::string>& args) {
  return testsupport::RunBcuInProcess(args);
}

std::string Describe(const std::vector<std::string>& args, const Result& r) {
  std::string text = "bcu";
  for (const auto& a : args) text += " " + a;
  return text + "\n--- stdout:\n" + r.out + "--- stderr:\n" + r.err;
}

class ConventionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeTempDir("bcu-convention-test");
    // `update` records its runs (and keeps backups) in the data folder: a
    // private one, never the user's.
    data_ = testsupport::MakeTempDir("bcu-convention-data");
    ::setenv("XDG_DATA_HOME", data_.c_str(), 1);
    missingPort_ = dir_ + "/no-such-port";
    good_ = dir_ + "/good.bin";
    ASSERT_EQ(Bcu({"-q", "codeplug", "sample", good_}).code, 0);
    invalid_ = dir_ + "/invalid.bin";
    std::ofstream(invalid_, std::ios::binary) << std::string(256, '\0');
    missingFile_ = dir_ + "/missing.bin";
    badSet_ = dir_ + "/set";
    std::filesystem::create_directories(badSet_);
    std::ofstream(badSet_ + "/attributes.json") << R"({"LoaderChunks": 0, "CodeChunks": 0})";
  }
  void TearDown() override {
    if (radio_) radio_->Stop();
    testsupport::RemoveTree(dir_);
    testsupport::RemoveTree(data_);
  }
  const std::string& RadioPort() {
    sim::RadioConfig config;
    // A portable radio, and `info --family portable`: no interface box probe,
    // whose short reply time-out a busy machine may miss.
    config.family = sim::RadioFamily::kPortable;
    config.startMode = sim::RadioMode::kApplication;
    radio_ = std::make_unique<sim::PtyRadio>(config, 0.1);
    std::string error;
    EXPECT_TRUE(radio_->Start(&error)) << error;
    radioPath_ = radio_->DevicePath();
    return radioPath_;
  }

  std::string dir_, data_, missingPort_, good_, invalid_, missingFile_, badSet_, radioPath_;
  std::unique_ptr<sim::PtyRadio> radio_;
};

void ExpectCode(const std::vector<std::vector<std::string>>& commands, int code) {
  for (const auto& args : commands) {
    const Result r = Bcu(args);
    EXPECT_EQ(r.code, code) << Describe(args, r);
    // Every failure says what it was.
    EXPECT_FALSE(r.err.empty() && r.out.empty()) << Describe(args, r);
  }
}

TEST_F(ConventionTest, EachFaultHasOneExitCodeInEverySubcommand) {
  // A bad command line.
  ExpectCode({{"update"},
              {"info"},
              {"doctor"},
              {"ports", "--no-such-option"},
              {"version", "extra"},
              {"firmware", "export"},
              {"codeplug", "check"},
              {"codeplug", "convert", good_, good_},
              {"codeplug", "read", "--port", missingPort_},
              {"codeplug", "sample", dir_ + "/s.bin", "--format", "6.0"},
              {"update", "--port", missingPort_, "--delay-scale", "nan"},
              {"info", "--port", missingPort_, "--delay-scale", "inf"},
              {"update", "--port", missingPort_, "--series", "3"},
              {"-v", "-q", "version"},
              {"version", "--verbose", "--quiet"}},
             kExitUsage);
  // A port that cannot be opened.
  ExpectCode({{"info", "--port", missingPort_},
              {"doctor", "--port", missingPort_},
              {"update", "--port", missingPort_, "--password", "gablers", "--yes"},
              {"codeplug", "read", "--port", missingPort_, dir_ + "/read.bin"},
              {"codeplug", "write", "--port", missingPort_, good_}},
             kExitPort);
  // An input file that fails its check (before any port is opened).
  ExpectCode({{"codeplug", "check", invalid_},
              {"codeplug", "convert", invalid_, dir_ + "/out.bin", "--to", "5.10"},
              {"codeplug", "write", "--port", missingPort_, invalid_},
              {"update", "--port", missingPort_, "--password", "gablers", "--firmware", badSet_}},
             kExitFileInvalid);
  // A file that cannot be read or written.
  ExpectCode({{"codeplug", "check", missingFile_},
              {"codeplug", "info", missingFile_},
              {"codeplug", "convert", missingFile_, dir_ + "/out.bin", "--to", "5.10"},
              {"codeplug", "convert", good_, dir_ + "/no/such/folder/out.bin", "--to", "5.10"},
              {"codeplug", "write", "--port", missingPort_, missingFile_},
              {"firmware", "export", good_ + "/below-a-file"},
              {"update", "--port", missingPort_, "--password", "gablers", "--trace",
               dir_ + "/no/such/folder/trace.txt"}},
             kExitFileError);
  // The table is in the program's help, once, with every code.
  const Result help = Bcu({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.find(ExitCodeTable()), help.out.rfind(ExitCodeTable())) << help.out;
  EXPECT_NE(help.out.find(ExitCodeTable()), std::string::npos) << help.out;
  for (int code = kExitOk; code <= kExitSomeFailed; ++code)
    EXPECT_NE(help.out.find(std::to_string(code) + " " + ExitCodeName(code)), std::string::npos)
        << code;
  // Subcommands refer to it rather than repeat it.
  const Result exportHelp = Bcu({"firmware", "export", "--help"});
  EXPECT_EQ(exportHelp.out.find("Exit codes (the same"), std::string::npos) << exportHelp.out;
  // The README's copy is the same table, indented as a block.
  std::ifstream readme(BCU_README);
  const std::string text((std::istreambuf_iterator<char>(readme)),
                         std::istreambuf_iterator<char>());
  std::istringstream lines(ExitCodeTable());
  for (std::string line; std::getline(lines, line);)
    EXPECT_NE(text.find("      " + line + "\n"), std::string::npos) << line;
}

TEST_F(ConventionTest, FailuresUnderJsonAreOneErrorObjectOnStdout) {
  const std::vector<std::vector<std::string>> failing = {
      {"codeplug", "check", "--json"},  // usage
      {"codeplug", "check", invalid_, "--json"},
      {"codeplug", "info", missingFile_, "--json"},
      {"codeplug", "convert", invalid_, dir_ + "/out.bin", "--to", "5.10", "--json"},
      {"codeplug", "write", "--port", missingPort_, good_, "--json"},
      {"codeplug", "read", "--port", missingPort_, dir_ + "/read.bin", "--json"},
      {"info", "--port", missingPort_, "--json"},
      {"doctor", "--port", missingPort_, "--json"},
      {"update", "--port", missingPort_, "--password", "gablers", "--yes", "--json"},
      {"update", "--port", missingPort_, "--password", "nonsense", "--json"},
      {"update", "--port", missingPort_, "--firmware", badSet_, "--json"},
  };
  for (const auto& args : failing) {
    const Result r = Bcu(args);
    EXPECT_NE(r.code, kExitOk) << Describe(args, r);
    nlohmann::json j;
    ASSERT_NO_THROW(j = nlohmann::json::parse(r.out)) << Describe(args, r);
    ASSERT_TRUE(j.is_object() && j.contains("error")) << Describe(args, r);
    const auto& e = j["error"];
    EXPECT_EQ(e["code"], r.code) << Describe(args, r);
    EXPECT_EQ(e["name"], ExitCodeName(r.code)) << Describe(args, r);
    EXPECT_FALSE(e["text"].get<std::string>().empty()) << Describe(args, r);
  }
  // The text is what the plain output says.
  const Result plain = Bcu({"codeplug", "check", invalid_});
  const Result json = Bcu({"codeplug", "check", invalid_, "--json"});
  const std::string text = nlohmann::json::parse(json.out)["error"]["text"];
  EXPECT_NE(plain.err.find(text), std::string::npos) << plain.err << "\n" << text;
  EXPECT_EQ(nlohmann::json::parse(
                Bcu({"update", "--port", missingPort_, "--password", "nonsense", "--json"})
                    .out)["error"]["name"],
            "refused");
}

// A port that cannot be opened: the refusal's own words, then the port and
// the system's reason, in the plain output and in the JSON error's text.
TEST_F(ConventionTest, PortErrorsNameThePortAndTheSystemsReason) {
  const std::string reason = missingPort_ + ": No such file or directory";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"update", "--port", missingPort_, "--password", "gablers",
                                 "--yes"},
        {"info", "--port", missingPort_},
        {"codeplug", "read", "--port", missingPort_, dir_ + "/read.bin"}}) {
    const Result r = Bcu(args);
    EXPECT_EQ(r.code, kExitPort) << Describe(args, r);
    const std::string refusal = args[0] == "codeplug"
                                    ? "Unable to start communication: COM port error"
                                    : "Selected COM port is in use or not available.";
    EXPECT_NE(r.err.find(refusal), std::string::npos) << Describe(args, r);
    EXPECT_NE((r.out + r.err).find(reason), std::string::npos) << Describe(args, r);
  }
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"update", "--port", missingPort_, "--password", "gablers", "--yes",
                                 "--json"},
        {"info", "--port", missingPort_, "--json"}}) {
    const Result r = Bcu(args);
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["error"]["text"], "Selected COM port is in use or not available. (" + reason + ")")
        << Describe(args, r);
  }
}

TEST_F(ConventionTest, JsonKeysNameWhatTheyHold) {
  const auto keysOf = [](const std::vector<std::string>& args) {
    const Result r = Bcu(args);
    EXPECT_EQ(r.code, kExitOk) << Describe(args, r);
    return nlohmann::json::parse(r.out);
  };
  const auto info = keysOf({"info", "--port", RadioPort(), "--family", "portable", "--json"});
  EXPECT_EQ(info["serialNumber"], "00-1A-2B-3C-4D-5E-6F-70");
  EXPECT_EQ(info["fileFormatVersion"], "5.9");
  EXPECT_EQ(info["dspSoftwareVersion"], "3.2.1");
  EXPECT_TRUE(info.contains("bootVersion") && info.contains("controllerVersion") &&
              info.contains("hardwareRevision") && info.contains("semVersion"))
      << info.dump();
  for (const auto& [key, value] : info.items())
    EXPECT_EQ(key.find("Label"), std::string::npos) << key;

  const auto check = keysOf({"codeplug", "check", good_, "--json"});
  EXPECT_EQ(check["valid"], true);
  EXPECT_EQ(check["codeplugFormat"], "5.9");
  const auto described = keysOf({"codeplug", "info", good_, "--json"});
  EXPECT_EQ(described["codeplugFormat"], "5.9");
  EXPECT_EQ(described["fileBytes"], std::filesystem::file_size(good_));
  const auto version = keysOf({"version", "--json"});
  EXPECT_EQ(version["program"], "bcu");
  EXPECT_TRUE(version.contains("programVersion") && version.contains("firmwareSetName") &&
              version.contains("firmwareSetRelease"))
      << version.dump();
  const auto firmware = keysOf({"firmware", "info", "--json"});
  EXPECT_EQ(firmware["upgradeType"], "Application/Boot");
  EXPECT_EQ(firmware["radioFamily"], "mobile");
  EXPECT_FALSE(firmware["images"].empty());
  const auto converted =
      keysOf({"codeplug", "convert", good_, dir_ + "/out.bin", "--to", "5.10", "--json"});
  EXPECT_EQ(converted["fromFormat"], "5.9");
  EXPECT_EQ(converted["toFormat"], "5.10");
  const auto sample = keysOf({"codeplug", "sample", dir_ + "/s.bin", "--json"});
  EXPECT_EQ(sample["fileBytes"], std::filesystem::file_size(dir_ + "/s.bin"));
  const auto exported = keysOf({"firmware", "export", dir_ + "/images", "--json"});
  ASSERT_FALSE(exported["files"].empty());
  for (const auto& file : exported["files"])
    EXPECT_TRUE(std::filesystem::exists(file.get<std::string>())) << file;
}

TEST_F(ConventionTest, QuietSaysNothingOnSuccessVerboseAddsDetail) {
  // Quiet: nothing where the exit code is the answer, before or after the
  // subcommand; a failure still says why.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-q", "codeplug", "check", good_},
           {"codeplug", "check", good_, "--quiet"},
           {"-q", "codeplug", "convert", good_, dir_ + "/q.bin", "--to", "5.10"},
           {"-q", "codeplug", "sample", dir_ + "/q2.bin"},
           {"-q", "firmware", "export", dir_ + "/images"}}) {
    const Result r = Bcu(args);
    EXPECT_EQ(r.code, kExitOk) << Describe(args, r);
    EXPECT_EQ(r.out, "") << Describe(args, r);
    EXPECT_EQ(r.err, "") << Describe(args, r);
  }
  EXPECT_NE(Bcu({"codeplug", "check", good_}).out, "");
  const Result failed = Bcu({"-q", "codeplug", "check", invalid_});
  EXPECT_EQ(failed.code, kExitFileInvalid);
  EXPECT_NE(failed.err.find("invalid"), std::string::npos) << failed.err;

  // Verbose: time-stamped detail (the port, what was read) on stderr; the
  // result on stdout is the same.
  const std::string port = RadioPort();
  const Result normal = Bcu({"info", "--port", port, "--family", "portable"});
  const Result verbose = Bcu({"info", "--port", port, "--family", "portable", "-v"});
  EXPECT_EQ(normal.code, kExitOk);
  EXPECT_EQ(verbose.code, kExitOk);
  EXPECT_EQ(verbose.out, normal.out);
  EXPECT_EQ(normal.err, "");
  EXPECT_TRUE(std::regex_search(verbose.err, std::regex(R"(\[\d\d:\d\d:\d\d\.\d{3}\] port: )")))
      << verbose.err;
  const Result ports = Bcu({"--verbose", "ports", "--port", port});
  EXPECT_NE(ports.out.find("dialout"), std::string::npos) << ports.out;
  EXPECT_NE(ports.out.find("ModemManager"), std::string::npos) << ports.out;
}

TEST_F(ConventionTest, HelpNamesWhatEachOptionTakes) {
  const Result all = Bcu({"--help-all"});
  ASSERT_EQ(all.code, 0);
  // CLI11's own type words never stand for a value.
  EXPECT_FALSE(std::regex_search(all.out, std::regex(R"(\b(TEXT|FLOAT|UINT|INT|FINITE)\b)")))
      << all.out;
  const Result update = Bcu({"update", "--help"});
  for (const char* expected :
       {"--port DEV", "--trace FILE", "--firmware DIR", "--wait-bootload SECONDS",
        "--delay-scale SCALE", "--codeplug-password DIGITS"})
    EXPECT_NE(update.out.find(expected), std::string::npos) << expected << "\n" << update.out;
  EXPECT_NE(Bcu({"codeplug", "convert", "--help"}).out.find("--to FORMAT"), std::string::npos);
  EXPECT_NE(Bcu({"codeplug", "write", "--help"}).out.find("FILE"), std::string::npos);
  EXPECT_NE(Bcu({"firmware", "export", "--help"}).out.find("DIR"), std::string::npos);
}

}  // namespace
}  // namespace bcu::cli
