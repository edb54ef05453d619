#include "platform/Win32Private.h"

#include <sddl.h>

#include <string>
#include <vector>

namespace bcu::platform {

namespace {

// The current user's SID as text ("S-1-5-21-..."), empty when unknown.
std::wstring UserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  std::wstring text;
  if (size > 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    wchar_t* sid = nullptr;
    if (::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
      text = sid;
      ::LocalFree(sid);
    }
  }
  ::CloseHandle(token);
  return text;
}

}  // namespace

PrivateSecurity::PrivateSecurity() {
  const std::wstring sid = UserSid();
  if (sid.empty()) return;
  // P: protected (nothing inherited from the folder above); one entry: full
  // access for the user, inherited by files and folders made inside.
  const std::wstring sddl = L"D:P(A;OICI;FA;;;" + sid + L")";
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor_, nullptr))
    descriptor_ = nullptr;
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = descriptor_;
  attributes_.bInheritHandle = FALSE;
}

PrivateSecurity::~PrivateSecurity() {
  if (descriptor_ != nullptr) ::LocalFree(descriptor_);
}

}  // namespace bcu::platform
