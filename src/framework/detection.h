// Is the framework installed, and does a redistributable lie beside us?
#ifndef RAVEN_FRAMEWORK_DETECTION_H
#define RAVEN_FRAMEWORK_DETECTION_H

#include <string>

// The redistributable's file name: the downloaded file, the copy beside the
// program and the program the install worker starts.
extern const char kRedistributableName[];  // "dotnetfx.exe"
// No redistributable is anywhere near this size: a download or a copy that
// would take more fails, so nobody can fill the disk through us.
constexpr unsigned long kMaxRedistributableBytes = 512ul * 1024 * 1024;

bool IsFrameworkMissing();
// The running program's folder without a trailing backslash.
std::string GetProgramFolder();
// True when the file can be opened for reading (without sharing).
bool FileExists(const std::string& path);
// Where a redistributable the user put beside the program lies.
std::string RedistributableBesideProgram();

class CSessionLog;
// Takes a redistributable lying beside the program: its bytes are copied
// into a file made new at target (in the work folder, normal attributes,
// at most kMaxRedistributableBytes) and kept only when the copy's SHA-256 equals one of
// pins (the list LoadPinnedRedistHash gives). True when target now holds
// such a copy; otherwise target is gone and, when a copy lay beside the
// program, an info record says why it was ignored.
bool TakeRedistributableBesideProgram(const std::string& target,
                                      const std::string& pins, CSessionLog& log);

#endif
