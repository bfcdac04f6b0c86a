#include "launcher/environment_filter.h"

namespace {

wchar_t AsciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c; }

bool StartsWithFolded(const std::wstring& name, const wchar_t* prefix,
                      wchar_t (*upper)(wchar_t)) {
  size_t i = 0;
  for (; prefix[i] != L'\0'; ++i)
    if (i >= name.size() || upper(name[i]) != AsciiUpper(prefix[i])) return false;
  return true;
}

}  // namespace

bool IsRuntimeHook(const std::wstring& name, wchar_t (*upper)(wchar_t)) {
  if (upper == nullptr) upper = AsciiUpper;
  for (const wchar_t* prefix : {L"COR_", L"COMPlus_", L"DOTNET_"})
    if (StartsWithFolded(name, prefix, upper)) return true;
  return false;
}

std::wstring WithoutRuntimeHooks(const wchar_t* block, size_t length, wchar_t (*upper)(wchar_t),
                                 std::vector<std::wstring>* removed) {
  std::wstring kept;
  size_t at = 0;
  while (at < length && block[at] != L'\0') {
    size_t end = at;
    while (end < length && block[end] != L'\0') ++end;
    if (end == length) break;  // no terminator: not a whole string
    const std::wstring entry(block + at, end - at);
    // A name may begin with "=" (the per-drive current folders, "=C:=C:\x").
    const std::wstring name = entry.substr(0, entry.find(L'=', 1));
    if (IsRuntimeHook(name, upper)) {
      removed->push_back(name);
    } else {
      kept += entry;
      kept += L'\0';
    }
    at = end + 1;
  }
  if (kept.empty()) kept += L'\0';  // an empty block is two zeros
  kept += L'\0';
  return kept;
}
