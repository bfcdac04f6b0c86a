#include "launcher/setup_command.h"

#include <gtest/gtest.h>

namespace {

// Lead bytes of the Japanese double-byte code page; its second bytes
// include 0x5C, the backslash.
bool ShiftJisLead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

TEST(SetupCommandLine, PutsOneBlankBeforeTheBootstrappersArguments) {
  EXPECT_EQ(" ", SetupCommandLine(""));
  EXPECT_EQ(" ", SetupCommandLine(nullptr));
  EXPECT_EQ(" alpha beta", SetupCommandLine("alpha beta"));
  // Whatever the user typed passes unchanged, quotes and the relaunch
  // marker included.
  EXPECT_EQ(" \"C:\\a b\\x.txt\" -update/impersonated",
            SetupCommandLine("\"C:\\a b\\x.txt\" -update/impersonated"));
}

TEST(WorkingFolderOf, CutsAtTheLastBackslashOnly) {
  EXPECT_EQ("C:\\Temp\\Rav1a", WorkingFolderOf("C:\\Temp\\Rav1a\\setup.exe", nullptr));
  // A program inside a folder of the archive is named with "/": the work
  // folder stays the working folder.
  EXPECT_EQ("C:\\Temp\\Rav1a", WorkingFolderOf("C:\\Temp\\Rav1a\\bin/setup.exe", nullptr));
  // An empty program name leaves the work folder itself.
  EXPECT_EQ("C:\\Temp\\Rav1a", WorkingFolderOf("C:\\Temp\\Rav1a\\", nullptr));
  EXPECT_EQ("", WorkingFolderOf("setup.exe", nullptr));
  EXPECT_EQ("", WorkingFolderOf("", nullptr));
  EXPECT_EQ("", WorkingFolderOf("\\setup.exe", nullptr));
}

TEST(WorkingFolderOf, SkipsBackslashBytesInsideDoubleByteCharacters) {
  // "C:\<0x95 0x5C>\setup.exe": the 0x5C after the lead byte is half of a
  // character, not a separator.
  const std::string folder = std::string("C:\\\x95\x5C", 5);
  EXPECT_EQ(folder, WorkingFolderOf(folder + "\\setup.exe", ShiftJisLead));
  // The same character as the last thing in the path is no separator either.
  EXPECT_EQ("C:", WorkingFolderOf(folder, ShiftJisLead));
  // In a single-byte code page the same bytes do separate.
  EXPECT_EQ(std::string("C:\\\x95", 4), WorkingFolderOf(folder, nullptr));
  // A lead byte cut off at the end of the path must not be read past.
  EXPECT_EQ("C:\\dir", WorkingFolderOf(std::string("C:\\dir\\\x95", 8), ShiftJisLead));
}

}  // namespace
