// The application object: start-up decides once per process whether to
// refuse an old Windows, relaunch itself elevated, or run the wizard (or,
// in update mode, the product's setup program without a window; in quiet
// mode, the whole course without one).
#ifndef RAVEN_APP_BOOTSTRAP_APP_H
#define RAVEN_APP_BOOTSTRAP_APP_H

#include "appkit/app.h"

class CBootStrapApp : public CWinApp {
 public:
  CBootStrapApp() : CWinApp(nullptr) {}

  // Always FALSE: the chosen course has run to its end by the time this
  // returns, so the process ends without a message loop of its own.
  BOOL InitInstance() override;
  // The exit code of a course that ended without the wizard object.
  int ExitInstance() override { return static_cast<int>(exitCode_); }

 private:
  unsigned long RelaunchOrRefuse(bool quiet, bool zoneChecksKnown);
  // True, with the exit code set, when anotherRuns: this copy then ends.
  bool YieldsToAnotherCopy(bool anotherRuns, bool quiet);
  // Ends the process when the run is over, with the run's exit code; does
  // not return.
  void RunWizard(bool updateMode, bool quiet);

  unsigned long exitCode_ = 0;
};

#endif
