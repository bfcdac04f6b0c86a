#include "app/bootstrap_app.h"

#include <commctrl.h>

#include "app/bootstrap_command_line.h"
#include "app/elevation.h"
#include "app/exit_codes.h"
#include "app/single_instance.h"
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

  // Asked for the switches: that is all this run does.
  if (info->help != 0) {
    AfxMessageBox(IDS_HELP, MB_OK | MB_ICONINFORMATION);
    return FALSE;
  }
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  const bool updateMode = info->update != 0;
  // Update mode keeps its meaning whatever else is given.
  const bool quiet = info->quiet != 0 && !updateMode;

  // Only the major version matters: 5 is Windows 2000, and every later
  // system has at least that.
  if (version.dwMajorVersion < 5) {
    if (!quiet) AfxMessageBox(IDS_OLD_WINDOWS, MB_OK);
    exitCode_ = kExitFailed;
    return FALSE;
  }
  // Asked in update mode as well, where the answer does not matter: update
  // mode never relaunches.
  const bool administrator = IsAdministrator();
  if (!administrator && !updateMode) {
    // Before any elevation prompt: the running copy's is the one that counts.
    if (YieldsToAnotherCopy(AnotherCopyIsRunning(), quiet)) return FALSE;
    const bool zoneChecksKnown = version.dwMajorVersion > 5 || version.dwMinorVersion >= 1;
    exitCode_ = RelaunchOrRefuse(quiet, zoneChecksKnown);
    return FALSE;
  }
  if (YieldsToAnotherCopy(!TakeInstanceMutex(), quiet)) return FALSE;
  RunWizard(updateMode, quiet);
  return FALSE;
}

// A copy that finds another running shows nothing of its own and touches
// nothing: the deployment tool learns of it from the exit code, a user from
// the first copy's wizard coming to the front.
bool CBootStrapApp::YieldsToAnotherCopy(bool anotherRuns, bool quiet) {
  if (!anotherRuns) return false;
  if (!quiet) BringFirstCopyForward();
  exitCode_ = kExitAnotherCopy;
  return true;
}

unsigned long CBootStrapApp::RelaunchOrRefuse(bool quiet, bool zoneChecksKnown) {
  // A copy that was itself started elevated and still lacks the rights
  // (the user chose an account without them, or the system grants none)
  // would otherwise relaunch again and again: tell the user instead.
  if (IsRelaunchedCopy(m_lpCmdLine)) {
    if (!quiet) AfxMessageBox(IDS_NOT_ADMIN, MB_OK);
    return kExitFailed;
  }
  const RelaunchResult relaunch = RelaunchElevated(m_hInstance, m_lpCmdLine, zoneChecksKnown);
  if (relaunch.started) return relaunch.exitCode;
  // The user said no to the elevation prompt: the run ends as a Cancel.
  if (relaunch.error == ERROR_CANCELLED) return kExitUserCancelled;
  if (!quiet) AfxMessageBox(IDS_NOT_ADMIN, MB_OK);
  return kExitFailed;
}
