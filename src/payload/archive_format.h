// The payload archive's byte layout, shared by the bootstrapper's reader and
// the zcspack packer so the two cannot drift apart. Platform-free.
#ifndef RAVEN_PAYLOAD_ARCHIVE_FORMAT_H
#define RAVEN_PAYLOAD_ARCHIVE_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace archive {

// "ZCS" and a zero byte, read as one little-endian 32-bit value.
constexpr uint32_t kMagic = 0x0053435Au;
constexpr size_t kHeaderSize = 12;

enum class Problem {
  kNone,
  kNoMagic,          // too short for a header, or not our magic
  kStreamPastEnd,    // the stream size field runs past the resource
  kInflateFailed,    // uncompress did not return Z_OK
  kTableCut,         // a count or length runs past the inflated bytes
  kLaunchIndex,      // launch index not below the entry count
  kBadName,          // a name that could lead out of the work folder, a
                     // device, or a second name for one file
};

struct Entry {
  std::string name;   // as stored, with "/" separators
  size_t offset = 0;  // of the data within the inflated table
  uint32_t size = 0;
};

struct Table {
  std::vector<Entry> entries;
  uint32_t launchIndex = 0;
};

// The inflated file table; entries point into it.
struct Inflated {
  std::unique_ptr<unsigned char[]> bytes;
  size_t size = 0;  // bytes uncompress actually produced
};

// What went wrong, worded for a person; detail names the entry if any.
struct Verdict {
  Problem problem = Problem::kNone;
  std::string detail;
  bool ok() const { return problem == Problem::kNone; }
  std::string Message() const;
};

// Reads the header and inflates the stream. Throws std::bad_alloc when the
// announced table size cannot be had.
Verdict InflateArchive(const void* resource, size_t resourceSize,
                       Inflated* out);
// Walks the inflated table; every count and length is bounded by size, the
// launch index by the entry count, and every name must be safe.
Verdict ParseTable(const unsigned char* bytes, size_t size, Table* table);
// Both of the above: nothing is trusted until the whole table has passed.
Verdict ReadArchive(const void* resource, size_t resourceSize, Inflated* out,
                    Table* table);

// A name stays inside the folder it is joined to and names a plain file:
// not empty, relative (no leading separator, no drive or stream colon), no
// component that Windows would read as "." or "..", ends in a dot or a
// blank, or names a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9). The table
// also refuses two names for one file ("/" read as "\", case ignored).
bool IsSafeName(const std::string& name, std::string* why = nullptr);

// The writing side, for the packer, tests and benchmarks.
struct PackEntry {
  std::string name;
  std::vector<unsigned char> data;
};
std::vector<unsigned char> BuildTable(const std::vector<PackEntry>& entries,
                                      uint32_t launchIndex);
// Header plus a zlib stream of table at the given zlib level (-1: default,
// which yields the 78 9C stream header). Throws std::length_error when the
// table does not fit the 32-bit size fields.
std::vector<unsigned char> CompressTable(const std::vector<unsigned char>& table,
                                         int level = -1);

}  // namespace archive

#endif
