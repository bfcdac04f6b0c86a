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

// Narrows the DLL search path of this process for the DLLs that system code
// (shell32, comctl32) loads by name on our behalf. With
// SetDefaultDllDirectories (Windows 8 and later, and earlier systems that
// have the update adding it) only the system folder is searched. Without it,
// SetDllDirectoryA("") (XP SP1 and later) takes out the current folder only:
// the exe's own folder stays first, so a DLL planted beside the exe can still
// be loaded that way; on Windows 2000 nothing changes at all.
void NarrowDllSearchPath();

// Makes the system folder the current folder, so that the current folder
// (otherwise often the exe's, the Downloads folder) is never searched for a
// DLL. Nothing in the program depends on the current folder: paths are
// absolute and every child is given its folder. Called first thing in
// WinMain; a failure leaves the current folder as it was.
void EnterSystemFolder();

#endif
