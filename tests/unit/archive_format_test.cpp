#include "payload/archive_format.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

using archive::Problem;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

void PutU32(Bytes* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b->push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void SetU32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// A table written by hand, independent of the writer under test.
Bytes RawTable(const std::vector<std::pair<std::string, std::string>>& entries,
               uint32_t launch) {
  Bytes t;
  PutU32(&t, static_cast<uint32_t>(entries.size()));
  for (const auto& e : entries) {
    PutU32(&t, static_cast<uint32_t>(e.first.size()));
    t.insert(t.end(), e.first.begin(), e.first.end());
    PutU32(&t, static_cast<uint32_t>(e.second.size()));
    t.insert(t.end(), e.second.begin(), e.second.end());
  }
  PutU32(&t, launch);
  return t;
}

Problem Read(const Bytes& resource, archive::Table* table = nullptr) {
  archive::Inflated inflated;
  archive::Table scratch;
  return archive::ReadArchive(resource.data(), resource.size(), &inflated,
                              table != nullptr ? table : &scratch).problem;
}

Problem ReadTable(const Bytes& table) { return Read(archive::CompressTable(table)); }

}  // namespace

TEST(ArchiveFormat, RoundTripKeepsNamesDataAndLaunchEntry) {
  std::vector<archive::PackEntry> entries = {
      {"setup.exe", B(std::string("MZ\0\x90", 4))},
      {"empty.txt", {}},
      {"fr/ravenstock.resources.dll", Bytes(70000, 0xAB)},
  };
  Bytes resource = archive::CompressTable(archive::BuildTable(entries, 0));
  EXPECT_EQ(Bytes({0x5A, 0x43, 0x53, 0x00}), Bytes(resource.begin(), resource.begin() + 4));
  EXPECT_EQ(0x78, resource[12]);
  EXPECT_EQ(0x9C, resource[13]);

  archive::Inflated inflated;
  archive::Table table;
  ASSERT_TRUE(archive::ReadArchive(resource.data(), resource.size(), &inflated, &table).ok());
  EXPECT_EQ(4u + (8 + 9 + 4) + (8 + 9) + (8 + 27 + 70000) + 4, inflated.size);
  ASSERT_EQ(3u, table.entries.size());
  EXPECT_EQ(0u, table.launchIndex);
  for (size_t i = 0; i < entries.size(); ++i) {
    const archive::Entry& e = table.entries[i];
    EXPECT_EQ(entries[i].name, e.name);
    Bytes data(inflated.bytes.get() + e.offset, inflated.bytes.get() + e.offset + e.size);
    EXPECT_EQ(entries[i].data, data) << e.name;
  }
}

TEST(ArchiveFormat, HeaderAndStreamFaultsAreInvalid) {
  Bytes good = archive::CompressTable(RawTable({{"a.exe", "x"}}, 0));
  ASSERT_EQ(Problem::kNone, Read(good));

  Bytes badMagic = good;
  badMagic[3] = 1;
  EXPECT_EQ(Problem::kNoMagic, Read(badMagic));
  EXPECT_EQ(Problem::kNoMagic, Read(Bytes(good.begin(), good.begin() + 11)));
  EXPECT_EQ(Problem::kNoMagic, Read(Bytes()));

  // A stream size that claims more than the resource holds.
  Bytes pastEnd = good;
  SetU32(&pastEnd, 8, static_cast<uint32_t>(good.size() - 11));
  EXPECT_EQ(Problem::kStreamPastEnd, Read(pastEnd));

  // A stream size that cuts the stream short.
  Bytes cut = good;
  SetU32(&cut, 8, static_cast<uint32_t>(good.size() - 12 - 3));
  EXPECT_EQ(Problem::kInflateFailed, Read(cut));

  Bytes badAdler = good;
  badAdler.back() ^= 0x01;
  EXPECT_EQ(Problem::kInflateFailed, Read(badAdler));

  // A table larger than the announced inflated size does not fit the buffer.
  Bytes tooSmall = good;
  SetU32(&tooSmall, 4, 10);
  EXPECT_EQ(Problem::kInflateFailed, Read(tooSmall));

  // Raw deflate data without the zlib wrapper.
  Bytes raw = good;
  raw[12] = 0x00;
  EXPECT_EQ(Problem::kInflateFailed, Read(raw));
}

