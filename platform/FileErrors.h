#pragma once
// Why a file operation failed, in the words a technician reads: "is a folder",
// "permission denied", "the disk is full", ... rather than a parse error about
// what came out of it.
#include <string>

namespace bcu::platform {

// The reason for an errno value (for EISDIR: "is a folder").
std::string FileErrorText(int error);

}  // namespace bcu::platform
