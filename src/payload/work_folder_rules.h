// The work folder's rules that need no Windows: its name, its security
// descriptor's text and the path check, tested natively.
#ifndef RAVEN_PAYLOAD_WORK_FOLDER_RULES_H
#define RAVEN_PAYLOAD_WORK_FOLDER_RULES_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "launcher/setup_command.h"

// The folder's name: the first three characters of prefix (a localised
// product name may be double-byte: isLeadByte as for WorkingFolderOf, and
// a character is never cut in half), all 64 bits of number as 16
// upper-case hexadecimal digits, ".tmp". A name of 16 bits can be taken in
// advance, all 65,536 of it, by anyone who shares the folder.
std::string WorkFolderName(const std::string& prefix, std::uint64_t number,
                           LeadBytePredicate isLeadByte);

// The descriptor the folder is made with. Only SYSTEM and the Administrators
// get access, nothing is inherited; elevated, the Administrators also own
// it (a user who owned it could rewrite the DACL). Without elevation (update
// mode) the user's SID (non-empty) is added and the default owner kept.
std::string WorkFolderSddl(bool administrator, const std::string& userSid);

// The attribute bits of a path, or kNoAttributes when they cannot be read.
using AttributesOf = std::function<std::uint32_t(const std::string&)>;
constexpr std::uint32_t kNoAttributes = 0xFFFFFFFFu;
constexpr std::uint32_t kReparsePointAttribute = 0x400;

// The attribute bits the deletion acts on.
constexpr std::uint32_t kDirectoryAttribute = 0x10;

// How one entry of the work folder is removed. A reparse point (junction,
// symbolic link, mount point) is removed as the link it is, whatever its
// directory bit says: entered, it would lead the deletion to whatever
// folder its maker chose.
enum class Removal { kFile, kLink, kFolder };
Removal RemovalOf(std::uint32_t attributes);

struct FolderEntry {
  std::string name;
  std::uint32_t attributes;
};

// What the deletion does to the file system; paths are folder + "\\" + name.
class FolderOperations {
 public:
  virtual ~FolderOperations() = default;
  // The entries of folder without "." and ".."; 0 or an error code.
  virtual std::uint32_t List(const std::string& folder, std::vector<FolderEntry>* entries) = 0;
  // Removes path (for kFolder an emptied folder); 0 or an error code.
  virtual std::uint32_t Remove(const std::string& path, const FolderEntry& entry,
                               Removal removal) = 0;
};

// Removes everything inside folder, each folder's content before the
// folder, never listing what RemovalOf calls a link. Goes on past a
// failure (as much as can go, goes); returns the first error, 0 when
// everything went. Iterative: a deep tree costs no stack.
std::uint32_t EmptyFolder(const std::string& folder, FolderOperations& operations);

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
