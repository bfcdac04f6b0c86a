// The wizard course of start-up: the one place that catches whatever the
// wizard object throws, since no caller above InitInstance could show it.
#include "app/bootstrap_app.h"
#include "resource_ids.h"
#include "wizard/setup_wizard_dlg.h"

void CBootStrapApp::RunWizard(bool updateMode) {
  try {
    CSetupWizardDlg wizard;
    if (updateMode) {
      wizard.RunInstallation();
    } else {
      m_pMainWnd = &wizard;
      wizard.DoModal();
    }
    m_pMainWnd = nullptr;
  } catch (...) {
    // Whatever failed (most often a payload that cannot be unpacked), the
    // wizard is already gone; all the user can do is get a sound copy.
    m_pMainWnd = nullptr;
    AfxMessageBox(IDS_CORRUPTED, MB_OK);
  }
}
