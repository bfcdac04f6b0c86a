// Thread procedures of the two framework workers. Each takes the address of
// its parameter block (DownloadParams, ProcessParams) and returns 0.
#ifndef RAVEN_FRAMEWORK_WORKERS_H
#define RAVEN_FRAMEWORK_WORKERS_H

#include <windows.h>

#include <string>

struct DownloadParams;

DWORD WINAPI DownloadWorker(LPVOID downloadParams);
// Cancel, from the window's thread: raises the block's flag, which the
// worker sees within a fraction of a second whatever WinINet is doing.
void CancelDownload(DownloadParams& params);
DWORD WINAPI FrameworkInstallWorker(LPVOID processParams);

// The Windows Installer's external UI callback (registered by the install
// worker with the ProcessParams block as context).
int WINAPI InstallerUiHandler(LPVOID context, UINT messageType,
                              LPCSTR message);

#endif
