#include "launcher/setup_command.h"

std::string SetupCommandLine(const char* tail) {
  std::string commandLine(" ");
  if (tail != nullptr) commandLine += tail;
  return commandLine;
}

std::string WorkingFolderOf(const std::string& programPath,
                            LeadBytePredicate isLeadByte) {
  std::string::size_type lastBackslash = std::string::npos;
  std::string::size_type i = 0;
  while (i < programPath.size()) {
    const unsigned char c = static_cast<unsigned char>(programPath[i]);
    if (c == '\\') lastBackslash = i;
    // A lead byte swallows the byte after it; a lead byte at the very end
    // has no partner and ends the walk.
    i += (isLeadByte != nullptr && isLeadByte(c)) ? 2 : 1;
  }
  if (lastBackslash == std::string::npos) return std::string();
  return programPath.substr(0, lastBackslash);
}
