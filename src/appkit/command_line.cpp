#include "appkit/command_line.h"

void ParseCommandLine(const std::vector<std::string>& args,
                      CCommandLineInfo& info) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool isSwitch = !arg.empty() && (arg[0] == '/' || arg[0] == '-');
    const char* text = arg.c_str() + (isSwitch ? 1 : 0);
    info.ParseParam(text, isSwitch, i + 1 == args.size());
  }
}
