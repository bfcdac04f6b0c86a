// Paths Windows gives in wide form, made fit for the program's ANSI calls.
// A name the system's ANSI code page cannot write (a Cyrillic user name on
// a Western system) comes back from the A calls with "?" or best-fit
// letters: a path to nothing, or to some other file.
#ifndef RAVEN_APPKIT_ANSI_PATH_H
#define RAVEN_APPKIT_ANSI_PATH_H

#include <windows.h>

#include <string>

// The path in the ANSI code page when it converts exactly, else its 8.3
// short form when that one does; empty when neither does (short names
// switched off on the volume, or the path does not exist).
std::string AnsiPathOf(const std::wstring& path);

// The module's full path; empty when it cannot be had.
std::wstring ModulePathW(HMODULE module);

#endif
