// Starting the setup program through the shell, for the one case where
// CreateProcessA cannot: an unelevated run (update mode) of a setup program
// that must run elevated.
#ifndef RAVEN_LAUNCHER_SHELL_START_H
#define RAVEN_LAUNCHER_SHELL_START_H

#include <windows.h>

// ERROR_ELEVATION_REQUIRED (the headers name it only for Vista and later,
// the only systems that return it): the program's manifest, or the
// system's installer detection, asks for administrator rights.
const DWORD kErrorElevationRequired = 740;

// Starts program with the default verb, parameters and folder, the way a
// double-click would, so that the system asks for the rights. On success
// process->hProcess is the process (hThread stays null); false with
// GetLastError() set otherwise.
bool StartThroughShell(const char* program, const char* parameters, const char* folder,
                       PROCESS_INFORMATION* process);

#endif
