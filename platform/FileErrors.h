#pragma once
// Why a file operation failed, in the words a technician reads: "is a folder",
// "permission denied", "the disk is full", ... rather than a parse error about
// what came out of it.
#include <string>

namespace bcu::platform {

// The reason for an errno value (for EISDIR: "is a folder").
std::string FileErrorText(int error);
// The reasons only one system has (EDQUOT on Linux, a file in use on
// Windows), else the C library's text.
std::string SystemFileErrorText(int error);

}  // namespace bcu::platform
