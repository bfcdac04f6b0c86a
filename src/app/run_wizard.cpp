// The wizard course of start-up: the one place that catches whatever the
// wizard object throws, since no caller above InitInstance could show it.
#include "app/bootstrap_app.h"
#include "app/exit_codes.h"
#include "appkit/exceptions.h"
#include "log/session_log.h"
#include "resource_ids.h"
#include "wizard/setup_wizard_dlg.h"

namespace {

// How long the end waits for a worker that is still writing a record.
const unsigned long kLastRecordWaitMs = 2000;

// Workers are never joined, and one that was told to stop may still be
// inside its last log record when the wizard is gone. The C runtime's exit
// tear-down (static destructors, stream clean-up) must not run under it:
// the process ends here, once no record is being written. The log closes
// its file after every record, so nothing is lost by skipping the runtime.
[[noreturn]] void EndProcessAfterRun(unsigned long exitCode) {
  CSessionLog::HoldForProcessEnd(kLastRecordWaitMs);
  TerminateProcess(GetCurrentProcess(), exitCode);
  ExitProcess(exitCode);  // not reached; TerminateProcess does not return on itself
}

}  // namespace

void CBootStrapApp::RunWizard(bool updateMode, bool quiet) {
  unsigned long exitCode = kExitFailed;
  try {
    CSetupWizardDlg wizard;
    if (updateMode) {
      wizard.RunInstallation();
      exitCode = wizard.ExitCode(IDOK, true);
    } else if (quiet) {
      exitCode = wizard.RunQuietly();
    } else {
      m_pMainWnd = &wizard;
      exitCode = wizard.ExitCode(wizard.DoModal(), false);
    }
    m_pMainWnd = nullptr;
  } catch (const CFileException& e) {
    m_pMainWnd = nullptr;
    exitCode = kExitFailed;
    // The one failure the user can mend: a temporary folder whose name the
    // system's code page cannot write. Anything else is as below. A quiet
    // run leaves it to its log and its exit code.
    if (!quiet)
      AfxMessageBox(e.OsError() == ERROR_NO_UNICODE_TRANSLATION ? IDS_TEMP_NAME : IDS_CORRUPTED,
                    MB_OK);
  } catch (...) {
    // Whatever failed (most often a payload that cannot be unpacked), the
    // wizard is already gone; all the user can do is get a sound copy.
    m_pMainWnd = nullptr;
    exitCode = kExitFailed;
    if (!quiet) AfxMessageBox(IDS_CORRUPTED, MB_OK);
  }
  EndProcessAfterRun(exitCode);
}
