// The framework's command-line parser: one ParseParam call per argument,
// a leading "/" or "-" removed and reported as the switch flag.
// Platform-free so its rules are tested natively.
#ifndef RAVEN_APPKIT_COMMAND_LINE_H
#define RAVEN_APPKIT_COMMAND_LINE_H

#include <string>
#include <vector>

class CCommandLineInfo {
 public:
  virtual ~CCommandLineInfo() = default;
  virtual void ParseParam(const char* param, bool isSwitch, bool isLast) = 0;
};

// Feeds args (the program's arguments, program name excluded) to info.
void ParseCommandLine(const std::vector<std::string>& args,
                      CCommandLineInfo& info);

#endif
