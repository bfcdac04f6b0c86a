// The work folder: a fresh folder under the user's temporary folder that
// the payload is unpacked into and the setup program runs from.
#ifndef RAVEN_PAYLOAD_WORK_FOLDER_H
#define RAVEN_PAYLOAD_WORK_FOLDER_H

#include <functional>
#include <string>

class CSessionLog;

// Returns the folder's path followed by one backslash, also when creating
// it failed (that is only recorded). *created tells whether this run made
// the folder: one it did not make must not be used or deleted. The folder
// is named from the system's cryptographic generator and carries a
// protected DACL (SYSTEM and Administrators only). Throws
// CFileException(ERROR_NO_UNICODE_TRANSLATION) when the temporary folder
// has no name the ANSI code page can write (see TempFolderForAnsi).
std::string CreateWorkFolder(const std::string& prefix, CSessionLog& log,
                             bool* created = nullptr);
// The same with the unique numbers taken from draw instead of the
// cryptographic generator (tests use it to make a name be taken).
std::string CreateWorkFolder(const std::string& prefix, CSessionLog& log,
                             bool* created, const std::function<unsigned()>& draw);
void DeleteWorkFolder(const std::string& path, CSessionLog& log);

// How many names CreateWorkFolder tries while the names it draws are taken.
constexpr int kWorkFolderAttempts = 16;

#endif
