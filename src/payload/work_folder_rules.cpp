#include "payload/work_folder_rules.h"

#include <cstdio>

std::string WorkFolderName(const std::string& prefix, std::uint64_t number,
                           LeadBytePredicate isLeadByte) {
  char digits[17] = {};
  std::snprintf(digits, sizeof digits, "%08X%08X", static_cast<unsigned>(number >> 32),
                static_cast<unsigned>(number & 0xFFFFFFFFu));
  // Half a character would pair with the first digit into some other one.
  size_t end = 0;
  for (int characters = 0; characters < 3 && end < prefix.size(); ++characters) {
    const bool lead = isLeadByte != nullptr && isLeadByte(static_cast<unsigned char>(prefix[end]));
    if (lead && end + 1 >= prefix.size()) break;  // a lead byte without its partner
    end += lead ? 2 : 1;
  }
  return prefix.substr(0, end) + digits + ".tmp";
}

std::string WorkFolderSddl(bool administrator, const std::string& userSid) {
  const std::string dacl = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  if (administrator) return "O:BA" + dacl;
  return dacl + "(A;OICI;FA;;;" + userSid + ")";
}

namespace {

bool IsDriveLetterPath(const std::string& path) {
  const char c = path.size() >= 3 ? path[0] : '\0';
  return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && path[1] == ':' &&
         path[2] == '\\';
}

}  // namespace

std::string DriveRootOf(const std::string& path) {
  return IsDriveLetterPath(path) ? path.substr(0, 3) : std::string();
}

std::string FirstUnsafeFolder(const std::string& path, LeadBytePredicate isLeadByte,
                              const AttributesOf& attributes) {
  if (!IsDriveLetterPath(path)) return path;
  // Every folder up to each real backslash after the root, then the whole
  // path; the trail byte of a double-byte character may be 0x5C.
  bool afterSeparator = true;
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '\\') {
      afterSeparator = false;
      if (isLeadByte != nullptr && isLeadByte(static_cast<unsigned char>(path[i])) &&
          i + 1 < path.size())
        ++i;
      continue;
    }
    if (afterSeparator) continue;  // the root, or a doubled or final backslash
    afterSeparator = true;
    const std::string folder = path.substr(0, i);
    const std::uint32_t found = attributes(folder);
    if (found == kNoAttributes || (found & kReparsePointAttribute) != 0) return folder;
  }
  return std::string();
}

Removal RemovalOf(std::uint32_t attributes) {
  if ((attributes & kReparsePointAttribute) != 0) return Removal::kLink;
  return (attributes & kDirectoryAttribute) != 0 ? Removal::kFolder : Removal::kFile;
}

std::uint32_t EmptyFolder(const std::string& folder, FolderOperations& operations) {
  struct Level {
    std::string path;
    FolderEntry self;  // how the level's own folder is removed once empty
    std::vector<FolderEntry> entries;
    size_t next;
  };
  std::uint32_t first = 0;
  auto note = [&first](std::uint32_t error) {
    if (first == 0) first = error;
  };
  std::vector<Level> levels;
  levels.push_back(Level{folder, FolderEntry{std::string(), kDirectoryAttribute}, {}, 0});
  note(operations.List(folder, &levels.back().entries));
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.next == level.entries.size()) {
      const Level done = level;
      levels.pop_back();
      if (!levels.empty()) note(operations.Remove(done.path, done.self, Removal::kFolder));
      continue;
    }
    const FolderEntry entry = level.entries[level.next++];
    const std::string path = level.path + "\\" + entry.name;
    const Removal removal = RemovalOf(entry.attributes);
    if (removal != Removal::kFolder) {
      note(operations.Remove(path, entry, removal));
      continue;
    }
    Level inner{path, entry, {}, 0};
    const std::uint32_t listed = operations.List(path, &inner.entries);
    note(listed);
    // A folder that cannot be listed is still tried: it may be empty.
    levels.push_back(std::move(inner));
  }
  return first;
}
