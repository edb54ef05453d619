// Windows opens a COM port for one program at a time: the exclusive open is
// the lock, and there are no lock files to honour or to write.
#include "platform/SerialLockFile.h"

namespace bcu::platform {

std::string SerialLockName(const std::string& devicePath) {
  const std::size_t cut = devicePath.find_last_of("\\/");
  return cut == std::string::npos ? devicePath : devicePath.substr(cut + 1);
}

long SerialLockHolder(const std::string&, const std::string&) {
  return 0;
}

std::string SerialLockPath(const std::string&, const std::string&) {
  return {};
}

SerialLockFile::~SerialLockFile() = default;

int SerialLockFile::Acquire(const std::string&, const std::string&, long* holder,
                            std::string* why) {
  if (holder != nullptr) *holder = 0;
  if (why != nullptr) why->clear();
  return 0;
}

void SerialLockFile::Release() {}

}  // namespace bcu::platform
