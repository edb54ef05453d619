#pragma once
// Helpers of the firmware tests: a scratch folder and a host that records its
// message boxes.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Folders.h"
#include "platform/Host.h"

namespace bcu::testing {

class ScratchDir {
 public:
  ScratchDir() {
    std::string error;
    path_ = platform::MakeUniqueFolder(std::filesystem::temp_directory_path().string(), "bcu-fw-",
                                       error);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  // Names of the files in the folder, sorted.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

struct ShownMessage {
  std::string text, caption;
  platform::MsgIcon icon;
};

class MessageHost : public platform::Host {
 public:
  void Pump() override {}
  void ShowStatusText(const std::string& text) override { status.push_back(text); }
  platform::ProgressBar& Progress() override { return progress; }
  platform::MsgResult ShowMessage(const std::string& text, const std::string& caption,
                                  platform::MsgIcon icon, platform::MsgButtons) override {
    messages.push_back({text, caption, icon});
    return platform::MsgResult::Ok;
  }
  bool AskPassword(platform::PasswordPurpose, std::string&) override { return false; }
  std::unique_ptr<platform::Timer> CreateTimer(platform::TimerHandler) override { return nullptr; }
  platform::Clock& GetClock() override { return clock; }

  std::vector<std::string> status;
  std::vector<ShownMessage> messages;
  platform::ProgressValues progress;
  platform::ManualClock clock;
};

}  // namespace bcu::testing
