// Is the framework installed, and does a redistributable lie beside us?
#ifndef RAVEN_FRAMEWORK_DETECTION_H
#define RAVEN_FRAMEWORK_DETECTION_H

#include <string>

// The redistributable's file name: the downloaded file, the copy beside the
// program and the program the install worker starts.
extern const char kRedistributableName[];  // "dotnetfx.exe"

bool IsFrameworkMissing();
// The running program's folder without a trailing backslash.
std::string GetProgramFolder();
// True when the file can be opened for reading (without sharing).
bool FileExists(const std::string& path);
// Where a redistributable the user put beside the program lies.
std::string RedistributableBesideProgram();

#endif
