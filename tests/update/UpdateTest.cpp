// Whole updates against the virtual radio on a pseudo-terminal: the Start
// button's run from the password to the outcome text, what the radio
// received, and what is left on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "codeplug/CodeplugBuilder.h"
#include "codeplug/CodeplugImage.h"
#include "codeplug/ParmsFormat510Fixup.h"
#include "codeplug/ParmsFormatChain.h"
#include "sim/BuiltinCodeplug.h"
#include "sim/VirtualRadio.h"
#include "tests/support/UpdateRig.h"

namespace bcu::app {
namespace {

using testsupport::MakeTempDir;
using testsupport::RemoveTree;
using testsupport::TestCodeData;
using testsupport::TestFirmware;
using testsupport::UpdateRig;

constexpr const char* kNotConvertible =
    "Brisant Code updaters do not support a file format conversion for your\nradio.  To clear "
    "the Bad File Format error, please perform a parms\nupload and then download using "
    "ConfigDesk.  If you do not\nhave ConfigDesk, then contact your local dealer for "
    "assistance.";

class UpdateTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir("bcu-update-test"); }
  void TearDown() override {
    if (HasFailure() && rig_) {
      for (const auto& t : rig_->Host().status) std::fprintf(stderr, "  status: %s\n", t.c_str());
    }
    rig_.reset();
    RemoveTree(dir_);
    if (!codeplugFile_.empty()) std::remove(codeplugFile_.c_str());
  }

  // A radio with current boot code that keeps codeplug format 5.9.
  static sim::RadioConfig CurrentRadio() {
    sim::RadioConfig c;
    c.bootVersion = {4, 2};
    c.formatBefore = {5, 9};
    c.formatAfter = {5, 9};
    return c;
  }

  // A built codeplug of `version`, as a file the radio loads (big-endian).
  std::string SampleCodeplug(codeplug::FormatVersion version) {
    auto image = std::make_unique<codeplug::CodeplugImage>();
    std::size_t n = 0;
    codeplug::CodeplugShape shape;
    shape.version = version;
    shape.seed = 7;
    EXPECT_TRUE(codeplug::BuildCodeplug(shape, *image, n));
    auto* bytes = reinterpret_cast<std::uint8_t*>(image->data());
    codeplug::ParmsImageSwapBytes(bytes, n);
    const std::string path = dir_ + "-codeplug.bin";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
      std::fwrite(bytes, 1, n, f);
      std::fclose(f);
    }
    codeplugFile_ = path;
    return path;
  }

  UpdateRig& Rig(sim::RadioConfig c, TestFirmware fw = {}) {
    rig_ = std::make_unique<UpdateRig>(c, fw, dir_);
    rig_->Host().startPasswords = {std::string("gablers")};
    return *rig_;
  }

  static bool Shown(const UpdateRig& rig, const std::string& text) {
    const auto& s = const_cast<UpdateRig&>(rig).Host().status;
    return std::find(s.begin(), s.end(), text) != s.end();
  }

  const std::string& WorkDir() const { return dir_; }
  std::string dir_;
  std::unique_ptr<UpdateRig> rig_;
  std::string codeplugFile_;
};

// The code a radio holds starts with the bytes of the set's code image.
void ExpectCode(UpdateRig& rig, sim::ReceivedFile::Kind kind, const std::vector<std::uint8_t>& d) {
  const auto data = rig.Radio().With([kind](sim::VirtualRadio& r) {
    const auto* f = r.LastFile(kind);
    return f ? f->data : std::vector<std::uint8_t>{};
  });
  ASSERT_GE(data.size(), d.size());
  EXPECT_TRUE(std::equal(d.begin(), d.end(), data.begin()));
}

