// Runs the payload's setup program from the work folder and waits for it.
#ifndef RAVEN_LAUNCHER_LAUNCHER_H
#define RAVEN_LAUNCHER_LAUNCHER_H

#include <windows.h>

// Thread procedure (also called directly in update mode); its argument is
// the address of the ProcessParams block. Returns 0.
DWORD WINAPI InstallationThread(LPVOID processParams);

class ChildEnvironment;

// CreateProcessA of a program this run has just written, with inherited
// handles in a new process group and the given environment. A virus scanner opens
// every new file for a moment, often without read sharing: a sharing
// violation or access denied is retried for up to 2 seconds. folder may be
// null.
BOOL CreateFreshProcess(const char* program, char* commandLine, const char* folder,
                        STARTUPINFOA* startup, PROCESS_INFORMATION* process,
                        ChildEnvironment& environment);

#endif
