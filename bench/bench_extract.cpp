// ExtractEmbeddedFiles of the firmware set this build carries: wall time and
// peak memory (targets: under 1 s, under 32 MB peak).
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/EmbeddedFiles.h"
#include "platform/EmbeddedResources.h"

using namespace bcu;

namespace {

class QuietHost final : public platform::Host {
 public:
  void Pump() override {}
  void ShowStatusText(const std::string&) override {}
  platform::ProgressBar& Progress() override { return bar_; }
  platform::MsgResult ShowMessage(const std::string& text, const std::string&, platform::MsgIcon,
                                  platform::MsgButtons) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    return platform::MsgResult::Ok;
  }
  bool AskPassword(platform::PasswordPurpose, std::string&) override { return false; }
  std::unique_ptr<platform::Timer> CreateTimer(platform::TimerHandler) override { return nullptr; }
  platform::Clock& GetClock() override { return clock_; }

 private:
  platform::ProgressValues bar_;
  platform::SteadyClock clock_;
};

long PeakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

}  // namespace

int main() {
  app::ResourceAttributes a;
  if (!app::ReadResourceAttributes(platform::EmbeddedResources(), a)) {
    std::fprintf(stderr, "no attributes record\n");
    return 1;
  }
  std::string dir = (std::filesystem::temp_directory_path() / "bcu-extract-XXXXXX").string();
  if (!mkdtemp(dir.data())) return 1;
  QuietHost host;
  const long peakBefore = PeakKb();
  double best = 1e9;
  std::uintmax_t codeBytes = 0;
  for (int run = 0; run < 5; ++run) {
    std::string loader, code;
    const auto t0 = platform::RealMicros();
    const bool ok = app::ExtractEmbeddedFiles(platform::EmbeddedResources(), host, a, false, false,
                                              loader, code, dir);
    const double s = static_cast<double>(platform::RealMicros() - t0) / 1e6;
    if (!ok) return 1;
    best = std::min(best, s);
    codeBytes = std::filesystem::file_size(dir + "/" + code);
    std::filesystem::remove(dir + "/" + loader);
    std::filesystem::remove(dir + "/" + code);
  }
  const long peakAfter = PeakKb();
  std::filesystem::remove_all(dir);
  std::printf("ExtractEmbeddedFiles, application set (%ju bytes of code text)\n",
              static_cast<std::uintmax_t>(codeBytes));
  std::printf("  best of 5: %.3f s (target < 1 s)\n", best);
  std::printf("  peak resident memory: %.1f MB (%.1f MB before the first run; target < 32 MB)\n",
              static_cast<double>(peakAfter) / 1024.0, static_cast<double>(peakBefore) / 1024.0);
  return 0;
}
