// How the setup program is started: its command line and its working folder.
// Platform-free, so the text handling is tested natively.
#ifndef RAVEN_LAUNCHER_SETUP_COMMAND_H
#define RAVEN_LAUNCHER_SETUP_COMMAND_H

#include <string>

// The setup program receives the bootstrapper's own arguments behind one
// blank, so that its argument parser sees the same words the user typed;
// no arguments give a command line of one blank. A null tail counts as empty.
std::string SetupCommandLine(const char* tail);

// Tells whether a byte opens a two-byte character in the ANSI code page.
using LeadBytePredicate = bool (*)(unsigned char);

// The system's answer for the ANSI code page (Windows builds only).
bool IsAnsiLeadByte(unsigned char c);

// The program path up to, not including, its last backslash; empty when it
// has none. In a double-byte code page the second byte of a character may
// be 0x5C, so the path is walked character by character with isLeadByte
// (null: a single-byte code page). Only backslashes separate: a "/" inside
// the program's name stays part of the name.
std::string WorkingFolderOf(const std::string& programPath,
                            LeadBytePredicate isLeadByte);

#endif
