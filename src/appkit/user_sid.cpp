#include "appkit/user_sid.h"

#include <windows.h>
#include <sddl.h>

#include <vector>

#include "appkit/handle.h"

std::string UserSidString() {
  ScopedKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
    return std::string();
  std::vector<char> buffer(256);
  DWORD size = 0;
  if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(),
                           static_cast<DWORD>(buffer.size()), &size)) {
    if (size <= buffer.size()) return std::string();
    buffer.resize(size);
    if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size))
      return std::string();
  }
  char* text = nullptr;
  if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid,
                              &text))
    return std::string();
  std::string sid = text;
  LocalFree(text);
  return sid;
}

