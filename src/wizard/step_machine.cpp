// The wizard's step machine: the layout of every step, its transitions,
// the end of the framework installation and Cancel.
#include <windows.h>

#include "appkit/app.h"
#include "appkit/strings.h"
#include "framework/detection.h"
#include "framework/install_command.h"
#include "framework/redist_hash.h"
#include "framework/workers.h"
#include "log/session_log.h"
#include "payload/resource_manager.h"
#include "resource_ids.h"
#include "wizard/setup_wizard_dlg.h"

namespace {

const char kSection[] = "BootStrap";

// What a step shows. A string id of 0 means an empty text; kUnchanged
// keeps what an earlier step left.
const int kUnchanged = -1;

struct StepLayout {
  int step;
  bool showWindow;       // brings back a window the launcher hid
  int title;             // string id, kUnchanged, or 0 with titleLiteral
  const char* titleLiteral;
  int status;
  int detail;
  int error;             // 0: the error text is hidden
  bool next;
  bool progress;
  bool licence;
};

const StepLayout kLayouts[] = {
    {0, false, kUnchanged, nullptr, IDS_WELCOME, 0, 0, true, false, false},
    {1, false, kUnchanged, nullptr, IDS_FRAMEWORK_REQUIRED, 0, 0, false, false, false},
    {2, false, kUnchanged, nullptr, kUnchanged, 0, 0, false, false, true},
    {3, false, kUnchanged, nullptr, IDS_DOWNLOADING, IDS_PLEASE_WAIT, 0, false, true, false},
    {4, false, kUnchanged, nullptr, IDS_UNPACKING, IDS_TAKES_A_MINUTE, 0, false, false, false},
    {5, false, IDS_PREPARING, nullptr, IDS_PREPARING_SETUP, 0, 0, false, false, false},
    {6, false, IDS_PREPARING, nullptr, IDS_INSTALLING_PRODUCT, 0, 0, false, false, false},
    {9, true, IDS_MANUAL_TITLE, nullptr, 0, 0, IDS_DOWNLOAD_FAILED, true, false, false},
    {10, true, IDS_MANUAL_TITLE, nullptr, 0, 0, IDS_INSTALL_FAILED, true, false, false},
    {11, false, 0, "Continue Installation", 0, 0, IDS_MANUAL_CONTINUE, true, false, false},
};

const StepLayout* FindLayout(int step) {
  for (const StepLayout& layout : kLayouts)
    if (layout.step == step) return &layout;
  return nullptr;
}

std::string TextOf(int id) {
  return id == 0 ? std::string() : LoadResString(static_cast<unsigned>(id));
}

}  // namespace

void CSetupWizardDlg::UpdateControls() {
  log->WriteInfo(kSection, StrFormat("Updating controls for step %d", step));
  detailText.clear();
  bool next = false, progress = false, licence = false, error = false;
  ApplyStepLayout(&next, &progress, &licence, &error);
  EnableWindow(nextButton, next ? TRUE : FALSE);
  EnableWindow(cancelButton, TRUE);
  ::ShowWindow(progressBar, progress ? SW_SHOW : SW_HIDE);
  ::ShowWindow(errorLabel, error ? SW_SHOW : SW_HIDE);
  ShowLicenceGroup(licence);
  UpdateData(FALSE);
  log->WriteInfo(kSection, "Controls updated");
}

void CSetupWizardDlg::ApplyStepLayout(bool* next, bool* progress,
                                      bool* licence, bool* error) {
  const StepLayout* layout = FindLayout(step);
  if (layout == nullptr) return;
  if (layout->showWindow) ShowWindow(SW_SHOW);
  if (layout->titleLiteral != nullptr)
    SetWindowTextA(titleLabel, layout->titleLiteral);
  else if (layout->title != kUnchanged)
    SetWindowTextA(titleLabel, TextOf(layout->title).c_str());
  if (layout->status != kUnchanged) statusText = TextOf(layout->status);
  detailText = TextOf(layout->detail);
  if (layout->error != 0)
    SetWindowTextA(errorLabel, TextOf(layout->error).c_str());
  *next = layout->next;
  *progress = layout->progress;
  *licence = layout->licence;
  *error = layout->error != 0;
}

void CSetupWizardDlg::ShowLicenceGroup(bool show) {
  if (show) {
    // A short-lived reader: the long-lived one keeps the extraction's
    // state, and the licence is read only here.
    ResourceManager licenceReader(*log);
    SetWindowTextA(licenceEdit, licenceReader.RetrieveLicenseAgreement().c_str());
    SendMessageA(declineRadio, BM_SETCHECK, 1, 0);
  }
  int command = show ? SW_SHOW : SW_HIDE;
  ::ShowWindow(licencePrompt, command);
  ::ShowWindow(licenceEdit, command);
  ::ShowWindow(acceptRadio, command);
  ::ShowWindow(declineRadio, command);
}

