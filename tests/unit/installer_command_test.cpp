#include "framework/install_command.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(InstallerCommandLine, FolderStandsBetweenDoubledQuotes) {
  EXPECT_EQ(FrameworkUnpackCommandLine("C:\\Temp\\Rav1f\\dotnetfx\\"),
            " /q:a /c:\"msiexec /q /a netfx.msi "
            "TARGETDIR=\"\"C:\\Temp\\Rav1f\\dotnetfx\\\"\"\"");
}

TEST(InstallerCommandLine, FolderIsTakenVerbatim) {
  // Blanks, percent signs and long names are not format input.
  const std::string folder =
      "C:\\Documents and Settings\\a %s %d user\\" + std::string(300, 'x') +
      "\\dotnetfx\\";
  const std::string line = FrameworkUnpackCommandLine(folder);
  const std::string prefix = " /q:a /c:\"msiexec /q /a netfx.msi TARGETDIR=\"\"";
  ASSERT_EQ(line.size(), prefix.size() + folder.size() + 3);
  EXPECT_EQ(line.compare(0, prefix.size(), prefix), 0);
  EXPECT_EQ(line.substr(prefix.size(), folder.size()), folder);
  EXPECT_EQ(line.substr(line.size() - 4), "\\\"\"\"");
}

}  // namespace
