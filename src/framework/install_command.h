// How the install worker asks the framework redistributable to unpack
// itself (platform-free).
#ifndef RAVEN_FRAMEWORK_INSTALL_COMMAND_H
#define RAVEN_FRAMEWORK_INSTALL_COMMAND_H

#include <string>

// The unpack folder's name inside the work folder, and the package the
// redistributable leaves there.
extern const char kUnpackFolderName[];  // "dotnetfx"
extern const char kFrameworkPackageName[];  // "netfx.msi"
// The temporary folder the redistributable gets, inside the work folder.
extern const char kUnpackTempFolderName[];  // "temp"

// The command line given to the redistributable, leading space included:
// it extracts silently and has msiexec run an administrative installation
// of the package into `folder` (which ends in a backslash). Quotes inside
// the /c: argument are doubled, as the redistributable's extractor expects.
std::string FrameworkUnpackCommandLine(const std::string& folder);

// The installer's command line: the installer must never restart the
// machine by itself; a restart it needs is reported, never started.
extern const char kFrameworkInstallProperties[];  // "REBOOT=ReallySuppress"

// True for an installer result that leaves the framework installed: 0, and
// 3010 or 1641, which only add that a restart is needed.
bool FrameworkInstalledBy(unsigned long installerResult);
bool FrameworkNeedsRestartAfter(unsigned long installerResult);

#endif
