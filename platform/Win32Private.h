#pragma once
// Security attributes that make a new file or folder readable and writable by
// the current user only (a protected DACL with one entry, for the user; the
// folder's entry is inherited by what is made inside). Only the Win32*.cpp
// files use it.
#include <windows.h>

namespace bcu::platform {

class PrivateSecurity {
 public:
  PrivateSecurity();
  ~PrivateSecurity();
  PrivateSecurity(const PrivateSecurity&) = delete;
  PrivateSecurity& operator=(const PrivateSecurity&) = delete;
  // Null when the descriptor could not be made (the caller then fails
  // rather than make a file others may read).
  SECURITY_ATTRIBUTES* Attributes() { return descriptor_ != nullptr ? &attributes_ : nullptr; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace bcu::platform
