// The administrator test and the elevated relaunch of start-up.
#ifndef RAVEN_APP_ELEVATION_H
#define RAVEN_APP_ELEVATION_H

#include <windows.h>

#include <string>

// True when the calling process's token is a member of the local
// Administrators group. Any failure of the test counts as "not a member".
bool IsAdministrator();

// Starts this executable again through the "runas" verb with commandTail
// followed by the relaunch marker, and waits for that copy to end. A
// refused or failed launch returns at once; nothing is reported.
void RelaunchElevated(HINSTANCE instance, const std::string& commandTail);

#endif
