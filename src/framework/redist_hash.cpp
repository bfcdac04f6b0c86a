#include "framework/redist_hash.h"

#include "appkit/app.h"
#include "framework/sha256.h"
#include "resource_ids.h"

std::string LoadPinnedRedistHash(HMODULE module) {
  HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(IDR_REDIST_SHA256),
                             MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (info == nullptr) return std::string();
  DWORD size = SizeofResource(module, info);
  HGLOBAL loaded = LoadResource(module, info);
  const char* data =
      loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (data == nullptr) return std::string();
  std::string list;
  for (const std::string& pin : ParsePins(std::string(data, size))) {
    if (!list.empty()) list += '\n';
    list += pin;
  }
  return list;
}

std::string LoadPinnedRedistHash() {
  return LoadPinnedRedistHash(AfxGetInstanceHandle());
}
