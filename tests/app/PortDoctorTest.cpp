// The port doctor's checks against a scripted radio on a pseudo-terminal,
// with the system's answers (permissions, processes, udev, sysfs) and the
// driver's (RS-485, lock files) made up by the test.
#include "app/PortDoctor.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/PortFacts.h"
#include "platform/SerialLockFile.h"
#include "support/AppRadio.h"
#include "support/FakeSerialDriver.h"

namespace bcu::app {
namespace {

using testing::AppRadio;

class FakeFacts final : public platform::PortFacts {
 public:
  platform::PortPermission Permission(const std::string& path) override {
    platform::PortPermission p = PortFacts::Permission(path);
    if (denied) {
      p.accessible = false;
      p.root = false;
      p.group = "dialout";
      p.inGroupListed = listedInGroup;
      p.inGroupNow = false;
    }
    return p;
  }
  std::string CommandOf(long pid) override {
    auto it = commands.find(pid);
    return it != commands.end() ? it->second : std::string();
  }
  bool ProcessRunning(const std::string& command) override {
    return command == "ModemManager" && modemManager;
  }
  std::string DeviceProperty(const std::string&, const std::string& key) override {
    return key == "ID_MM_DEVICE_IGNORE" ? mmIgnore : std::string();
  }
  int LatencyTimerMs(const std::string&) override { return latency; }
  std::string LatencyTimerFile(const std::string&) override {
    return "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer";
  }

  bool denied = false, listedInGroup = false, modemManager = false;
  std::string mmIgnore;
  int latency = -1;
  std::map<long, std::string> commands;
};

struct Doctor {
  Doctor() {
    char name[] = "/tmp/bcu-doctor-locks-XXXXXX";
    locks = ::mkdtemp(name);
    driver.lockFolder = locks;
    options.driver = &driver;
    options.facts = &facts;
  }
  ~Doctor() { std::filesystem::remove_all(locks); }
  std::vector<DoctorCheck> Run() {
    checks = RunPortDoctor(radio.Path(), options);
    return checks;
  }
  const DoctorCheck& Check(const std::string& name) const {
    for (const auto& c : checks)
      if (c.name == name) return c;
    static const DoctorCheck none{"none", DoctorStatus::Problem, "no such check", ""};
    return none;
  }
  bool Has(const std::string& name, DoctorStatus status, const std::string& text) const {
    const DoctorCheck& c = Check(name);
    return c.status == status && (c.detail + " " + c.fix).find(text) != std::string::npos;
  }

