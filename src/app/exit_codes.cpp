#include "app/exit_codes.h"

unsigned long RunExitCode(const RunOutcome& outcome) {
  if (outcome.setupFinished) {
    if (outcome.setupExitCode != 0) return outcome.setupExitCode;
    return outcome.restartRequired ? kExitRestartRequired : 0;
  }
  return outcome.userCancelled ? kExitUserCancelled : kExitFailed;
}
