// What workers do to the window through their owner pointer, and the
// download progress. The helpers run on worker
// threads: they reach the controls only by sent messages, which the system
// carries over to the window's thread.
#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>

#include "appkit/app.h"
#include "appkit/strings.h"
#include "log/session_log.h"
#include "resource_ids.h"
#include "wizard/progress_math.h"
#include "wizard/setup_wizard_dlg.h"
#include "worker/messages.h"

CSessionLog* CSetupWizardDlg::GetSessionLog() { return log; }

// The worker waits in the send while the window's thread copies the
// strings into their controls, so the strings are not written meanwhile.
void CSetupWizardDlg::RefreshControls() {
  SendMessageA(m_hWnd, WM_REFRESH_CONTROLS, 0, 0);
}

void CSetupWizardDlg::SetStatusText(const std::string& text) {
  statusText = text;
  RefreshControls();
}

void CSetupWizardDlg::SetDetailText(const std::string& text) {
  detailText = text;
  RefreshControls();
}

void CSetupWizardDlg::ShowProgressBar(bool show) {
  ::ShowWindow(progressBar, show ? SW_SHOW : SW_HIDE);
}

void CSetupWizardDlg::EnableCancelButton(bool enable) {
  EnableWindow(cancelButton, enable ? TRUE : FALSE);
}

void CSetupWizardDlg::SetProgress(int position, int maximum) {
  SendMessageA(progressBar, PBM_SETRANGE32, 0, maximum);
  SendMessageA(progressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  UpdateInstallPercent();
}

void CSetupWizardDlg::SetProgressStep(int increment) {
  SendMessageA(progressBar, PBM_SETSTEP, static_cast<WPARAM>(increment), 0);
}

void CSetupWizardDlg::StepProgress() {
  SendMessageA(progressBar, PBM_STEPIT, 0, 0);
  UpdateInstallPercent();
}

void CSetupWizardDlg::OffsetProgress(int delta) {
  SendMessageA(progressBar, PBM_DELTAPOS, static_cast<WPARAM>(delta), 0);
  UpdateInstallPercent();
}

void CSetupWizardDlg::ExtendProgressRange(int extra) {
  int lower = static_cast<int>(SendMessageA(progressBar, PBM_GETRANGE, TRUE, 0));
  int upper = static_cast<int>(SendMessageA(progressBar, PBM_GETRANGE, FALSE, 0));
  SendMessageA(progressBar, PBM_SETRANGE32, static_cast<WPARAM>(lower),
               ExtendedUpperBound(upper, extra));
  UpdateInstallPercent();
}

void CSetupWizardDlg::UpdateInstallPercent() {
  DWORD position = static_cast<DWORD>(SendMessageA(progressBar, PBM_GETPOS, 0, 0));
  DWORD upper =
      static_cast<DWORD>(SendMessageA(progressBar, PBM_GETRANGE, FALSE, 0));
  int percent = PercentOf(position, upper);
  statusText = StrFormat(LoadResString(IDS_INSTALL_PROGRESS).c_str(), percent);
  RefreshControls();
}

void CSetupWizardDlg::OnDownloadProgress(unsigned long received,
                                         unsigned long total) {
  int percent = PercentOf(received, total);
  // The bar's range is 0..100: a percentage above it leaves it at its end.
  SendMessageA(progressBar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
  char size[256] = {};
  StrFormatByteSizeA(received, size, sizeof size);
  statusText =
      StrFormat(LoadResString(IDS_DOWNLOAD_PROGRESS).c_str(), size, percent);
  RefreshControls();
}
