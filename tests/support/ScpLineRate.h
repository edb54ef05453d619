#pragma once
// The output rate a tty descriptor is set to, in bits per second, as the
// kernel keeps it (also for rates without a B-constant).
#include <cstdint>

namespace bcu::test {

// 0 when the descriptor's settings cannot be read.
std::uint32_t LineRate(int fd);
// Sets the descriptor's rate to a standard one (used to see whether a later
// call changes it).
void SetLineRate9600(int fd);

}  // namespace bcu::test
