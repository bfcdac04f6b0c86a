// What a worker thread may do to the wizard through the `owner` pointer of
// its parameter block. CSetupWizardDlg implements it; tests of a worker
// implement it with a recorder, so a worker can run without a real wizard.
// Every operation runs on the calling (worker) thread and reaches the
// window's controls only by sent messages.
#ifndef RAVEN_WORKER_WIZARD_OWNER_H
#define RAVEN_WORKER_WIZARD_OWNER_H

#include <string>

class CSessionLog;

class WizardOwner {
 public:
  virtual CSessionLog* GetSessionLog() = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void SetDetailText(const std::string& text) = 0;
  virtual void ShowProgressBar(bool show) = 0;
  virtual void EnableCancelButton(bool enable) = 0;
  virtual void SetProgress(int position, int maximum) = 0;
  virtual void SetProgressStep(int step) = 0;
  virtual void StepProgress() = 0;
  virtual void OffsetProgress(int delta) = 0;
  virtual void ExtendProgressRange(int extra) = 0;
  virtual void UpdateInstallPercent() = 0;

 protected:
  ~WizardOwner() = default;
};

#endif
