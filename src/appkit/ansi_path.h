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

// The text in the given code page, unknown characters as the system
// writes them; empty when it cannot be converted. For names a record shows,
// or a code page that writes every character (CP_UTF8); not for a path an
// ANSI call opens (AnsiPathOf).
std::string NarrowOf(const wchar_t* wide, UINT codePage);

// The module's full path; empty when it cannot be had.
std::wstring ModulePathW(HMODULE module);

#endif
