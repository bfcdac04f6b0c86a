// The administrator test and the elevated relaunch of start-up.
#ifndef RAVEN_APP_ELEVATION_H
#define RAVEN_APP_ELEVATION_H

#include <windows.h>

#include <string>

// True when the calling process's token is a member of the local
// Administrators group. Any failure of the test counts as "not a member".
bool IsAdministrator();

struct RelaunchResult {
  bool started = false;
  DWORD error = 0;     // why it did not start (ERROR_CANCELLED: refused)
  DWORD exitCode = 0;  // the elevated copy's, once it has ended
};

// Starts this executable again through the "runas" verb with commandTail
// followed by the relaunch marker, and waits for that copy to end.
// zoneChecksKnown: the system has the shell's zone checks (XP and later),
// which are then skipped, so a downloaded program does not ask a second
// time before the elevation prompt.
RelaunchResult RelaunchElevated(HINSTANCE instance, const std::string& commandTail,
                                bool zoneChecksKnown);

#endif
