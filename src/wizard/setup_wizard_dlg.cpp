// The wizard's run set-up and tear-down, and its window: initialisation,
// command and message routing, painting.
#include "wizard/setup_wizard_dlg.h"

#include <commctrl.h>

#include "appkit/app.h"
#include "appkit/exceptions.h"
#include "log/session_log.h"
#include "payload/resource_manager.h"
#include "payload/work_folder.h"
#include "resource_ids.h"
#include "worker/messages.h"

std::string CSetupWizardDlg::frameworkHost_;
std::string CSetupWizardDlg::frameworkObjectPath_;

CSetupWizardDlg::CSetupWizardDlg(HWND parent)
    : CDialog(IDD_SETUPWIZARD_DIALOG, parent) {
  BindText(IDC_STATUS_TEXT, &statusText);
  BindText(IDC_DETAIL_TEXT, &detailText);
  frameworkHost_ = LoadResString(IDS_WEB_HOST);
  frameworkObjectPath_ = LoadResString(IDS_FRAMEWORK_PATH);
  std::string product = LoadResString(IDS_PRODUCT_NAME);
  // The log and the resource manager stay until the process ends: a worker
  // may still write its last record after the wizard is gone.
  log = new CSessionLog(product, "BootStrap");
  log->WriteBegin();
  icon = LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDI_MAINFRAME));
  workFolder = CreateWorkFolder(product, *log, &workFolderCreated_, &workFolderHold_);
  // A folder this run did not make may belong to anyone: nothing is
  // unpacked into it or run from it.
  if (!workFolderCreated_) throw CFileException(ERROR_CANNOT_MAKE, workFolder);
  try {
    resources = new ResourceManager(*log);
    resources->ExtractResources(workFolder);
  } catch (...) {
    // The destructor will not run: the folder this run made, with whatever
    // was unpacked into it, is removed here, before start-up tells the user.
    DeleteWorkFolder(workFolder, *log, &workFolderHold_);
    throw;
  }
  ResetDownloadParams();
  ResetProcessParams();
}

CSetupWizardDlg::~CSetupWizardDlg() {
  try {
    if (!workFolder.empty() && workFolderCreated_)
      DeleteWorkFolder(workFolder, *log, &workFolderHold_);
  } catch (...) {
    // The deletion records its own failures; the end record must follow.
  }
  // A destructor must not throw: a log that cannot be written at the very
  // end costs the end record, not the process.
  try {
    log->WriteEnd();
  } catch (...) {
  }
  if (titleFont != nullptr) DeleteObject(titleFont);
}

void CSetupWizardDlg::ResetDownloadParams() {
  // The HTTP status is left as it is: only a finished download writes it.
  downloadParams.window = nullptr;
  downloadParams.host.clear();
  downloadParams.port = 0;
  downloadParams.objectPath.clear();
  downloadParams.localFile.clear();
  downloadParams.expectedSha256.clear();
  downloadParams.owner = nullptr;
  downloadParams.cancelRequested = false;
  downloadParams.failed = false;
}

void CSetupWizardDlg::ResetProcessParams() {
  // The folder is left as it is.
  processParams.window = nullptr;
  processParams.programPath.clear();
  processParams.tempFolder.clear();
  processParams.commandLine.clear();
  processParams.exitCode = 0;
  processParams.owner = nullptr;
  processParams.stop = false;
  processParams.failed = false;
}

void CSetupWizardDlg::BindControls() {
  progressBar = GetDlgItem(IDC_PROGRESS);
  titleLabel = GetDlgItem(IDC_TITLE);
  nextButton = GetDlgItem(IDOK);
  cancelButton = GetDlgItem(IDCANCEL);
  licenceEdit = GetDlgItem(IDC_LICENSE);
  acceptRadio = GetDlgItem(IDC_ACCEPT);
  declineRadio = GetDlgItem(IDC_DECLINE);
  licencePrompt = GetDlgItem(IDC_LICENSE_PROMPT);
  errorLabel = GetDlgItem(IDC_ERROR_TEXT);
}

