// The process exit codes deployment tools read. They are the Windows
// Installer's own, which those tools already understand. Platform-free so
// the choice is tested natively.
#ifndef RAVEN_APP_EXIT_CODES_H
#define RAVEN_APP_EXIT_CODES_H

const unsigned long kExitUserCancelled = 1602;   // ERROR_INSTALL_USEREXIT
const unsigned long kExitFailed = 1603;          // ERROR_INSTALL_FAILURE
const unsigned long kExitAnotherCopy = 1618;     // ERROR_INSTALL_ALREADY_RUNNING
const unsigned long kExitRestartRequired = 3010; // ERROR_SUCCESS_REBOOT_REQUIRED

// How a run that got as far as the wizard object ended.
struct RunOutcome {
  bool setupFinished = false;       // the setup program ran to its end
  unsigned long setupExitCode = 0;  // its code, when it did
  bool restartRequired = false;     // the framework installation asked for one
  bool userCancelled = false;       // Cancel, Escape or the close box
};

// The setup program's own code when it ran to its end (a restart the
// framework asked for turns its 0 into 3010, never a failure into one);
// otherwise 1602 when the user ended the run, else 1603.
unsigned long RunExitCode(const RunOutcome& outcome);

#endif
