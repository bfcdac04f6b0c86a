// The work folder: a fresh folder that the payload is unpacked into and the
// setup program runs from.
#ifndef RAVEN_PAYLOAD_WORK_FOLDER_H
#define RAVEN_PAYLOAD_WORK_FOLDER_H

#include <string>

#include "appkit/handle.h"

class CSessionLog;

// Returns the folder's path followed by one backslash, also when creating
// it failed (that is only recorded). *created tells whether this run made
// the folder: one it did not make must not be used or deleted. The folder
// is named from the system's cryptographic generator, carries a protected
// DACL (SYSTEM and Administrators only) and is made and opened in one call
// into *hold, which keeps it from being renamed and another put in its
// place until DeleteWorkFolder. An administrator's run makes it in the
// Windows folder's Temp; an unelevated one in the user's temporary folder,
// or the Windows folder's Temp on a volume where a DACL means nothing. A
// path through a junction or link is never used. Throws
// CFileException(ERROR_NO_UNICODE_TRANSLATION) when the temporary folder
// has no name the ANSI code page can write.
std::string CreateWorkFolder(const std::string& prefix, CSessionLog& log, bool* created,
                             ScopedKernelHandle* hold);
// Empties the folder while *hold still holds it, never entering a link,
// then lets go and removes it.
void DeleteWorkFolder(const std::string& path, CSessionLog& log,
                      ScopedKernelHandle* hold = nullptr);

// Test seam: when set, called with made false just before the creation
// call and with made true right after it, with the folder's name.
extern void (*g_workFolderCreationHookForTesting)(bool made, const std::string& name);

// The descriptor CreateWorkFolder would give a folder now, as text (owner
// and DACL); empty when it cannot be built.
std::string WorkFolderSecurityText();

// How many names CreateWorkFolder tries while the names it draws are taken.
constexpr int kWorkFolderAttempts = 16;

#endif
