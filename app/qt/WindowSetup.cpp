#include "app/qt/WindowSetup.h"

#if BCU_WINDOW_FIRMWARE
#include "platform/EmbeddedResources.h"
#endif

namespace bcu::qt {

bool HasEmbeddedFirmware() {
  return BCU_WINDOW_FIRMWARE != 0;
}

std::unique_ptr<WindowSetup> WindowSetup::Create(WindowSetupRequest request, std::string& error) {
  std::unique_ptr<WindowSetup> setup(new WindowSetup());
  MainFormOptions options;
  options.programPath = request.programPath;
  options.delayScale = request.delayScale;
  options.discovery = request.discovery;
  options.updater.workDir = request.workDir;
  options.updater.backupRoot = request.backupRoot;
  options.updater.recordHistory = true;
  options.updater.historyPath = request.historyPath;
  options.resources = request.resources;
#if BCU_WINDOW_FIRMWARE
  if (options.resources == nullptr) options.resources = &platform::EmbeddedResources();
#endif
  if (options.resources == nullptr) {
    error = "this build carries no firmware set";
    return nullptr;
  }
  if (request.simulate) {
#if BCU_WINDOW_SIMULATOR
    request.radio.timeScale = request.delayScale;
    setup->radio_ = std::make_unique<sim::PtyRadio>(request.radio, request.delayScale);
    if (!setup->radio_->Start(&error)) {
      error = "cannot start the virtual radio: " + error;
      return nullptr;
    }
    // The virtual radio takes the first slot, before any port named with
    // --port; the first scan selects it.
    options.updater.extraDevicePaths.push_back(setup->radio_->DevicePath());
#else
    error = "this build has no virtual radio";
    return nullptr;
#endif
  }
  for (const std::string& path : request.ports) options.updater.extraDevicePaths.push_back(path);
  setup->form_ = std::make_unique<TCodeUpdaterMainDispForm>(std::move(options));
  return setup;
}

WindowSetup::~WindowSetup() {
  form_.reset();
#if BCU_WINDOW_SIMULATOR
  if (radio_) radio_->Stop();
#endif
}

}  // namespace bcu::qt