TEST_F(UpdateTest, RadioNeedingNoConversionEndsDoneWithoutDownload) {
  auto& rig = Rig(CurrentRadio());
  rig.Updater().m_StartButtonClick();
  EXPECT_EQ(rig.Host().status.back(), "Done.");
  EXPECT_TRUE(Shown(rig, "Uploading codeplug..."));
  EXPECT_FALSE(Shown(rig, "Downloading codeplug..."));
  const auto counters = rig.Radio().With([](sim::VirtualRadio& r) { return r.Counters(); });
  EXPECT_EQ(counters.uploads, 1);
  EXPECT_EQ(counters.downloads, 0);
  ExpectCode(rig, sim::ReceivedFile::Kind::kApplication, TestCodeData(4096, 2));
  EXPECT_FALSE(rig.Updater().m_Running);
  EXPECT_EQ(rig.Updater().m_StartButtonCaption, "Start");
  EXPECT_TRUE(rig.WorkFiles().empty());
  EXPECT_TRUE(rig.Host().messages.empty());

  // The start password is asked once per run of the program (the radio now
  // runs its application, so this second update stops at the download).
  const std::size_t before = rig.Host().status.size();
  rig.Updater().m_StartButtonClick();
  EXPECT_EQ(rig.Host().startPrompts, 1);
  ASSERT_GT(rig.Host().status.size(), before);
  EXPECT_EQ(rig.Host().status[before], "Extracting embedded files...");
}

// What the converters make of a big-endian codeplug: the bytes to download.
std::vector<std::uint8_t> Converted(const std::vector<std::uint8_t>& wire, std::uint8_t from,
                                    std::uint8_t to) {
  auto image = std::make_unique<codeplug::CodeplugImage>();
  image->fill(0);
  auto* bytes = reinterpret_cast<std::uint8_t*>(image->data());
  std::copy(wire.begin(), wire.end(), bytes);
  codeplug::ParmsImageSwapBytes(bytes, wire.size());
  std::int32_t growth = 0;
  const bool ok = from < to ? codeplug::ParmsFormatUpgrade(growth, *image, from, to)
                            : codeplug::ParmsFormatDowngrade(growth, *image, to, from);
  EXPECT_TRUE(ok);
  if (to == 5) growth += codeplug::ParmsFormat510Fixup(*image);
  const std::size_t n = wire.size() + 2 * growth;
  codeplug::ParmsImageSwapBytes(bytes, n);
  return {bytes, bytes + n};
}

// The converted codeplug is in the radio, every word of it, and the codeplug
// as the radio held it before stays in one backup file.
void ExpectConvertedCodeplug(UpdateRig& rig, const std::vector<std::uint8_t>& before,
                             std::uint8_t from, std::uint8_t to) {
  EXPECT_EQ(rig.Host().status.back(), "Done.");
  // The codeplug read, and read back after the download.
  EXPECT_TRUE(rig.WaitForRadio([](sim::VirtualRadio& r) { return r.Counters().uploads == 2; }));
  const auto [received, counters] = rig.Radio().With(
      [](sim::VirtualRadio& r) { return std::make_pair(r.LastDownloadedImage(), r.Counters()); });
  EXPECT_EQ(counters.downloads, 1);
  // The radio keeps what it received up to the length the image declares:
  // exactly the converters' result of the whole image.
  EXPECT_EQ(received, Converted(before, from, to));
  EXPECT_TRUE(rig.WorkFiles().empty());
  const auto backups = rig.BackupFiles();
  ASSERT_EQ(backups.size(), 1u);
  const auto kept = testsupport::ReadBytes(backups[0]);
  ASSERT_GE(kept.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), kept.begin()));
}

TEST_F(UpdateTest, FullApplicationUpdateConvertsTheCodeplugTo510) {
  sim::RadioConfig c = CurrentRadio();
  c.formatAfter = {5, 10};
  c.codeplugFile = SampleCodeplug({5, 9});
  auto& rig = Rig(c);
  const auto before = rig.Radio().With([](sim::VirtualRadio& r) { return r.Codeplug(); });
  rig.Updater().m_StartButtonClick();
  const auto backups = rig.BackupFiles();
  ASSERT_EQ(backups.size(), 1u);
  const std::vector<std::string> tail = {
      "Resetting radio...",
      "Uploading codeplug...",
      "The codeplug read from the radio is saved in " + backups[0] + ".",
      "Resetting radio and converting codeplug...",
      "Downloading codeplug...",
      "Verifying codeplug...",
      "Done."};
  ASSERT_GE(rig.Host().status.size(), tail.size());
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), rig.Host().status.end() - tail.size()));
  ExpectConvertedCodeplug(rig, before, 4, 5);
  EXPECT_EQ(rig.Host().progress.Position(), 100);
}

