// How the wizard hands work to a worker: it fills the worker's block and
// starts one thread, whose handle it does not keep.
#include <windows.h>

#include "appkit/app.h"
#include "framework/detection.h"
#include "framework/install_command.h"
#include "framework/redist_hash.h"
#include "framework/workers.h"
#include "launcher/launcher.h"
#include "launcher/setup_command.h"
#include "log/session_log.h"
#include "payload/resource_manager.h"
#include "wizard/setup_wizard_dlg.h"
#include "worker/messages.h"

namespace {
const char kSection[] = "BootStrap";
}  // namespace

// A worker that never starts would leave the wizard waiting for an end
// message forever: the failure is recorded, and each caller then takes the
// path its worker takes when it fails.
bool CSetupWizardDlg::StartWorkerThread(LPTHREAD_START_ROUTINE procedure,
                                        void* block) {
  HANDLE thread = CreateThread(nullptr, 0, procedure, block, 0, nullptr);
  if (thread == nullptr) {
    log->WriteError(kSection, "Error while creating thread", GetLastError());
    return false;
  }
  CloseHandle(thread);
  return true;
}

void CSetupWizardDlg::FillDownloadBlock(HWND window, WizardOwner* owner) {
  downloadParams.window = window;
  downloadParams.host = frameworkHost_;
  downloadParams.objectPath = frameworkObjectPath_;
  downloadParams.port = 80;
  downloadParams.localFile = workFolder + kRedistributableName;
  downloadParams.owner = owner;
  downloadParams.expectedSha256 = LoadPinnedRedistHash();
}

void CSetupWizardDlg::StartFrameworkDownload() {
  FillDownloadBlock(m_hWnd, this);
  awaitedEnd_ = WM_DOWNLOAD_DONE;
  if (StartWorkerThread(DownloadWorker, &downloadParams)) return;
  downloadParams.failed = true;
  PostMessageA(m_hWnd, WM_DOWNLOAD_DONE, 0, 0);
}

void CSetupWizardDlg::FillInstallBlock(HWND window, WizardOwner* owner) {
  processParams.window = window;
  // Only the checked copy in the work folder is run (downloaded, or taken
  // from beside the program), with the work folder as its current folder.
  processParams.programPath = workFolder + kRedistributableName;
  processParams.owner = owner;
  processParams.folder = workFolder + kUnpackFolderName + "\\";
  processParams.commandLine = FrameworkUnpackCommandLine(processParams.folder);
  processParams.tempFolder = workFolder + kUnpackTempFolderName;
}

void CSetupWizardDlg::StartFrameworkInstall() {
  FillInstallBlock(m_hWnd, this);
  awaitedEnd_ = WM_FRAMEWORK_INSTALL_DONE;
  if (StartWorkerThread(FrameworkInstallWorker, &processParams)) return;
  processParams.failed = true;
  PostMessageA(m_hWnd, WM_FRAMEWORK_INSTALL_DONE, 0, 0);
}

void CSetupWizardDlg::FillLaunchBlock(HWND window) {
  processParams.window = window;
  processParams.programPath = workFolder + resources->SetupProgramName();
  processParams.folder = workFolder;
  processParams.owner = this;
  CWinApp* app = AfxGetApp();
  processParams.commandLine =
      SetupCommandLine(app != nullptr ? app->m_lpCmdLine : nullptr);
}

void CSetupWizardDlg::StartInstallation() {
  FillLaunchBlock(m_hWnd);
  awaitedEnd_ = WM_SETUP_DONE;
  if (StartWorkerThread(InstallationThread, &processParams)) return;
  // As a launcher that could not start the setup program reports it.
  processParams.stop = true;
  PostMessageA(m_hWnd, WM_WORKER_CANCELLED, 0, 0);
}

void CSetupWizardDlg::RunInstallation() {
  FillLaunchBlock(nullptr);
  InstallationThread(&processParams);
}
