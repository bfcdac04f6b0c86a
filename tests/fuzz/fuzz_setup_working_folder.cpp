// The working folder is cut out of a path read from the payload archive,
// the work folder's name out of the product's name: whatever the bytes,
// each is a proper prefix and nothing is read past the end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher/setup_command.h"
#include "payload/work_folder_rules.h"

namespace {
bool ShiftJisLead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size);
  for (LeadBytePredicate lead : {static_cast<LeadBytePredicate>(nullptr), &ShiftJisLead}) {
    const std::string folder = WorkingFolderOf(path, lead);
    if (folder.size() > path.size() || path.compare(0, folder.size(), folder) != 0)
      std::abort();
    if (!folder.empty() && path[folder.size()] != '\\') std::abort();
    // The work folder's name takes whole characters of it, at most three.
    const std::string name = WorkFolderName(path, 0, lead);
    const size_t kept = name.size() - 20;
    if (name.size() < 20 || kept > 6 || path.compare(0, kept, name, 0, kept) != 0 ||
        (lead == nullptr && kept != (path.size() < 3 ? path.size() : 3)))
      std::abort();
  }
  return 0;
}
