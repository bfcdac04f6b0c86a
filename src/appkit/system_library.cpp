#include "appkit/system_library.h"

#include <string>

HMODULE LoadSystemLibrary(const char* name) {
  char folder[MAX_PATH] = {};
  UINT n = GetSystemDirectoryA(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    // A bare name would be looked up along the search path: never that.
    if (n != 0) SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  std::string path(folder, n);
  if (path.back() != '\\') path += '\\';
  path += name;
  return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void EnterSystemFolder() {
  char folder[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryA(folder, MAX_PATH);
  if (n != 0 && n < MAX_PATH) SetCurrentDirectoryA(folder);
}

void NarrowDllSearchPath() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  // Both are looked up: neither exists on Windows 2000, and the first one
  // only on systems updated since Windows Vista.
  BOOL(WINAPI * setDefault)(DWORD) = nullptr;
  if (ResolveFunction(kernel, "SetDefaultDllDirectories", &setDefault)) {
    const DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    if (setDefault(kSearchSystem32)) return;
  }
  BOOL(WINAPI * setDirectory)(LPCSTR) = nullptr;
  if (ResolveFunction(kernel, "SetDllDirectoryA", &setDirectory)) setDirectory("");
}