void CSetupWizardDlg::NextStep() {
  log->WriteInfo(kSection, StrFormat("Seeking next step for step %d", step));
  // A worker writes the status line the step's layout writes too: it is
  // started only once the layout is in place.
  void (CSetupWizardDlg::*startWorker)() = nullptr;
  switch (step) {
    case kWelcome:
      step = IsFrameworkMissing() ? kFrameworkRequired : kPreparingSetup;
      SetTimer(m_hWnd, kStepTimer, 1000, nullptr);
      break;
    case kFrameworkRequired:
      step = kLicenceAgreement;
      break;
    case kLicenceAgreement:
      if (TakeRedistributableBesideProgram(workFolder + kRedistributableName,
                                           LoadPinnedRedistHash(), *log)) {
        step = kInstallingFramework;
        startWorker = &CSetupWizardDlg::StartFrameworkInstall;
      } else {
        step = kDownloadingFramework;
        startWorker = &CSetupWizardDlg::StartFrameworkDownload;
      }
      break;
    case kDownloadingFramework:
      if (downloadParams.statusCode >= 200 && downloadParams.statusCode <= 299 &&
          !downloadParams.failed) {
        step = kInstallingFramework;
        startWorker = &CSetupWizardDlg::StartFrameworkInstall;
      } else {
        step = kDownloadFailed;
      }
      break;
    case kInstallingFramework:
      if (processParams.failed) {
        step = kFrameworkInstallFailed;
      } else {
        step = kRunningSetup;
        startWorker = &CSetupWizardDlg::StartInstallation;
      }
      break;
    case kPreparingSetup:
      step = kRunningSetup;
      startWorker = &CSetupWizardDlg::StartInstallation;
      break;
    case kRunningSetup:
      EndDialog(IDOK);
      break;
    case kDownloadFailed:
    case kFrameworkInstallFailed:
      step = kManualFrameworkInstall;
      OpenManualInstallPage();
      break;
    case kManualFrameworkInstall:
      if (IsFrameworkMissing()) {
        OpenManualInstallPage();
      } else {
        step = kPreparingSetup;
        ResetProcessParams();
        RunInstallationFromStep11();
      }
      break;
    default:
      break;
  }
  UpdateControls();
  if (startWorker != nullptr) (this->*startWorker)();
  log->WriteInfo(kSection, StrFormat("New step reached : %d", step));
}

// The launch runs on this thread, and its message loop keeps serving the
// window: Next is disabled so that a second press cannot start a second
// launch on the same block. No window message tells the end of this run,
// so the wizard ends here as it does after WM_SETUP_DONE, or as after a
// cancelled launch when Cancel stopped it.
void CSetupWizardDlg::RunInstallationFromStep11() {
  EnableWindow(nextButton, FALSE);
  RunInstallation();
  EndDialog(processParams.stop ? IDCANCEL : IDOK);
}

void CSetupWizardDlg::OnFrameworkInstallDone() {
  // A restart the installer asks for leaves the framework installed: the
  // run goes on, and its exit code says so at the end.
  if (!FrameworkInstalledBy(processParams.exitCode) || processParams.failed) {
    step = kFrameworkInstallFailed;
    EnableWindow(cancelButton, TRUE);
    UpdateControls();
    return;
  }
  restartRequired_ = restartRequired_ || FrameworkNeedsRestartAfter(processParams.exitCode);
  // The worker is still blocked in its final send and will not touch the
  // block again: it may be refilled for the launcher now.
  ResetProcessParams();
  NextStep();
}

void CSetupWizardDlg::OnCancelClicked() {
  userCancelled_ = true;
  CancelDownload(downloadParams);
  processParams.stop = true;
  switch (step) {
    case kWelcome:
    case kFrameworkRequired:
    case kLicenceAgreement:
    case kDownloadFailed:
    case kFrameworkInstallFailed:
    case kManualFrameworkInstall:
      EndDialog(IDCANCEL);
      break;
    case kPreparingSetup:
      // Nothing runs yet: the timer would still start the setup program,
      // from the folder the tear-down is about to delete.
      KillTimer(m_hWnd, kStepTimer);
      EndDialog(IDCANCEL);
      break;
    default:
      // A worker runs: it sees its flag and reports WM_WORKER_CANCELLED.
      break;
  }
}
