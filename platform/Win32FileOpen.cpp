#include <windows.h>

#include <cstdio>

#include "platform/FileOpen.h"
#include "platform/Win32Text.h"

namespace bcu::platform {

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return ::_wfopen(Widen(path).c_str(), Widen(mode).c_str());
}

bool RemoveFile(const std::string& path) {
  return ::_wremove(Widen(path).c_str()) == 0;
}

}  // namespace bcu::platform
