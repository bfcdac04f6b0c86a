#include "framework/install_command.h"

const char kUnpackFolderName[] = "dotnetfx";
const char kFrameworkPackageName[] = "netfx.msi";
const char kUnpackTempFolderName[] = "temp";

std::string FrameworkUnpackCommandLine(const std::string& folder) {
  // Built by concatenation rather than printf so a folder of any length,
  // or one holding a '%', comes through unchanged.
  return std::string(" /q:a /c:\"msiexec /q /a netfx.msi TARGETDIR=\"\"") +
         folder + "\"\"\"";
}

const char kFrameworkInstallProperties[] = "REBOOT=ReallySuppress";

namespace {
const unsigned long kRebootRequired = 3010;   // ERROR_SUCCESS_REBOOT_REQUIRED
const unsigned long kRebootInitiated = 1641;  // ERROR_SUCCESS_REBOOT_INITIATED
}  // namespace

bool FrameworkNeedsRestartAfter(unsigned long installerResult) {
  return installerResult == kRebootRequired || installerResult == kRebootInitiated;
}

bool FrameworkInstalledBy(unsigned long installerResult) {
  return installerResult == 0 || FrameworkNeedsRestartAfter(installerResult);
}
