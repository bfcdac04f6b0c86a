#include "app/bootstrap_app.h"

#include <commctrl.h>

#include "app/bootstrap_command_line.h"
#include "app/elevation.h"
#include "resource_ids.h"

// The version structure's size is what tells Windows which form the caller
// expects; older systems reject any other.
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA layout");

CBootStrapApp theApp;

BOOL CBootStrapApp::InitInstance() {
  InitCommonControls();
  // Lives until the process ends, as the framework expects of its
  // command-line info.
  CBootStrapCommandLineInfo* info = new CBootStrapCommandLineInfo;
  m_pCmdInfo = info;
  CWinApp::InitInstance();
  ParseCommandLine(*info);

  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  bool updateMode = info->update != 0;

  // Only the major version matters: 5 is Windows 2000, and every later
  // system has at least that.
  if (version.dwMajorVersion < 5) {
    AfxMessageBox(IDS_OLD_WINDOWS, MB_OK);
    return FALSE;
  }
  // Asked in update mode as well, where the answer does not matter: update
  // mode never relaunches.
  bool administrator = IsAdministrator();
  if (!administrator && !updateMode) {
    RelaunchOrRefuse();
    return FALSE;
  }
  RunWizard(updateMode);
  return FALSE;
}

void CBootStrapApp::RelaunchOrRefuse() {
  // A copy that was itself started elevated and still lacks the rights
  // (the user chose an account without them, or the system grants none)
  // would otherwise relaunch again and again: tell the user instead.
  if (IsRelaunchedCopy(m_lpCmdLine)) {
    AfxMessageBox(IDS_NOT_ADMIN, MB_OK);
    return;
  }
  RelaunchElevated(m_hInstance, m_lpCmdLine);
}
