#include "payload/archive_order.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Names = std::vector<std::string>;

TEST(ArchiveOrder, FolderFilesComeBeforeSubFolderFilesInAFixedOrder) {
  Names names = {"fr/b/z.txt", "setup.exe", "fr/a.dll", "b.txt", "fr/b/y.txt",
                 "de/x.dll", "fr/z.dll"};
  std::string why;
  ASSERT_TRUE(archive::OrderForExtraction(&names, &why)) << why;
  EXPECT_EQ((Names{"b.txt", "setup.exe", "de/x.dll", "fr/a.dll", "fr/z.dll",
                   "fr/b/y.txt", "fr/b/z.txt"}),
            names);
  Names shuffled = {"fr/z.dll", "fr/b/z.txt", "de/x.dll", "setup.exe",
                    "fr/b/y.txt", "b.txt", "fr/a.dll"};
  ASSERT_TRUE(archive::OrderForExtraction(&shuffled, &why)) << why;
  EXPECT_EQ(names, shuffled);
}

TEST(ArchiveOrder, DeepFileNeedsAFileInItsGrandparentFirst) {
  std::string why;
  // Nothing lies directly in "a", so "a/b" can never be created.
  Names emptyMiddle = {"setup.exe", "a/b/c.txt"};
  EXPECT_FALSE(archive::OrderForExtraction(&emptyMiddle, &why));
  EXPECT_NE(std::string::npos, why.find("\"a\"")) << why;

  EXPECT_TRUE(archive::IsExtractableOrder({"a/x", "a/b/c.txt"}, &why)) << why;
  EXPECT_FALSE(archive::IsExtractableOrder({"a/b/c.txt", "a/x"}, &why));
  // Windows folder names ignore case: "A" made by the first file serves.
  EXPECT_TRUE(archive::IsExtractableOrder({"A/x", "a/b/c.txt"}, &why)) << why;
  EXPECT_TRUE(archive::IsExtractableOrder({"a/x", "a/b/y", "a/b/c/d"}, &why)) << why;
  EXPECT_FALSE(archive::IsExtractableOrder({"a/x", "a/b/c/d"}, &why));
}

TEST(ArchiveOrder, NamesThatAreOneFileOnWindowsAreRefused) {
  Names names = {"Readme.txt", "setup.exe", "readme.txt"};
  std::string why;
  EXPECT_FALSE(archive::OrderForExtraction(&names, &why));
  EXPECT_NE(std::string::npos, why.find("eadme.txt")) << why;
}
