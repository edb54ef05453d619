#pragma once
// Reading a whole file that has a known largest size.
//
// At most one byte more than the limit is ever read, so a file that is far too
// large, or a device that never ends (/dev/zero), is refused without filling
// memory. A refusal names its real reason: no such file, permission denied, a
// folder, or larger than the limit.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bcu::platform {

// Reads the file at `path` into `bytes` when it holds at most `maxBytes`
// bytes. False with `error` reading "<path>: <reason>" otherwise (for a file
// that is too large: "larger than <maxBytes> bytes", and `tooLarge` set when
// given: the file was read, it is just not what the caller can take).
bool ReadFileBounded(const std::string& path, std::size_t maxBytes,
                     std::vector<std::uint8_t>& bytes, std::string& error,
                     bool* tooLarge = nullptr);

}  // namespace bcu::platform