TEST_F(UpdateTest, CodeplugIsConvertedDownTo59) {
  sim::RadioConfig c = CurrentRadio();
  c.formatBefore = {5, 10};
  c.formatAfter = {5, 9};
  c.codeplugFile = SampleCodeplug({5, 10});
  auto& rig = Rig(c);
  const auto before = rig.Radio().With([](sim::VirtualRadio& r) { return r.Codeplug(); });
  rig.Updater().m_StartButtonClick();
  ExpectConvertedCodeplug(rig, before, 5, 4);
}

TEST_F(UpdateTest, FailedCodeplugDownloadKeepsANamedBackup) {
  sim::RadioConfig c = CurrentRadio();
  c.formatAfter = {5, 10};
  c.password = "2468";
  c.codeplugFile = SampleCodeplug({5, 9});
  auto& rig = Rig(c);
  const auto before = rig.Radio().With([](sim::VirtualRadio& r) { return r.Codeplug(); });
  // The password for the upload; the download's prompt is cancelled.
  rig.Host().codeplugPasswords = {std::string("2468"), std::nullopt};
  rig.Updater().m_StartButtonClick();
  const std::string last = rig.Host().status.back();
  EXPECT_EQ(last.rfind("An error occurred while downloading the codeplug.", 0), 0u);
  EXPECT_TRUE(rig.WorkFiles().empty());
  const auto files = rig.BackupFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(files[0].find("/001A2B3C4D5E6F70/"), std::string::npos);
  EXPECT_NE(last.find(files[0]), std::string::npos);
  // The backup holds the codeplug as uploaded: the whole image, up to the
  // end of the block it ends in.
  const auto saved = testsupport::ReadBytes(files[0]);
  EXPECT_EQ(saved.size(), (before.size() + 127) / 128 * 128);
  ASSERT_GE(saved.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), saved.begin()));
  EXPECT_EQ(rig.Radio().With([](sim::VirtualRadio& r) { return r.Codeplug(); }), before);
  // The window's failure display: the bar back at 0 and a box with the path.
  EXPECT_EQ(rig.Host().progress.Position(), 0);
  ASSERT_FALSE(rig.Host().messages.empty());
  EXPECT_NE(rig.Host().messages.back().text.find(files[0]), std::string::npos);
}

