#pragma once
// The firmware set's own name and release. They are not part of the 68-byte
// attributes record: a set that names them carries them as two more text
// resources beside it. The window falls back to them when its file name
// carries no release (it is started from the menu or by its installed name),
// and `--version` prints them.
#include <string>

#include "platform/Resources.h"

namespace bcu::app {

inline constexpr const char* kSetNameResource = "FirmwareSetName_";
inline constexpr const char* kSetReleaseResource = "FirmwareSetRelease_";

struct FirmwareSetIdentity {
  std::string name;     // e.g. "BrisantCodeUpdater_6700_Series_4"; empty: none
  std::string release;  // e.g. "4.2"; empty: none
};

// The name and release the set carries (empty texts where it carries none).
FirmwareSetIdentity ReadFirmwareSetIdentity(const platform::ResourceSource& resources);

}  // namespace bcu::app
