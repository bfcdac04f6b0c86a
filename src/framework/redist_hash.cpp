#include "framework/redist_hash.h"

#include <cctype>

#include "appkit/app.h"
#include "resource_ids.h"

namespace {

std::string NormalisedPin(const char* data, DWORD size) {
  // Trailing blanks or a line end from whoever wrote the pin file are not
  // part of the hash.
  while (size > 0 && std::isspace(static_cast<unsigned char>(data[size - 1])))
    --size;
  if (size != 64) return std::string();
  std::string pin(data, size);
  for (char& c : pin) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::string();
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return pin;
}

}  // namespace

std::string LoadPinnedRedistHash(HMODULE module) {
  HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(IDR_REDIST_SHA256),
                             MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (info == nullptr) return std::string();
  DWORD size = SizeofResource(module, info);
  HGLOBAL loaded = LoadResource(module, info);
  const char* data =
      loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (data == nullptr) return std::string();
  return NormalisedPin(data, size);
}

std::string LoadPinnedRedistHash() {
  return LoadPinnedRedistHash(AfxGetInstanceHandle());
}