TEST_F(UpdateTest, OutOfDateBootIsUpdatedFirst) {
  sim::RadioConfig c = CurrentRadio();
  c.bootVersion = {4, 1};
  auto& rig = Rig(c);
  // The technician puts the radio back into bootload mode before pressing OK.
  rig.Host().onMessage = [&rig](const testsupport::ShownMessage&) {
    for (int i = 0; i < 500 && rig.Radio().With([](sim::VirtualRadio& r) {
           return r.IsBusy() || r.Mode() != sim::RadioMode::kBootload;
         });
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  rig.Updater().m_StartButtonClick();
  ASSERT_FALSE(rig.Host().messages.empty());
  EXPECT_EQ(rig.Host().messages[0].caption, "Brisant Code Updater");
  EXPECT_EQ(rig.Host().messages[0].text.rfind("Brisant Code Updater has detected that", 0), 0u);
  ExpectCode(rig, sim::ReceivedFile::Kind::kBoot, TestCodeData(512, 4));
  ExpectCode(rig, sim::ReceivedFile::Kind::kApplication, TestCodeData(4096, 2));
  EXPECT_EQ(rig.Host().status.back(), "Done.");
  EXPECT_TRUE(rig.WorkFiles().empty());
}

TEST_F(UpdateTest, FormatBelow58IsNotConverted) {
  sim::RadioConfig c = CurrentRadio();
  c.formatBefore = {5, 7};
  auto& rig = Rig(c);
  rig.Updater().m_StartButtonClick();
  EXPECT_EQ(rig.Host().status.back(), "Done.");
  ASSERT_EQ(rig.Host().messages.size(), 1u);
  EXPECT_EQ(rig.Host().messages[0].text, kNotConvertible);
  EXPECT_EQ(rig.Host().messages[0].icon, platform::MsgIcon::Information);
  const auto counters = rig.Radio().With([](sim::VirtualRadio& r) { return r.Counters(); });
  EXPECT_EQ(counters.downloads, 0);
}

TEST_F(UpdateTest, CancelledCodeplugPasswordFailsTheUpload) {
  sim::RadioConfig c = CurrentRadio();
  c.password = "4321";
  auto& rig = Rig(c);
  rig.Host().codeplugPasswords = {std::nullopt};
  rig.Updater().m_StartButtonClick();
  EXPECT_EQ(rig.Host().status.back(), "An error occurred while uploading the codeplug.");
  EXPECT_EQ(rig.Host().codeplugPrompts, 1);
}

TEST_F(UpdateTest, WrongThenRightCodeplugPassword) {
  sim::RadioConfig c = CurrentRadio();
  c.password = "4321";
  auto& rig = Rig(c);
  rig.Host().codeplugPasswords = {std::string("1111"), std::string(" 4321 ")};
  rig.Updater().m_StartButtonClick();
  EXPECT_EQ(rig.Host().status.back(), "Done.");
  EXPECT_EQ(rig.Host().codeplugPrompts, 2);
}

TEST_F(UpdateTest, SilentRadioAfterTheUpdateIsNotResponding) {
  sim::RadioConfig c = CurrentRadio();
  c.restartMs = 120000;  // still restarting when the updater asks
  auto& rig = Rig(c);
  rig.Updater().m_StartButtonClick();
  EXPECT_EQ(rig.Host().status.back(), "The radio is no longer responding.");
  EXPECT_FALSE(Shown(rig, "Uploading codeplug..."));
}

TEST_F(UpdateTest, StopDuringTheCodeDownload) {
  auto& rig = Rig(CurrentRadio(), TestFirmware{.codeBytes = 65536});
  int positionAtStop = -1;
  bool pressed = false;
  rig.Host().onPump = [&] {
    auto& s = rig.Host().status;
    if (!pressed && !s.empty() && s.back() == "Downloading Application code ...") {
      pressed = true;
      rig.Updater().m_StartButtonClick();  // Stop
      positionAtStop = rig.Host().progress.Position();
    }
  };
  rig.Updater().m_StartButtonClick();
  ASSERT_TRUE(pressed);
  EXPECT_EQ(positionAtStop, 0);
  EXPECT_FALSE(Shown(rig, "Done."));
  EXPECT_FALSE(Shown(rig, "Resetting radio..."));
  EXPECT_FALSE(rig.Updater().m_Running);
  EXPECT_TRUE(rig.WorkFiles().empty());
}

TEST_F(UpdateTest, CancelledStartPasswordChangesNothing) {
  auto& rig = Rig(CurrentRadio());
  rig.Host().startPasswords = {std::nullopt, std::string(" gablers\t")};
  rig.Updater().m_StartButtonClick();
  EXPECT_TRUE(rig.Host().status.empty());
  EXPECT_FALSE(rig.Updater().m_PasswordAccepted);
  rig.Updater().m_StartButtonClick();
  EXPECT_EQ(rig.Host().startPrompts, 2);
  EXPECT_TRUE(rig.Updater().m_PasswordAccepted);
}

TEST_F(UpdateTest, BootUpdateWantsItsOwnPassword) {
  // An Application/Boot updater that is not automatic (series 2).
  sim::RadioConfig c = CurrentRadio();
  c.bootVersion = {2, 1};
  TestFirmware fw;
  fw.series = 2;
  fw.bootMajor = 2;
  auto& rig = Rig(c, fw);
  ASSERT_FALSE(rig.Updater().m_AutoBootUpdate);
  rig.Updater().m_BootRadioButtonClick();
  rig.Host().startPasswords = {std::string("gablers"), std::string("tollmore")};
  rig.Updater().m_StartButtonClick();
  EXPECT_TRUE(rig.Host().status.empty());  // refused silently
  EXPECT_TRUE(rig.Host().messages.empty());
  rig.Updater().m_StartButtonClick();
  ASSERT_FALSE(rig.Host().status.empty());
  EXPECT_EQ(rig.Host().status.front(), "Extracting embedded files...");
  // A boot update never runs the codeplug step.
  EXPECT_FALSE(Shown(rig, "Resetting radio..."));
  EXPECT_FALSE(rig.Updater().m_Running);
  EXPECT_TRUE(rig.WorkFiles().empty());
}

TEST_F(UpdateTest, DspUpdateHasNoCodeplugStep) {
  TestFirmware fw;
  fw.upgradeType = 2;
  auto& rig = Rig(CurrentRadio(), fw);
  rig.Updater().m_StartButtonClick();
  EXPECT_TRUE(Shown(rig, "Extracting embedded files..."));
  EXPECT_FALSE(Shown(rig, "Resetting radio..."));
  EXPECT_FALSE(Shown(rig, "Uploading codeplug..."));
  EXPECT_TRUE(rig.WorkFiles().empty());
}

TEST_F(UpdateTest, OtherProcessorVariantShowsTheProcessorMessage) {
  // A series-5 application updater for 816 processors, a radio with a 416.
  sim::RadioConfig c = CurrentRadio();
  c.bootVersion = {5, 1};
  c.processor = 4;
  TestFirmware fw;
  fw.upgradeType = 0;
  fw.series = 5;
  fw.bootMajor = 5;
  auto& rig = Rig(c, fw);
  rig.Updater().m_StartButtonClick();
  ASSERT_EQ(rig.Host().messages.size(), 1u);
  EXPECT_EQ(rig.Host().messages[0].text,
            "This version of Brisant Code Updater is meant for Series 1 radios with 816\n"
            "processors.  Please acquire the updater for Series 1 radios with 416 processors.");
  EXPECT_EQ(rig.Host().messages[0].caption, "Brisant Code Updater");
  EXPECT_EQ(rig.Host().messages[0].icon, platform::MsgIcon::Error);
  EXPECT_EQ(rig.Host().status.back(), "Idle");
  // The run's result is the box that ended it, on one line, not "Idle".
  EXPECT_EQ(rig.Updater().RunResultText(),
            "This version of Brisant Code Updater is meant for Series 1 radios with 816 "
            "processors.  Please acquire the updater for Series 1 radios with 416 processors.");
  EXPECT_EQ(rig.Host().progress.Position(), 0);
  EXPECT_FALSE(Shown(rig, "Resetting radio..."));
  EXPECT_TRUE(rig.WorkFiles().empty());
}

TEST_F(UpdateTest, AutomaticUpdateRefusesTheOtherRadioKind) {
  sim::RadioConfig c = CurrentRadio();
  c.family = sim::RadioFamily::kPortable;
  auto& rig = Rig(c);
  rig.Updater().m_StartButtonClick();
  EXPECT_EQ(rig.Host().status.back(), "Idle");
  ASSERT_EQ(rig.Host().messages.size(), 1u);
  EXPECT_EQ(rig.Host().messages[0].text,
            "This Brisant Code Updater is intended for a mobile radio, and\ncannot be used with "
            "the connected portable radio.");
  EXPECT_EQ(rig.Updater().RunResultText(),
            "This Brisant Code Updater is intended for a mobile radio, and cannot be used with "
            "the connected portable radio.");
  EXPECT_EQ(rig.Host().messages[0].caption, "Brisant Code Updater");
  EXPECT_EQ(rig.Host().messages[0].icon, platform::MsgIcon::Error);
  EXPECT_FALSE(Shown(rig, "Checking target radio..."));
  EXPECT_TRUE(rig.WorkFiles().empty());
}

TEST_F(UpdateTest, AutomaticUpdateStopsOnAnotherBootMajor) {
  sim::RadioConfig c = CurrentRadio();
  c.bootVersion = {6, 0};
  auto& rig = Rig(c);
  rig.Updater().m_StartButtonClick();
  EXPECT_EQ(rig.Host().status.back(),
            "Error: the major boot versions of the radio and file are different.");
  EXPECT_TRUE(rig.Host().messages.empty());
  EXPECT_FALSE(rig.Updater().m_Running);
  EXPECT_EQ(rig.Updater().m_StartButtonCaption, "Start");
}

TEST_F(UpdateTest, BootUpdaterSendsItsMainImages) {
  // An updater of upgrade type "Boot" keeps its code in the main images; its
  // update is a boot update with the boot password and no codeplug step.
  sim::RadioConfig c = CurrentRadio();
  c.bootVersion = {5, 1};
  TestFirmware fw;
  fw.upgradeType = 1;
  fw.series = 5;
  fw.bootMajor = 5;
  fw.codeBytes = 1000;  // small enough for the radio to take it as boot code
  auto& rig = Rig(c, fw);
  rig.Host().startPasswords = {std::string("gablers"), std::string("tollmore")};
  rig.Updater().m_StartButtonClick();
  EXPECT_TRUE(rig.Host().status.empty());  // "gablers" refused silently
  rig.Updater().m_StartButtonClick();
  EXPECT_TRUE(rig.Updater().m_PasswordAccepted);
  ExpectCode(rig, sim::ReceivedFile::Kind::kBoot, TestCodeData(1000, 2));
  EXPECT_FALSE(Shown(rig, "Resetting radio..."));
  EXPECT_TRUE(rig.WorkFiles().empty());
}

// The automatic boot update's download fails when the radio's line drops:
// the status line then reads "Idle" (nothing runs any more), but the run's
// result is the download's own failure text with the file, the block and
// what ended it.
TEST_F(UpdateTest, AFailedBootDownloadEndsIdleButItsResultSaysWhy) {
  sim::RadioConfig c;  // boot 4.1: the automatic update writes boot code first
  c.faults.dropLineAfterBlocks = 3;
  auto& rig = Rig(c);
  rig.Updater().m_StartButtonClick();
  EXPECT_EQ(rig.Host().status.back(), "Idle");
  EXPECT_TRUE(std::regex_match(
      rig.Updater().RunResultText(),
      std::regex("Communication problem during code download\\. \\(the (loader|boot code) at "
                 "block [0-9]+: the port went away\\)")))
      << rig.Updater().RunResultText();
  // A Retrieve afterwards changes nothing of it.
  rig.Updater().m_RetrieveVersionInfoButtonClick();
  EXPECT_EQ(rig.Updater().RunResultText().rfind("Communication problem during code download.", 0),
            0u);
}

TEST(RunResultHostTest, KeepsTheLastTextOfARunThatIsNotIdleOrAnErrorBoxAfterIt) {
  testsupport::RecordingHost host(1.0);
  RunResultHost watch(host);
  watch.ShowStatusText("before any run");
  EXPECT_EQ(watch.ResultText(), "");
  watch.Begin();
  watch.ShowStatusText("Checking target radio...");
  watch.ShowMessage("Selected COM port is in use\n\nor not available.  \n", "COM Port",
                    platform::MsgIcon::Error, platform::MsgButtons::Ok);
  watch.ShowStatusText("Idle");
  EXPECT_EQ(watch.ResultText(), "Selected COM port is in use or not available.");
  EXPECT_TRUE(watch.ResultFromBox());
  EXPECT_EQ(watch.ResultCaption(), "COM Port");
  // Information boxes and questions are no result; a later status text is.
  watch.ShowStatusText("Done.");
  watch.ShowMessage("kept", "Brisant Code Updater", platform::MsgIcon::Information,
                    platform::MsgButtons::Ok);
  EXPECT_EQ(watch.ResultText(), "Done.");
  EXPECT_FALSE(watch.ResultFromBox());
  watch.AddDetail("detail");
  EXPECT_EQ(watch.ResultText(), "Done. (detail)");
  watch.End();
  watch.ShowStatusText("Idle after the run");
  EXPECT_EQ(watch.ResultText(), "Done. (detail)");
  // Everything reached the front end's host unchanged.
  EXPECT_EQ(host.status.back(), "Idle after the run");
  EXPECT_EQ(host.messages.size(), 2u);
  watch.Begin();
  EXPECT_EQ(watch.ResultText(), "");
}

}  // namespace
}  // namespace bcu::app
