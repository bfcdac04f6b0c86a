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
  if (fittedPicture != nullptr) DeleteObject(fittedPicture);
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

namespace {

// The screen's vertical DPI, 96 when it cannot be had.
int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return 96;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

// A copy of bitmap at width x height, stretched with halftone (which
// averages pixels instead of dropping them); null on failure.
HBITMAP Stretched(HBITMAP bitmap, int width, int height) {
  BITMAP info = {};
  if (GetObjectA(bitmap, sizeof info, &info) == 0) return nullptr;
  HDC screen = GetDC(nullptr);
  HDC from = CreateCompatibleDC(screen), to = CreateCompatibleDC(screen);
  HBITMAP result = screen != nullptr ? CreateCompatibleBitmap(screen, width, height) : nullptr;
  bool drawn = false;
  if (from != nullptr && to != nullptr && result != nullptr) {
    HGDIOBJ oldFrom = SelectObject(from, bitmap), oldTo = SelectObject(to, result);
    SetStretchBltMode(to, HALFTONE);
    SetBrushOrgEx(to, 0, 0, nullptr);  // as halftone needs after the mode is set
    drawn = StretchBlt(to, 0, 0, width, height, from, 0, 0, info.bmWidth, info.bmHeight,
                       SRCCOPY) != FALSE;
    SelectObject(to, oldTo);
    SelectObject(from, oldFrom);
  }
  if (!drawn && result != nullptr) DeleteObject(result);
  if (from != nullptr) DeleteDC(from);
  if (to != nullptr) DeleteDC(to);
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return drawn ? result : nullptr;
}

// The picture's id (the template's only control without one) and place,
// in dialog units.
const int kPictureId = -1;
const int kPictureWidthDlu = 109;
const int kPictureHeightDlu = 192;

}  // namespace

// Windows sizes the dialog by its font, which follows the screen's DPI,
// while a picture control shows its bitmap at the bitmap's own size: at
// 120 DPI a bare band would open beside it. Away from 96 DPI the picture is
// stretched to the size the template gives its control; at 96 DPI it stays
// as it is.
void CSetupWizardDlg::FitPictureToScreen() {
  if (ScreenDpi() == 96) return;
  HWND picture = GetDlgItem(kPictureId);
  HBITMAP original = reinterpret_cast<HBITMAP>(SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
  RECT place = {0, 0, kPictureWidthDlu, kPictureHeightDlu};
  if (picture == nullptr || original == nullptr || !MapDialogRect(m_hWnd, &place)) return;
  fittedPicture = Stretched(original, place.right, place.bottom);
  if (fittedPicture == nullptr) return;
  HGDIOBJ old = reinterpret_cast<HGDIOBJ>(SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP,
                                                        reinterpret_cast<LPARAM>(fittedPicture)));
  // The control no longer holds the bitmap it loaded itself.
  if (old != nullptr && old != fittedPicture) DeleteObject(old);
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
  FitPictureToScreen();
  LOGFONTA font = {};
  // 18 pixels at 96 DPI: the title grows with the dialog's own font.
  font.lfHeight = -MulDiv(18, ScreenDpi(), 96);
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
    case kManualPageDone:
      OnManualPageDone(static_cast<UINT>(wParam), static_cast<int>(lParam));
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
  if (id == kManualPageTimer) OnManualPageTimeout();
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
