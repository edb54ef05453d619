#pragma once
// Opening, removing and naming files by their UTF-8 paths. On Linux these
// are the C library's calls; on Windows the wide ones, so that a path with
// any character opens (the narrow calls there speak the ANSI code page).
#include <cstdio>
#include <filesystem>
#include <string>

namespace bcu::platform {

// std::fopen of `path` with `mode` ("rb", "wb", "wbx", ...).
std::FILE* OpenFile(const std::string& path, const char* mode);
// Removes the file; false when it could not be removed.
bool RemoveFile(const std::string& path);
// The path for std::filesystem and the streams, and back to UTF-8 text.
std::filesystem::path PathOf(const std::string& path);
std::string TextOf(const std::filesystem::path& path);

}  // namespace bcu::platform
