// The payload archive reader against tables written by hand (independent of
// the writer under test), and the extraction order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/archive_format.h"
#include "payload/archive_order.h"

using archive::Problem;
using Bytes = std::vector<unsigned char>;
using Names = std::vector<std::string>;

namespace {

void SetU32(Bytes* b, size_t at, uint32_t v) {
  if (b->size() < at + 4) b->resize(at + 4);
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

Bytes RawTable(const std::vector<std::pair<std::string, std::string>>& entries, uint32_t launch) {
  Bytes t;
  SetU32(&t, 0, static_cast<uint32_t>(entries.size()));
  for (const auto& e : entries) {
    SetU32(&t, t.size(), static_cast<uint32_t>(e.first.size()));
    t.insert(t.end(), e.first.begin(), e.first.end());
    SetU32(&t, t.size(), static_cast<uint32_t>(e.second.size()));
    t.insert(t.end(), e.second.begin(), e.second.end());
  }
  SetU32(&t, t.size(), launch);
  return t;
}

Problem ReadTable(const Bytes& table) {
  const Bytes resource = archive::CompressTable(table);
  archive::Inflated inflated;
  archive::Table parsed;
  return archive::ReadArchive(resource.data(), resource.size(), &inflated, &parsed).problem;
}

// Damaged streams, plain bad tables and the round trip are driven end to
// end; these are the table faults and names no embedded archive shows.
TEST(ArchiveFormat, TablesThatDoNotAddUpAndNamesThatLeaveTheFolderAreInvalid) {
  const Bytes table = RawTable({{"a.exe", "abc"}}, 0);
  Bytes longData = table, hugeCount = table;
  SetU32(&longData, 13, 0xFFFFFFFFu);
  SetU32(&hugeCount, 0, 0x20000000u);
  for (const Bytes& t : {longData, hugeCount, Bytes(table.begin(), table.end() - 4), Bytes{1, 0}})
    EXPECT_EQ(Problem::kTableCut, ReadTable(t));
  for (const char* name : {"../x", "/x", "\\x", "C:x", "c:\\x", "a/../../x", "a\\..\\x", ".", "..",
                           "", "a/.. /x", "a/.../x", "a//b", "dir/", "x.txt:stream"})
    EXPECT_EQ(Problem::kBadName, ReadTable(RawTable({{"setup.exe", "MZ"}, {name, "d"}}, 0))) << name;
  EXPECT_EQ(Problem::kBadName, ReadTable(RawTable({{std::string("a\0b", 3), "x"}}, 0)));
  for (const char* name : {"setup.exe", "fr/x.dll", "a/b/c", ".hidden", "a..b", "...x"})
    EXPECT_TRUE(archive::IsSafeName(name)) << name;
}

TEST(ArchiveOrder, FolderFilesFirstAndEveryFolderMadeBeforeUse) {
  Names names = {"fr/b/z.txt", "setup.exe", "fr/a.dll", "b.txt", "fr/b/y.txt", "de/x.dll"};
  std::string why;
  ASSERT_TRUE(archive::OrderForExtraction(&names, &why)) << why;
  EXPECT_EQ((Names{"b.txt", "setup.exe", "de/x.dll", "fr/a.dll", "fr/b/y.txt", "fr/b/z.txt"}),
            names);
  // Nothing lies directly in "a", so "a/b" can never be created.
  Names emptyMiddle = {"setup.exe", "a/b/c.txt"};
  EXPECT_FALSE(archive::OrderForExtraction(&emptyMiddle, &why));
  EXPECT_NE(std::string::npos, why.find("\"a\"")) << why;
  EXPECT_TRUE(archive::IsExtractableOrder({"A/x", "a/b/c.txt"}, &why)) << why;  // case-blind
  EXPECT_FALSE(archive::IsExtractableOrder({"a/b/c.txt", "a/x"}, &why));
  EXPECT_FALSE(archive::IsExtractableOrder({"a/x", "a/b/c/d"}, &why));
  Names sameFile = {"Readme.txt", "setup.exe", "readme.txt"};
  EXPECT_FALSE(archive::OrderForExtraction(&sameFile, &why));
}

}  // namespace
