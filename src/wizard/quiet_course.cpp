// The quiet course: what the wizard does, step for step, with nobody to
// click Next and no window to show. Every worker runs on this thread with
// a null window and a silent owner, so nothing appears on the screen; the
// session log gets the records the wizard's course writes.
#include <windows.h>

#include "app/exit_codes.h"
#include "appkit/strings.h"
#include "framework/detection.h"
#include "framework/install_command.h"
#include "framework/redist_hash.h"
#include "framework/workers.h"
#include "launcher/launcher.h"
#include "log/session_log.h"
#include "wizard/setup_wizard_dlg.h"
#include "worker/silent_owner.h"

namespace {
const char kSection[] = "BootStrap";
}  // namespace

// The wizard's own step numbers, so that a quiet run's log reads as the
// wizard's does.
void CSetupWizardDlg::NoteQuietStep(int reached) {
  log->WriteInfo(kSection, StrFormat("Seeking next step for step %d", step));
  step = reached;
  log->WriteInfo(kSection, StrFormat("New step reached : %d", step));
}

unsigned long CSetupWizardDlg::RunQuietly() {
  log->WriteInfo(kSection, "Quiet installation");
  SilentOwner silent(log);
  if (IsFrameworkMissing()) {
    NoteQuietStep(kFrameworkRequired);
    NoteQuietStep(kLicenceAgreement);  // accepted by the switch itself
    if (!TakeRedistributableBesideProgram(workFolder + kRedistributableName,
                                          LoadPinnedRedistHash(), *log)) {
      NoteQuietStep(kDownloadingFramework);
      FillDownloadBlock(nullptr, &silent);
      DownloadWorker(&downloadParams);
      if (downloadParams.failed || downloadParams.statusCode < 200 ||
          downloadParams.statusCode > 299) {
        NoteQuietStep(kDownloadFailed);
        return kExitFailed;
      }
    }
    NoteQuietStep(kInstallingFramework);
    FillInstallBlock(nullptr, &silent);
    FrameworkInstallWorker(&processParams);
    if (processParams.failed || !FrameworkInstalledBy(processParams.exitCode)) {
      NoteQuietStep(kFrameworkInstallFailed);
      return kExitFailed;
    }
    restartRequired_ = FrameworkNeedsRestartAfter(processParams.exitCode);
    ResetProcessParams();
  } else {
    NoteQuietStep(kPreparingSetup);
  }
  NoteQuietStep(kRunningSetup);
  RunInstallation();
  return ExitCode(IDOK, true);
}

unsigned long CSetupWizardDlg::ExitCode(INT_PTR dialogResult, bool windowless) const {
  RunOutcome outcome;
  // Without a window the launcher's stop flag can only mean that the setup
  // program did not start; in the wizard, the dialog ends with IDOK only
  // once the setup program has ended.
  outcome.setupFinished = windowless ? !processParams.stop : dialogResult == IDOK;
  outcome.setupExitCode = processParams.exitCode;
  outcome.restartRequired = restartRequired_;
  outcome.userCancelled = userCancelled_;
  return RunExitCode(outcome);
}
