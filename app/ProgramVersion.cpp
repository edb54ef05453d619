#include "app/ProgramVersion.h"

#include "app/CodeUpdater.h"
#include "app/EmbeddedFiles.h"
#include "app/FirmwareSetIdentity.h"

#ifndef BCU_VERSION
#define BCU_VERSION "0.0.0"
#endif

namespace bcu::app {

const char* ProgramVersion() {
  return BCU_VERSION;
}

std::string VersionText(const std::string& program, const platform::ResourceSource& set) {
  std::string text = program + " (Brisant Code Updater) " + ProgramVersion() + "\n";
  const FirmwareSetIdentity identity = ReadFirmwareSetIdentity(set);
  text += "Firmware set: " + (identity.name.empty() ? std::string("unnamed") : identity.name) +
          ", " +
          (identity.release.empty() ? std::string("no release") : "release " + identity.release);
  ResourceAttributes a;
  if (!ReadResourceAttributes(set, a)) return text + " (no attributes record)\n";
  const std::string family = FamilyName(a.RadioFamily);
  const char* type = UpgradeTypeName(a.UpgradeType);
  text += std::string(" (") + (*type != '\0' ? type : "unknown upgrade type") + ", " +
          (family.empty() ? "unknown family" : family) + " series " +
          std::to_string(static_cast<unsigned>(a.Series)) + ", boot " +
          std::to_string(a.BootMajor) + "." + std::to_string(a.BootMinor) + ")\n";
  return text;
}

}  // namespace bcu::app
