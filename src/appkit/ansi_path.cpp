#include "appkit/ansi_path.h"

#include <vector>

namespace {

// Windows 2000 knows the flag; the headers' value is checked, not trusted.
const DWORD kNoBestFitChars = 0x400;
static_assert(kNoBestFitChars == WC_NO_BEST_FIT_CHARS, "WC_NO_BEST_FIT_CHARS");
const UINT kUtf8 = 65001;

// True, with the text in *ansi, when every character has an exact form in
// the ANSI code page. Best fit would turn a Cyrillic letter into a Latin
// look-alike: a path that names another file.
bool ToAnsiExactly(const std::wstring& wide, std::string* ansi) {
  if (wide.empty()) return false;
  // A UTF-8 code page takes neither the flag nor the used-default
  // question; the round trip below judges it alone.
  const bool utf8 = GetACP() == kUtf8;
  const DWORD flags = utf8 ? 0 : kNoBestFitChars;
  BOOL usedDefault = FALSE;
  BOOL* asked = utf8 ? nullptr : &usedDefault;
  const int n = WideCharToMultiByte(CP_ACP, flags, wide.c_str(), -1, nullptr, 0, nullptr, asked);
  if (n <= 1 || usedDefault) return false;
  std::vector<char> out(n);
  if (WideCharToMultiByte(CP_ACP, flags, wide.c_str(), -1, out.data(), n, nullptr, asked) != n ||
      usedDefault)
    return false;
  // Back to wide: whatever the code page did unasked shows as a difference.
  const int back = MultiByteToWideChar(CP_ACP, 0, out.data(), -1, nullptr, 0);
  if (back <= 1) return false;
  std::vector<wchar_t> again(back);
  if (MultiByteToWideChar(CP_ACP, 0, out.data(), -1, again.data(), back) != back ||
      wide != again.data())
    return false;
  ansi->assign(out.data());
  return true;
}

}  // namespace

std::string AnsiPathOf(const std::wstring& path) {
  std::string ansi;
  if (ToAnsiExactly(path, &ansi)) return ansi;
  std::vector<wchar_t> shortPath(32768);
  const DWORD n = GetShortPathNameW(path.c_str(), shortPath.data(),
                                    static_cast<DWORD>(shortPath.size()));
  if (n == 0 || n >= shortPath.size()) return std::string();
  return ToAnsiExactly(shortPath.data(), &ansi) ? ansi : std::string();
}

std::wstring ModulePathW(HMODULE module) {
  std::vector<wchar_t> path(32768);
  const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
  return n == 0 || n >= path.size() ? std::wstring() : std::wstring(path.data(), n);
}

std::string NarrowOf(const wchar_t* wide, UINT codePage) {
  const int n = WideCharToMultiByte(codePage, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, wide, -1, &text[0], n, nullptr, nullptr);
  text.resize(static_cast<size_t>(n - 1));
  return text;
}
