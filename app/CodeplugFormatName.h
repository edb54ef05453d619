#pragma once
// The codeplug format of a format index as the history and the command line
// name it.
#include <string>

namespace bcu::app {

// "5.9" for a known format index; "unknown" otherwise.
std::string CodeplugFormatName(int index);

}  // namespace bcu::app
