// DLLs that are not loaded by every Windows from the system folder anyway
// are never in the import table: the loader would take a copy planted beside
// the exe (the user's Downloads folder) before any of our code runs. They are
// loaded here, at first use, by their full path in the system folder.
#ifndef RAVEN_APPKIT_SYSTEM_LIBRARY_H
#define RAVEN_APPKIT_SYSTEM_LIBRARY_H

#include <windows.h>

// Loads name from the system folder by its full path, its own dependencies
// resolved from there too. Null (with GetLastError set) when it cannot be
// had. The module is never freed: it serves the rest of the process.
HMODULE LoadSystemLibrary(const char* name);

// A function of module, or false (with GetLastError set) when it lacks it.
template <typename Function>
bool ResolveFunction(HMODULE module, const char* name, Function* out) {
  FARPROC found = module != nullptr ? GetProcAddress(module, name) : nullptr;
  // Through the generic function pointer type, which may be cast to any
  // other without a warning.
  *out = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
  return found != nullptr;
}

// Takes the exe's folder and the current folder out of the DLL search path
// of this process, where the system allows it (Windows 2000 does not): the
// DLLs that shell32 and comctl32 load on our behalf come from the system
// folder only. Called first thing in WinMain.
void NarrowDllSearchPath();

#endif