BOOL CSetupWizardDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  BindControls();
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  SetWindowTextA(m_hWnd, LoadResString(IDS_WINDOW_TITLE).c_str());
  SetWindowTextA(titleLabel, LoadResString(IDS_PREPARING).c_str());
  SendMessageA(progressBar, PBM_SETRANGE, 0, 0x640000);
  SendMessageA(progressBar, PBM_SETPOS, 0, 0);
  LOGFONTA font = {};
  font.lfHeight = -18;
  font.lfWeight = FW_BOLD;
  lstrcpyA(font.lfFaceName, "Tahoma");
  titleFont = CreateFontIndirectA(&font);
  SendMessageA(titleLabel, WM_SETFONT, reinterpret_cast<WPARAM>(titleFont), 1);
  UpdateControls();
  return TRUE;
}

LRESULT CSetupWizardDlg::WindowProc(UINT message, WPARAM wParam,
                                    LPARAM lParam) {
  switch (message) {
    // Nothing is taken from the parameters: the blocks are the wizard's own.
    case WM_SETUP_DONE:
    case WM_DOWNLOAD_DONE:
      if (TakeWorkerEnd(message)) NextStep();
      break;
    case WM_DOWNLOAD_PROGRESS:
      if (awaitedEnd_ == WM_DOWNLOAD_DONE)
        OnDownloadProgress(static_cast<unsigned long>(wParam),
                           static_cast<unsigned long>(lParam));
      break;
    case WM_WORKER_CANCELLED:
      if (!TakeWorkerEnd(message)) break;
      EndDialog(IDCANCEL);
      return 0;
    case WM_HIDE_WIZARD:
      if (awaitedEnd_ == WM_SETUP_DONE) ShowWindow(SW_HIDE);
      break;
    case WM_REFRESH_CONTROLS:
      UpdateData(FALSE);
      break;
    case WM_FRAMEWORK_INSTALL_DONE:
      if (TakeWorkerEnd(message)) OnFrameworkInstallDone();
      break;
    default:
      break;
  }
  return CDialog::WindowProc(message, wParam, lParam);
}

bool CSetupWizardDlg::TakeWorkerEnd(UINT message) {
  if (awaitedEnd_ == 0 || (message != awaitedEnd_ && message != WM_WORKER_CANCELLED))
    return false;
  awaitedEnd_ = 0;
  return true;
}

bool CSetupWizardDlg::OnCommand(int id, int notifyCode, HWND control) {
  if (notifyCode != BN_CLICKED)
    return CDialog::OnCommand(id, notifyCode, control);
  switch (id) {
    case IDOK:
      // Enter reaches here as IDOK too; while Next is disabled (a worker
      // runs, the licence is declined) it must not move the wizard on.
      if (IsWindowEnabled(nextButton)) NextStep();
      return true;
    case IDCANCEL:
      // Escape and the close box come here even while a worker has
      // disabled Cancel.
      if (IsWindowEnabled(cancelButton)) OnCancelClicked();
      return true;
    case IDC_ACCEPT:
      EnableWindow(nextButton, TRUE);
      return true;
    case IDC_DECLINE:
      EnableWindow(nextButton, FALSE);
      return true;
    default:
      return CDialog::OnCommand(id, notifyCode, control);
  }
}

void CSetupWizardDlg::OnTimer(UINT_PTR id) {
  if (id != kStepTimer) return;
  KillTimer(m_hWnd, kStepTimer);
  NextStep();
}

bool CSetupWizardDlg::OnPaint() {
  if (!IsIconic(m_hWnd)) return false;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(m_hWnd, &paint);
  SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  int iconWidth = GetSystemMetrics(SM_CXICON);
  int iconHeight = GetSystemMetrics(SM_CYICON);
  RECT client;
  GetClientRect(m_hWnd, &client);
  int x = (client.right - client.left - iconWidth + 1) / 2;
  int y = (client.bottom - client.top - iconHeight + 1) / 2;
  DrawIcon(dc, x, y, icon);
  EndPaint(m_hWnd, &paint);
  return true;
}

HICON CSetupWizardDlg::OnQueryDragIcon() { return icon; }
