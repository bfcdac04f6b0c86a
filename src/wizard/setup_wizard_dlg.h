// The wizard object: run set-up and tear-down, the step machine and the
// one window of the program. (Skeleton: the wizard work completes it; the
// members used by start-up below stay as they are.)
#ifndef RAVEN_WIZARD_SETUP_WIZARD_DLG_H
#define RAVEN_WIZARD_SETUP_WIZARD_DLG_H

#include <windows.h>

#include "appkit/dialog.h"

class CSetupWizardDlg : public CDialog {
 public:
  // Opens the session log, makes the work folder and unpacks the payload;
  // throws what the payload extraction throws.
  explicit CSetupWizardDlg(HWND parent = nullptr);
  ~CSetupWizardDlg() override;
  CSetupWizardDlg(const CSetupWizardDlg&) = delete;
  CSetupWizardDlg& operator=(const CSetupWizardDlg&) = delete;

  // Runs the setup program on the calling thread without a window.
  void RunInstallation();
};

#endif
