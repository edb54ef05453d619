#include "tests/support/UpdateRig.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "app/FirmwareSetIdentity.h"
#include "app/ResourceAttributes.h"

namespace bcu::testsupport {

RecordingHost::RecordingHost(double scale) : clock_(scale), timers_(clock_) {}

platform::MsgResult RecordingHost::ShowMessage(const std::string& text, const std::string& caption,
                                               platform::MsgIcon icon,
                                               platform::MsgButtons buttons) {
  messages.push_back({text, caption, icon});
  if (onMessage) onMessage(messages.back());
  if (buttons == platform::MsgButtons::Ok) return platform::MsgResult::Ok;
  if (answers.empty()) return platform::MsgResult::Yes;
  const platform::MsgResult answer = answers.front();
  answers.pop_front();
  return answer;
}

void SentCodes::OnSent(const std::uint8_t* bytes, int n) {
  // A frame: BA 7F 01, then the payload (its code bytes are never stuffed).
  if (n < 5 || bytes[0] != 0xBA) return;
  std::lock_guard<std::mutex> lock(mutex_);
  codes_.emplace_back(bytes[3], bytes[4]);
}

std::size_t SentCodes::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return codes_.size();
}

std::vector<std::pair<int, int>> SentCodes::WritesFrom(std::size_t from) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::pair<int, int>> writes;
  for (std::size_t i = from; i < codes_.size(); ++i) {
    const auto [group, code] = codes_[i];
    const bool flash = group == 0x02 && (code == 0x00 || code == 0x01 || code == 0x09);
    const bool codeplug = group == 0x03 && (code == 0x00 || code == 0x02 || code == 0x07);
    if (flash || codeplug) writes.push_back(codes_[i]);
  }
  return writes;
}

long SentCodes::Find(int group, int code, std::size_t from) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = from; i < codes_.size(); ++i)
    if (codes_[i] == std::make_pair(group, code)) return static_cast<long>(i);
  return -1;
}

bool RecordingHost::AskPassword(platform::PasswordPurpose purpose, std::string& text) {
  auto& queue = purpose == platform::PasswordPurpose::Start ? startPasswords : codeplugPasswords;
  ++(purpose == platform::PasswordPurpose::Start ? startPrompts : codeplugPrompts);
  if (queue.empty()) return false;
  const std::optional<std::string> answer = queue.front();
  queue.pop_front();
  if (!answer) return false;
  text = *answer;
  return true;
}

void RecordingHost::Pump() {
  timers_.Poll();
  if (onPump) onPump();
}

namespace {

std::string Hex2(unsigned v) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  return {kHex[(v >> 4) & 15], kHex[v & 15]};
}

// S2 records of 16 data bytes from address 0, an S9 end record.
std::string SRecords(const std::vector<std::uint8_t>& data) {
  std::string text = "S0030000FC\r\n";
  for (std::size_t at = 0; at < data.size(); at += 16) {
    const std::size_t n = std::min<std::size_t>(16, data.size() - at);
    const unsigned count = static_cast<unsigned>(n + 4);
    unsigned sum = count + ((at >> 16) & 0xFF) + ((at >> 8) & 0xFF) + (at & 0xFF);
    std::string line = "S2" + Hex2(count) + Hex2(static_cast<unsigned>(at >> 16)) +
                       Hex2(static_cast<unsigned>(at >> 8)) + Hex2(static_cast<unsigned>(at));
    for (std::size_t i = 0; i < n; ++i) {
      line += Hex2(data[at + i]);
      sum += data[at + i];
    }
    line += Hex2(~sum & 0xFF);
    text += line + "\r\n";
  }
  return text + "S9030000FC\r\n";
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

}  // namespace

std::vector<std::uint8_t> TestCodeData(int bytes, std::uint8_t seed) {
  std::vector<std::uint8_t> data(static_cast<std::size_t>(bytes));
  std::uint32_t x = 0x12345678u + seed;
  for (auto& b : data) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return data;
}

std::shared_ptr<platform::MemoryResources> MakeTestResources(const TestFirmware& fw) {
  auto res = std::make_shared<platform::MemoryResources>();
  app::ResourceAttributes a;
  a.LoaderChunks = 1;
  a.CodeChunks = 1;
  a.BootLoaderChunks = 1;
  a.BootCodeChunks = 1;
  a.BootMajor = fw.bootMajor;
  a.BootMinor = fw.bootMinor;
  a.RadioFamily = fw.family;
  a.NewPlatform = fw.newPlatform;
  a.Series = fw.series;
  a.UpgradeType = fw.upgradeType;
  std::vector<std::uint8_t> record(app::kResourceAttributesSize);
  app::EncodeResourceAttributes(a, record.data());
  res->Add("TEXT", "ResourceAttributes_", record);
  res->Add("TEXT", "Loader_1", Bytes(SRecords(TestCodeData(256, 1))));
  res->Add("TEXT", "Code_1", Bytes(SRecords(TestCodeData(fw.codeBytes, 2))));
  res->Add("TEXT", "Loader_Boot_1", Bytes(SRecords(TestCodeData(256, 3))));
  res->Add("TEXT", "Code_Boot_1", Bytes(SRecords(TestCodeData(fw.bootBytes, 4))));
  if (!fw.setName.empty()) res->Add("TEXT", app::kSetNameResource, Bytes(fw.setName));
  if (!fw.setRelease.empty()) res->Add("TEXT", app::kSetReleaseResource, Bytes(fw.setRelease));
  return res;
}

UpdateRig::UpdateRig(sim::RadioConfig config, TestFirmware firmware, std::string workDir,
                     double scale, app::CodeUpdaterOptions options)
    : host_(scale), workDir_(std::move(workDir)), backupRoot_(MakeTempDir("bcu-backups")) {
  config.bootCodeMaxBytes = 1024;
  radio_ = std::make_unique<sim::PtyRadio>(config, scale);
  std::string error;
  if (!radio_->Start(&error)) throw std::runtime_error("virtual radio: " + error);
  resources_ = MakeTestResources(firmware);
  options.extraDevicePaths = {radio_->DevicePath()};
  options.processorCount = [] { return 1u; };
  options.workDir = workDir_;
  options.backupRoot = backupRoot_;
  options.replyTimeoutScale = kUpdateReplyTimeoutScale;
  updater_ = std::make_unique<app::CodeUpdater>(host_, view_, *resources_, "/opt/bcu/bcu",
                                                discovery_, options);
  updater_->SelectPortItem(0);
  updater_->SetTrace(&sent_);
}

UpdateRig::~UpdateRig() {
  updater_.reset();
  radio_->Stop();
  RemoveTree(backupRoot_);
}

bool UpdateRig::WaitForRadio(const std::function<bool(sim::VirtualRadio&)>& done) {
  for (int i = 0; i < 500; ++i) {
    if (radio_->With([&](sim::VirtualRadio& r) { return done(r); })) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::vector<std::string> UpdateRig::BackupFiles() const {
  return FilesBelow(backupRoot_);
}

std::vector<std::string> FilesBelow(const std::string& dir) {
  std::vector<std::string> paths;
  std::error_code ec;
  for (std::filesystem::recursive_directory_iterator it(dir, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (it->is_regular_file()) paths.push_back(it->path().string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> UpdateRig::WorkFiles() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(workDir_)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

std::string MakeTempDir(const std::string& stem) {
  std::string pattern = (std::filesystem::temp_directory_path() / (stem + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

void RemoveTree(const std::string& dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace bcu::testsupport
