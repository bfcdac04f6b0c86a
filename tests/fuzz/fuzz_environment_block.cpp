// The environment block the started programs get is cut out of our own:
// whatever the units, nothing is read past the end, the result is a block
// (ended by two zeros), no longer than the input plus its ending, and no
// hook is left in it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/environment_filter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<wchar_t> units(size / 2);
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
  std::vector<std::wstring> removed;
  const std::wstring kept = WithoutRuntimeHooks(units.data(), units.size(), nullptr, &removed);
  if (kept.size() < 2 || kept[kept.size() - 1] != L'\0' || kept[kept.size() - 2] != L'\0' ||
      kept.size() > units.size() + 2)
    std::abort();
  for (size_t at = 0; at + 1 < kept.size() && kept[at] != L'\0';) {
    const std::wstring entry(kept.c_str() + at);
    if (IsRuntimeHook(entry.substr(0, entry.find(L'=', 1)), nullptr)) std::abort();
    at += entry.size() + 1;
  }
  return 0;
}