  AppRadio radio;
  test::FakeSerialDriver driver;
  FakeFacts facts;
  DoctorOptions options;
  std::string locks;
  std::vector<DoctorCheck> checks;
};

void AnswerIdentity(AppRadio& radio, std::uint8_t kind) {
  radio.Answer(0x04, 0x67, {0x04, 0x68, kind});
  radio.Answer(0x04, 0x04, {0x04, 0x05, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70});
}

std::vector<std::string> Names(const std::vector<DoctorCheck>& checks) {
  std::vector<std::string> names;
  for (const auto& c : checks) names.push_back(c.name);
  return names;
}

TEST(PortDoctor, HealthyPortWithBoxAndRadio) {
  Doctor d;
  d.options.radioFamily = 1;
  d.options.processors = 8;
  d.radio.SetBox(true);
  AnswerIdentity(d.radio, 0);
  const auto checks = d.Run();
  EXPECT_EQ(Names(checks),
            (std::vector<std::string>{"device", "permission", "holder", "modemmanager", "latency",
                                      "rs485", "box", "radio"}));
  for (const auto& c : checks) {
    EXPECT_EQ(c.status, DoctorStatus::Ok) << c.name << ": " << c.detail;
    EXPECT_TRUE(c.fix.empty()) << c.name;
  }
  EXPECT_TRUE(DoctorAllOk(checks));
  EXPECT_TRUE(d.Has("radio", DoctorStatus::Ok, "mobile, serial number 00-1A-2B-3C-4D-5E-6F-70"));
  EXPECT_TRUE(d.Has("rs485", DoctorStatus::Ok, "an interface box answered"));
  // The doctor left the port as it found it.
  EXPECT_EQ(platform::SerialLockHolder(d.locks, d.radio.Path()), 0);
}

TEST(PortDoctor, PermissionDeniedSaysHowToGetInAndSkipsThePortChecks) {
  Doctor d;
  d.facts.denied = true;
  auto checks = d.Run();
  EXPECT_FALSE(DoctorAllOk(checks));
  EXPECT_TRUE(d.Has("permission", DoctorStatus::Problem, "sudo usermod -aG dialout $USER"));
  EXPECT_TRUE(d.Has("permission", DoctorStatus::Problem, "uaccess"));
  for (const char* name : {"holder", "latency", "rs485", "box", "radio"})
    EXPECT_EQ(d.Check(name).status, DoctorStatus::Skipped) << name;
  EXPECT_EQ(d.radio.ProbesSeen(), 0);
  // Added to the group after logging in: only a new login helps.
  d.facts.listedInGroup = true;
  d.Run();
  EXPECT_TRUE(d.Has("permission", DoctorStatus::Problem, "log out and in again"));
}

TEST(PortDoctor, AProgramHoldingTheLockIsNamed) {
  Doctor d;
  const pid_t other = ::fork();
  if (other == 0) {
    ::pause();
    ::_exit(0);
  }
  d.facts.commands[other] = "minicom";
  char text[16];
  std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(other));
  std::ofstream(d.locks + "/LCK.." + platform::SerialLockName(d.radio.Path())) << text;
  d.Run();
  ::kill(other, SIGKILL);
  ::waitpid(other, nullptr, 0);
  EXPECT_TRUE(d.Has("holder", DoctorStatus::Problem,
                    "minicom (process " + std::to_string(other) + ") by its lock file"));
  for (const char* name : {"latency", "rs485", "box", "radio"})
    EXPECT_EQ(d.Check(name).status, DoctorStatus::Skipped) << name;
  EXPECT_EQ(d.radio.ProbesSeen(), 0);  // nothing was sent to a port in use
}

TEST(PortDoctor, ModemManagerAndTheLatencyTimer) {
  Doctor d;
  d.radio.SetBox(true);
  AnswerIdentity(d.radio, 1);
  d.facts.modemManager = true;
  d.facts.latency = 16;  // and a pseudo-terminal has no low-latency mode
  d.Run();
  EXPECT_TRUE(d.Has("modemmanager", DoctorStatus::Problem, "ID_MM_DEVICE_IGNORE"));
  EXPECT_TRUE(d.Has("latency", DoctorStatus::Problem,
                    "echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer"));
  EXPECT_TRUE(d.Has("latency", DoctorStatus::Problem, "16 ms"));
  d.facts.mmIgnore = "1";
  d.facts.latency = 1;
  d.Run();
  EXPECT_EQ(d.Check("modemmanager").status, DoctorStatus::Ok);
  EXPECT_EQ(d.Check("latency").status, DoctorStatus::Ok);
  EXPECT_TRUE(DoctorAllOk(d.checks));
}

// The multi-processor rule: only a mobile radio without its box, on a machine
// with more than one processor, needs the driver's RS-485 switching.
TEST(PortDoctor, Rs485IsAProblemOnlyWhereTheUpdaterWouldRefuse) {
  Doctor d;
  AnswerIdentity(d.radio, 0);
  d.options.radioFamily = 1;
  d.options.processors = 2;
  d.Run();
  EXPECT_TRUE(d.Has("rs485", DoctorStatus::Problem, "2 processors"));
  EXPECT_TRUE(d.Has("rs485", DoctorStatus::Problem, "XIF interface box"));
  EXPECT_TRUE(d.Has("box", DoctorStatus::Ok, "no interface box answered"));
  EXPECT_TRUE(d.Has("radio", DoctorStatus::Ok, "(over RS-485)"));

  d.driver.kernelRs485 = true;
  d.Run();
  EXPECT_TRUE(d.Has("rs485", DoctorStatus::Ok, "switches RS-485 direction itself"));
  EXPECT_FALSE(d.driver.Rs485Enabled());  // asked, and left as it was
  EXPECT_TRUE(DoctorAllOk(d.checks));

  d.driver.kernelRs485 = false;
  d.options.processors = 1;
  d.Run();
  EXPECT_TRUE(d.Has("rs485", DoctorStatus::Ok, "one processor"));
}

TEST(PortDoctor, SilenceAndTheWrongRadioAreProblems) {
  Doctor d;
  d.radio.SetBox(true);
  AnswerIdentity(d.radio, 0);  // a mobile radio ...
  d.options.radioFamily = 0;   // ... for a portable updater
  d.Run();
  EXPECT_TRUE(d.Has("radio", DoctorStatus::Problem, "made for portable radios"));

  Doctor silent;  // nothing on the line at all
  silent.options.radioFamily = 0;
  silent.Run();
  EXPECT_TRUE(silent.Has("box", DoctorStatus::Problem, "nothing answered"));
  EXPECT_TRUE(silent.Has("radio", DoctorStatus::Problem, "switched on"));
  EXPECT_EQ(silent.radio.ProbesSeen(), 1);
}

TEST(PortDoctor, MissingDeviceSkipsEverythingElse) {
  Doctor d;
  const auto checks = RunPortDoctor("/dev/no-such-port-bcu", d.options);
  ASSERT_EQ(checks.size(), 8u);
  EXPECT_EQ(checks[0].status, DoctorStatus::Problem);
  EXPECT_NE(checks[0].fix.find("bcu ports"), std::string::npos);
  for (std::size_t i = 1; i < checks.size(); ++i)
    EXPECT_EQ(checks[i].status, DoctorStatus::Skipped) << checks[i].name;
  EXPECT_FALSE(DoctorAllOk(checks));
}

}  // namespace
}  // namespace bcu::app
