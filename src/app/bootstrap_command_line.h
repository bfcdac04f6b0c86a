// Start-up's command-line rules, free of Windows so they are tested
// natively: the one switch the bootstrapper knows, and the marker that an
// elevated relaunch appends to its own arguments.
#ifndef RAVEN_APP_BOOTSTRAP_COMMAND_LINE_H
#define RAVEN_APP_BOOTSTRAP_COMMAND_LINE_H

#include <string>

#include "appkit/command_line.h"

class CBootStrapCommandLineInfo : public CCommandLineInfo {
 public:
  // The switches, each after one "/" or "-" and in any letter case:
  // "update" (update mode), "quiet" or "q" (the whole course without a
  // window), "?" or "help". Every argument, these included, is still
  // passed on to the product's setup program.
  void ParseParam(const char* param, bool isSwitch, bool isLast) override;

  int update = 0;
  int quiet = 0;
  int help = 0;
};

// The marker that tells a copy it was started by an elevated relaunch.
extern const char kImpersonatedMarker[];

// The parameters for the elevated copy: the tail as received, the marker
// appended without a blank (the product's setup program has always been
// given it in this form).
std::string RelaunchParameters(const std::string& commandTail);

// True for a copy that an elevated relaunch started: its tail ends with
// the marker.
bool IsRelaunchedCopy(const std::string& commandTail);

#endif
