// The work folder's rules that need no Windows: its name, its security
// descriptor's text and the path check, tested natively.
#ifndef RAVEN_PAYLOAD_WORK_FOLDER_RULES_H
#define RAVEN_PAYLOAD_WORK_FOLDER_RULES_H

#include <cstdint>
#include <functional>
#include <string>

#include "launcher/setup_command.h"

// The folder's name: the first three characters of prefix, all 64 bits of
// number as 16 upper-case hexadecimal digits, ".tmp". A name of 16 bits can
// be taken in advance, all 65,536 of it, by anyone who shares the folder.
std::string WorkFolderName(const std::string& prefix, std::uint64_t number);

// The descriptor the folder is made with. Only SYSTEM and the Administrators
// get access, nothing is inherited; elevated, the Administrators also own
// it (a user who owned it could rewrite the DACL). Without elevation (update
// mode) the user's SID (non-empty) is added and the default owner kept.
std::string WorkFolderSddl(bool administrator, const std::string& userSid);

// The attribute bits of a path, or kNoAttributes when they cannot be read.
using AttributesOf = std::function<std::uint32_t(const std::string&)>;
constexpr std::uint32_t kNoAttributes = 0xFFFFFFFFu;
constexpr std::uint32_t kReparsePointAttribute = 0x400;

// The first folder on path (a drive-letter path, "X:\..."), from the drive's
// first child to path itself, that is a junction or symbolic link or whose
// attributes cannot be read; empty when there is none. Anything but a
// drive-letter path is returned whole: it is not checked and not used.
std::string FirstUnsafeFolder(const std::string& path, LeadBytePredicate isLeadByte,
                              const AttributesOf& attributes);

// "X:\" of a drive-letter path; empty for anything else (network and device
// paths, relative ones).
std::string DriveRootOf(const std::string& path);

#endif
