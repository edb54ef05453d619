#pragma once
// An open serial port as the platform layer hands it out: a descriptor on
// Linux, a port object of the Windows layer there. Only platform/ looks
// inside.
#include <cstdint>

namespace bcu::platform {

using SerialHandle = std::intptr_t;
inline constexpr SerialHandle kNoSerialHandle = -1;

}  // namespace bcu::platform
