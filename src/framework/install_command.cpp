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
