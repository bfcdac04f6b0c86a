// Opening a document or address through the desktop shell's own process.
#ifndef RAVEN_APPKIT_DESKTOP_SHELL_H
#define RAVEN_APPKIT_DESKTOP_SHELL_H

#include <string>

// True when this process runs elevated with a split token (a filtered one
// for the same user exists): then the desktop shell runs with the user's
// normal rights. False on systems without split tokens (Windows 2000, XP).
bool IsElevatedWithSplitToken();

// Has the desktop shell (the user's unelevated Explorer) open target, so
// whatever program it picks runs with the shell's rights, not ours. False
// when there is no such shell or it refused; nothing was started then.
bool OpenThroughDesktopShell(const std::string& target);

#endif
