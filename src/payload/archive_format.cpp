#include "payload/archive_format.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <new>
#include <set>
#include <stdexcept>

namespace archive {

namespace {

uint32_t ReadU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void AppendU32(std::vector<unsigned char>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// A cursor that refuses to move past the bytes it was given.
class Reader {
 public:
  Reader(const unsigned char* bytes, size_t size) : bytes_(bytes), size_(size) {}
  bool U32(uint32_t* v) {
    if (size_ - pos_ < 4) return false;
    *v = ReadU32(bytes_ + pos_);
    pos_ += 4;
    return true;
  }
  bool Skip(uint32_t n, size_t* start) {
    if (size_ - pos_ < n) return false;
    *start = pos_;
    pos_ += n;
    return true;
  }
  size_t Remaining() const { return size_ - pos_; }
  const unsigned char* At(size_t offset) const { return bytes_ + offset; }

 private:
  const unsigned char* bytes_;
  size_t size_;
  size_t pos_ = 0;
};

Verdict Fail(Problem p, std::string detail = std::string()) {
  Verdict v;
  v.problem = p;
  v.detail = std::move(detail);
  return v;
}

// Windows drops trailing dots and spaces from a path component, so ".. " and
// "..." act like "..": a component needs some other character to be a name.
bool IsRealComponent(const std::string& name, size_t begin, size_t end) {
  for (size_t i = begin; i < end; ++i)
    if (name[i] != '.' && name[i] != ' ') return true;
  return false;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Windows opens a device, not a file, for these names in any component,
// whatever extension follows and whatever blanks precede it.
bool IsDeviceName(const std::string& name, size_t begin, size_t end) {
  size_t stem = std::min(name.find('.', begin), end);
  while (stem > begin && name[stem - 1] == ' ') --stem;
  std::string word;
  for (size_t i = begin; i < stem; ++i) word += AsciiLower(name[i]);
  if (word == "con" || word == "prn" || word == "aux" || word == "nul") return true;
  return word.size() == 4 && (word.compare(0, 3, "com") == 0 || word.compare(0, 3, "lpt") == 0) &&
         word[3] >= '1' && word[3] <= '9';
}

// The file a name lands on: Windows reads "/" as "\" and ignores case.
std::string FoldedName(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) c = c == '/' ? '\\' : AsciiLower(c);
  return folded;
}

bool ReadEntry(Reader* r, uint32_t index, Entry* e, Verdict* v) {
  uint32_t nameLength = 0;
  size_t nameAt = 0;
  if (!r->U32(&nameLength) || !r->Skip(nameLength, &nameAt)) {
    *v = Fail(Problem::kTableCut, "name of entry " + std::to_string(index));
    return false;
  }
  e->name.assign(reinterpret_cast<const char*>(r->At(nameAt)), nameLength);
  std::string why;
  if (!IsSafeName(e->name, &why)) {
    *v = Fail(Problem::kBadName, "\"" + e->name + "\": " + why);
    return false;
  }
  if (!r->U32(&e->size) || !r->Skip(e->size, &e->offset)) {
    *v = Fail(Problem::kTableCut, "data of \"" + e->name + "\"");
    return false;
  }
  return true;
}

}  // namespace

std::string Verdict::Message() const {
  std::string text;
  switch (problem) {
    case Problem::kNone: return "valid archive";
    case Problem::kNoMagic: text = "does not start with the archive magic 5A 43 53 00"; break;
    case Problem::kStreamPastEnd: text = "the stream size runs past the end of the file"; break;
    case Problem::kInflateFailed: text = "the zlib stream does not inflate"; break;
    case Problem::kTableCut: text = "the file table runs past the inflated bytes"; break;
    case Problem::kLaunchIndex: text = "the launch index is not below the entry count"; break;
    case Problem::kBadName: text = "an entry name is unsafe or taken twice"; break;
  }
  return detail.empty() ? text : text + " (" + detail + ")";
}

bool IsSafeName(const std::string& name, std::string* why) {
  auto refuse = [why](const char* text) {
    if (why != nullptr) *why = text;
    return false;
  };
  if (name.empty()) return refuse("empty name");
  if (name[0] == '/' || name[0] == '\\') return refuse("leading separator");
  if (name.find(':') != std::string::npos) return refuse("drive or stream colon");
  if (name.find('\0') != std::string::npos) return refuse("zero byte");
  size_t begin = 0;
  for (;;) {
    size_t end = name.find_first_of("/\\", begin);
    if (end == std::string::npos) end = name.size();
    if (!IsRealComponent(name, begin, end))
      return refuse("empty, \".\" or \"..\" component");
    // Windows drops the trailing dot or blank, so the file written would
    // not be the one named (and could collide with another entry).
    if (name[end - 1] == '.' || name[end - 1] == ' ')
      return refuse("component ending in a dot or a blank");
    if (IsDeviceName(name, begin, end)) return refuse("device name");
    if (end == name.size()) return true;
    begin = end + 1;
  }
}

// Archive header, at the start of the resource (all integers unsigned 32-bit
// little-endian, no padding anywhere):
//   0   4  magic 5A 43 53 00
//   4   4  inflated size: bytes of the file table once inflated
//   8   4  stream size: bytes of the zlib stream that follows
//   12  .. zlib stream (RFC 1950), inflating to the file table
// File table:
//   4  entry count
//   per entry: 4 name length N, N name bytes ("/" separated, no zero),
//              4 data length L, L data bytes
//   4  launch index (zero-based entry of the setup program)
Verdict InflateArchive(const void* resource, size_t resourceSize,
                       Inflated* out) {
  const unsigned char* bytes = static_cast<const unsigned char*>(resource);
  if (resourceSize < kHeaderSize || ReadU32(bytes) != kMagic)
    return Fail(Problem::kNoMagic);
  uint32_t inflatedSize = ReadU32(bytes + 4);
  uint32_t streamSize = ReadU32(bytes + 8);
  if (streamSize > resourceSize - kHeaderSize) return Fail(Problem::kStreamPastEnd);
  out->bytes.reset(new unsigned char[inflatedSize == 0 ? 1 : inflatedSize]);
  uLongf produced = inflatedSize;
  int rc = uncompress(out->bytes.get(), &produced, bytes + kHeaderSize, streamSize);
  if (rc != Z_OK) {
    out->bytes.reset();
    return Fail(Problem::kInflateFailed, "zlib result " + std::to_string(rc));
  }
  out->size = produced;
  return Verdict();
}

Verdict ParseTable(const unsigned char* bytes, size_t size, Table* table) {
  Reader r(bytes, size);
  uint32_t count = 0;
  if (!r.U32(&count)) return Fail(Problem::kTableCut, "entry count");
  // Each entry needs at least its two length fields: a count the bytes cannot
  // hold is refused before anything is allocated for it.
  if (count > r.Remaining() / 8) return Fail(Problem::kTableCut, "entry count");
  table->entries.clear();
  table->entries.resize(count);
  // Two names for one file would silently lose the earlier one.
  std::set<std::string> seen;
  for (uint32_t i = 0; i < count; ++i) {
    Verdict v;
    if (!ReadEntry(&r, i, &table->entries[i], &v)) return v;
    if (!seen.insert(FoldedName(table->entries[i].name)).second)
      return Fail(Problem::kBadName, "\"" + table->entries[i].name + "\": duplicate name");
  }
  if (!r.U32(&table->launchIndex)) return Fail(Problem::kTableCut, "launch index");
  if (table->launchIndex >= count)
    return Fail(Problem::kLaunchIndex, std::to_string(table->launchIndex) +
                                           " of " + std::to_string(count));
  return Verdict();
}

Verdict ReadArchive(const void* resource, size_t resourceSize, Inflated* out,
                    Table* table) {
  Verdict v = InflateArchive(resource, resourceSize, out);
  if (!v.ok()) return v;
  return ParseTable(out->bytes.get(), out->size, table);
}

std::vector<unsigned char> BuildTable(const std::vector<PackEntry>& entries,
                                      uint32_t launchIndex) {
  const uint64_t limit = std::numeric_limits<uint32_t>::max();
  uint64_t total = 8;
  for (const PackEntry& e : entries) total += 8 + e.name.size() + e.data.size();
  if (total > limit || entries.size() > limit)
    throw std::length_error("the file table exceeds 4 GiB");
  std::vector<unsigned char> table;
  table.reserve(static_cast<size_t>(total));
  AppendU32(&table, static_cast<uint32_t>(entries.size()));
  for (const PackEntry& e : entries) {
    AppendU32(&table, static_cast<uint32_t>(e.name.size()));
    table.insert(table.end(), e.name.begin(), e.name.end());
    AppendU32(&table, static_cast<uint32_t>(e.data.size()));
    table.insert(table.end(), e.data.begin(), e.data.end());
  }
  AppendU32(&table, launchIndex);
  return table;
}

std::vector<unsigned char> CompressTable(const std::vector<unsigned char>& table,
                                         int level) {
  if (table.size() > std::numeric_limits<uint32_t>::max())
    throw std::length_error("the file table exceeds 4 GiB");
  uLongf bound = compressBound(static_cast<uLong>(table.size()));
  std::vector<unsigned char> out(kHeaderSize + bound);
  uLongf streamSize = bound;
  int rc = compress2(out.data() + kHeaderSize, &streamSize, table.data(),
                     static_cast<uLong>(table.size()), level);
  if (rc == Z_MEM_ERROR) throw std::bad_alloc();
  if (rc != Z_OK) throw std::runtime_error("zlib compress2 failed: " + std::to_string(rc));
  out.resize(kHeaderSize + streamSize);
  std::vector<unsigned char> header;
  AppendU32(&header, kMagic);
  AppendU32(&header, static_cast<uint32_t>(table.size()));
  AppendU32(&header, static_cast<uint32_t>(streamSize));
  std::copy(header.begin(), header.end(), out.begin());
  return out;
}

}  // namespace archive
