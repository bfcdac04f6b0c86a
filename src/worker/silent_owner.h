// The owner of a worker that runs with no window (the quiet course): the
// records go to the session log, everything meant for the window is
// dropped. Such a worker's block also has a null window: that is how a
// worker tells it must show nothing, not even a dialog of the system's.
#ifndef RAVEN_WORKER_SILENT_OWNER_H
#define RAVEN_WORKER_SILENT_OWNER_H

#include "worker/wizard_owner.h"

class SilentOwner final : public WizardOwner {
 public:
  explicit SilentOwner(CSessionLog* log) : log_(log) {}
  CSessionLog* GetSessionLog() override { return log_; }
  void SetStatusText(const std::string&) override {}
  void SetDetailText(const std::string&) override {}
  void ShowProgressBar(bool) override {}
  void EnableCancelButton(bool) override {}
  void SetProgress(int, int) override {}
  void SetProgressStep(int) override {}
  void StepProgress() override {}
  void OffsetProgress(int) override {}
  void ExtendProgressRange(int) override {}
  void UpdateInstallPercent() override {}

 private:
  CSessionLog* log_;
};

#endif
