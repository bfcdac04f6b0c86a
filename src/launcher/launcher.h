// Runs the payload's setup program from the work folder and waits for it.
#ifndef RAVEN_LAUNCHER_LAUNCHER_H
#define RAVEN_LAUNCHER_LAUNCHER_H

#include <windows.h>

// Thread procedure (also called directly in update mode); its argument is
// the address of the ProcessParams block. Returns 0.
DWORD WINAPI InstallationThread(LPVOID processParams);

#endif
