// The payload archive reader on arbitrary bytes: taken as an inflated file
// table, and as a whole archive when its header announces a table small
// enough to allocate here.
#include <cstddef>
#include <cstdint>

#include "payload/archive_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  archive::Table table;
  archive::Verdict v = archive::ParseTable(data, size, &table);
  if (v.ok()) {
    // Everything a valid table hands out must lie within the input.
    for (const archive::Entry& e : table.entries) {
      if (e.offset > size || e.size > size - e.offset) __builtin_trap();
      if (!archive::IsSafeName(e.name)) __builtin_trap();
    }
    if (table.launchIndex >= table.entries.size()) __builtin_trap();
  }
  if (size >= archive::kHeaderSize) {
    uint32_t announced = data[4] | data[5] << 8 | data[6] << 16 | uint32_t(data[7]) << 24;
    if (announced <= (1u << 20)) {
      archive::Inflated inflated;
      archive::Table whole;
      if (archive::ReadArchive(data, size, &inflated, &whole).ok() &&
          whole.launchIndex >= whole.entries.size())
        __builtin_trap();
    }
  }
  return 0;
}
