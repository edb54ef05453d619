#pragma once
// A firmware set folder used at run time in place of the set compiled into
// the program (`bcu update --firmware DIR`): checked exactly as the build
// checks the set it embeds, then held in memory as the program's resources.
#include <filesystem>
#include <memory>
#include <string>

#include "platform/Resources.h"
#include "resources/FirmwareSetCheck.h"

namespace bcu::resources {

// Reads and checks the set in `dir` and returns its resources: every chunk
// under its resource name, the attributes record and the set's name and
// release. Null with `error` set (naming the file, and the line for a bad
// record) when the set is refused; `description` receives what attributes.json
// says when it could be read.
std::shared_ptr<const platform::ResourceSource> LoadFirmwareSet(
    const std::filesystem::path& dir, std::string& error,
    FirmwareSetDescription* description = nullptr);

}  // namespace bcu::resources
