#include "support/AppHost.h"

namespace bcu::testing {

AppTestHost::AppTestHost(double scale) : clock(scale), timers(clock) {}

platform::MsgResult AppTestHost::ShowMessage(const std::string& text, const std::string& caption,
                                             platform::MsgIcon icon, platform::MsgButtons buttons) {
  messages.push_back({text, caption, icon, buttons});
  if (onMessage) onMessage();
  if (buttons == platform::MsgButtons::Ok) return platform::MsgResult::Ok;
  if (answers.empty()) return platform::MsgResult::No;
  const auto answer = answers.front();
  answers.pop_front();
  return answer;
}

bool AppTestHost::AskPassword(platform::PasswordPurpose, std::string& text) {
  ++passwordPrompts;
  if (passwords.empty()) return false;
  text = passwords.front();
  passwords.pop_front();
  return true;
}

void AppTestHost::Pump() {
  ++pumps;
  timers.Poll();
  if (onPump) onPump();
}

bool AppFakeDiscovery::ListDevices(std::vector<platform::SerialDeviceInfo>& out) {
  ++listCalls;
  out.clear();
  if (listFails) return false;
  out = devices;
  return true;
}

platform::PortTestResult AppFakeDiscovery::TestOpen(const std::string& path) {
  const auto it = results.find(path);
  if (it != results.end()) return it->second;
  return platform::TestOpenDevice(path);
}

void AppFakeDiscovery::AddDevice(const std::string& name, const std::string& product,
                                 platform::PortAccess access) {
  const std::string path = "/dev/" + name;
  devices.push_back({path, name, product});
  platform::PortTestResult result;
  result.access = access;
  result.systemError = access == platform::PortAccess::Free ? 0 : 1;
  results[path] = result;
}

app::CodeUpdaterOptions AppOptions() {
  app::CodeUpdaterOptions options;
  options.replyTimeoutScale = kAppTimeScale;
  return options;
}

app::ResourceAttributes AppAttributes(std::uint8_t family, std::uint8_t series,
                                      std::uint8_t newPlatform, std::uint8_t upgradeType) {
  app::ResourceAttributes a;
  a.RadioFamily = family;
  a.Series = series;
  a.NewPlatform = newPlatform;
  a.UpgradeType = upgradeType;
  a.BootMajor = series;
  a.BootMinor = 2;
  return a;
}

std::unique_ptr<platform::MemoryResources> AppResources(const app::ResourceAttributes& attributes) {
  auto resources = std::make_unique<platform::MemoryResources>();
  std::vector<std::uint8_t> bytes(app::kResourceAttributesSize);
  app::EncodeResourceAttributes(attributes, bytes.data());
  resources->Add("TEXT", "ResourceAttributes_", std::move(bytes));
  return resources;
}

}  // namespace bcu::testing
