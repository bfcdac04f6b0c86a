// The work folder: a fresh folder under the user's temporary folder that
// the payload is unpacked into and the setup program runs from.
#ifndef RAVEN_PAYLOAD_WORK_FOLDER_H
#define RAVEN_PAYLOAD_WORK_FOLDER_H

#include <string>

#include "appkit/handle.h"

class CSessionLog;

// Returns the folder's path followed by one backslash, also when creating
// it failed (that is only recorded). *created tells whether this run made
// the folder: one it did not make must not be used or deleted. The folder
// is named from the system's cryptographic generator and carries a
// protected DACL (SYSTEM and Administrators only). *hold keeps it open from
// here on, so that neither it nor a folder above it can be renamed and
// another put in its place; DeleteWorkFolder lets go just before deleting.
// On a volume where a DACL means nothing the Windows folder's Temp is the
// parent instead; a path through a junction or link is never used. Throws
// CFileException(ERROR_NO_UNICODE_TRANSLATION) when the temporary folder
// has no name the ANSI code page can write.
std::string CreateWorkFolder(const std::string& prefix, CSessionLog& log, bool* created,
                             ScopedKernelHandle* hold);
void DeleteWorkFolder(const std::string& path, CSessionLog& log,
                      ScopedKernelHandle* hold = nullptr);

// The descriptor CreateWorkFolder would give a folder now, as text (owner
// and DACL); empty when it cannot be built.
std::string WorkFolderSecurityText();

// How many names CreateWorkFolder tries while the names it draws are taken.
constexpr int kWorkFolderAttempts = 16;

#endif