TEST(ArchiveFormat, ShortInflationAndTrailingStreamBytesAreAccepted) {
  Bytes table = RawTable({{"a.exe", "abc"}}, 0);
  Bytes longer = archive::CompressTable(table);
  SetU32(&longer, 4, static_cast<uint32_t>(table.size() + 1000));
  archive::Inflated inflated;
  archive::Table parsed;
  ASSERT_TRUE(archive::ReadArchive(longer.data(), longer.size(), &inflated, &parsed).ok());
  EXPECT_EQ(table.size(), inflated.size);
  EXPECT_EQ("a.exe", parsed.entries.at(0).name);

  // Bytes after the end of the zlib stream but within the stream size.
  Bytes trailing = archive::CompressTable(table);
  trailing.insert(trailing.end(), {1, 2, 3});
  SetU32(&trailing, 8, static_cast<uint32_t>(trailing.size() - 12));
  EXPECT_EQ(Problem::kNone, Read(trailing));
}

TEST(ArchiveFormat, TableRunningPastInflatedBytesIsInvalid) {
  Bytes t = RawTable({{"a.exe", "abc"}}, 0);
  Bytes longName = t;
  SetU32(&longName, 4, 1000);
  EXPECT_EQ(Problem::kTableCut, ReadTable(longName));

  Bytes longData = t;
  SetU32(&longData, 4 + 4 + 5, 0xFFFFFFFFu);
  EXPECT_EQ(Problem::kTableCut, ReadTable(longData));

  Bytes hugeCount = t;
  SetU32(&hugeCount, 0, 0x20000000u);
  EXPECT_EQ(Problem::kTableCut, ReadTable(hugeCount));

  Bytes noLaunchIndex(t.begin(), t.end() - 4);
  EXPECT_EQ(Problem::kTableCut, ReadTable(noLaunchIndex));
  EXPECT_EQ(Problem::kTableCut, ReadTable(Bytes{1, 0}));
}

TEST(ArchiveFormat, LaunchIndexMustNameAnEntry) {
  EXPECT_EQ(Problem::kLaunchIndex, ReadTable(RawTable({}, 0)));
  EXPECT_EQ(Problem::kLaunchIndex, ReadTable(RawTable({{"a", "1"}, {"b", "2"}}, 2)));
  archive::Table table;
  EXPECT_EQ(Problem::kNone,
            Read(archive::CompressTable(RawTable({{"a", "1"}, {"b", "2"}}, 1)), &table));
  EXPECT_EQ(1u, table.launchIndex);
}

TEST(ArchiveFormat, NamesThatLeaveTheFolderAreInvalid) {
  for (const char* name :
       {"../x", "/x", "\\x", "C:x", "c:\\x", "a/../../x", "a\\..\\x", ".", "..",
        "", "a/.. /x", "a/.../x", "a//b", "dir/", "x.txt:stream",
        // Devices in any component, any case, with or without an extension.
        "con", "NUL.txt", "fr/Aux.dll", "com1/x", "LPT9.log", "prn .txt",
        // Windows would drop the trailing dot or blank.
        "setup.exe.", "readme ", "fr./x.dll"}) {
    Bytes table = RawTable({{"setup.exe", "MZ"}, {name, "data"}}, 0);
    EXPECT_EQ(Problem::kBadName, ReadTable(table)) << '"' << name << '"';
  }
  std::string zero("a\0b", 3);
  EXPECT_EQ(Problem::kBadName, ReadTable(RawTable({{zero, "x"}}, 0)));
  for (const char* name : {"setup.exe", "fr/x.dll", "a/b/c", ".hidden", "a..b", "...x",
                           "console.txt", "com10", "lpt0", "nul2/x", "auxiliary"})
    EXPECT_TRUE(archive::IsSafeName(name)) << name;
}

TEST(ArchiveFormat, TwoNamesForOneFileAreInvalid) {
  // The later entry would silently replace the earlier file.
  for (const char* twin : {"setup.exe", "SETUP.EXE", "fr\\x.dll", "FR/X.dll"}) {
    Bytes table = RawTable({{"setup.exe", "MZ"}, {"fr/x.dll", "1"}, {twin, "2"}}, 0);
    EXPECT_EQ(Problem::kBadName, ReadTable(table)) << twin;
  }
  EXPECT_EQ(Problem::kNone, ReadTable(RawTable({{"a/b", "1"}, {"b/a", "2"}, {"ab", "3"}}, 0)));
}
