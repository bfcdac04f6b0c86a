// The work folder made and removed for real under the user's temporary
// folder, with the records the session log gets.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/session_log.h"
#include "payload/work_folder.h"
#include "support/e2e.h"

namespace {

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string WithoutSlash(std::string path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

// Numbers for the work folder's name, given in turn; the last repeats.
struct Numbers {
  std::vector<unsigned> values;
  size_t next = 0;
  unsigned operator()() {
    unsigned v = values[next < values.size() ? next : values.size() - 1];
    ++next;
    return v;
  }
};

class WorkFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { e2e::DeleteLog(); }
  void TearDown() override {
    for (const std::string& path : made_) {
      RemoveDirectoryA(WithoutSlash(path).c_str());
      DeleteFileA(WithoutSlash(path).c_str());
    }
  }
  // A number whose folder does not exist yet, from a range tests keep to.
  unsigned FreeNumber(unsigned from) {
    for (unsigned n = from;; ++n) {
      char name[MAX_PATH];
      GetTempFileNameA(e2e::TempDir().c_str(), "Rav", n, name);
      if (GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES) return n;
    }
  }
  std::string Create(const std::vector<unsigned>& numbers, bool* created) {
    Numbers draw{numbers};
    std::string path = CreateWorkFolder("Ravenstock", log_, created, std::ref(draw));
    made_.push_back(path);
    return path;
  }

  CSessionLog log_{"Ravenstock", "BootStrap"};
  std::vector<std::string> made_;
};

TEST_F(WorkFolderTest, ATakenNameIsDrawnAgainAndOnlyANewFolderCountsAsCreated) {
  unsigned taken = FreeNumber(0xF100);
  bool created = false;
  std::string first = Create({taken}, &created);
  ASSERT_TRUE(created);
  e2e::DeleteLog();

  unsigned fresh = FreeNumber(taken + 1);
  std::string second = Create({taken, fresh}, &created);
  EXPECT_TRUE(created);
  EXPECT_NE(first, second);
  EXPECT_TRUE(IsFolder(second));
  std::string log = e2e::ReadLog();
  EXPECT_EQ(2, e2e::CountOf(log, "Creating temp folder"));
  EXPECT_TRUE(e2e::InOrder(log, {WithoutSlash(first), "Fail to create temp folder",
                                 "status=\"183\"", WithoutSlash(second),
                                 "Temp folder successfully created"}))
      << log;

  // Every draw taken: the tries are bounded and the folder is not ours.
  e2e::DeleteLog();
  std::string third = Create({taken}, &created);
  EXPECT_FALSE(created);
  EXPECT_EQ(first, third);
  EXPECT_EQ(kWorkFolderAttempts, e2e::CountOf(e2e::ReadLog(), "Creating temp folder"));
  EXPECT_TRUE(IsFolder(first));
}

TEST_F(WorkFolderTest, ZeroIsNeverUsedAsTheUniqueNumber) {
  // With 0 the platform would pick a name and create a file of it, and the
  // folder of that name could then not be made.
  if (e2e::PathExists(e2e::TempDir() + "Rav1.tmp")) GTEST_SKIP() << "Rav1.tmp exists";
  bool created = false;
  std::string path = Create({0}, &created);
  EXPECT_TRUE(created);
  EXPECT_TRUE(IsFolder(path));
  EXPECT_EQ(0, e2e::CountOf(e2e::ReadLog(), "Fail to create temp folder"));
}

TEST_F(WorkFolderTest, DeletionFailureIsRecordedAndAPathWithoutSlashIsKept) {
  bool created = false;
  std::string path = Create({FreeNumber(0xF200)}, &created);
  ASSERT_TRUE(created);
  std::string bare = WithoutSlash(path);
  DeleteWorkFolder(bare, log_);
  EXPECT_FALSE(e2e::PathExists(bare));
  EXPECT_EQ(1, e2e::CountOf(e2e::ReadLog(), "Deleting temp folder \"" + bare + "\"<"));

  e2e::DeleteLog();
  DeleteWorkFolder(path, log_);  // gone already
  std::string log = e2e::ReadLog();
  EXPECT_EQ(1, e2e::CountOf(log, "message=\"An error occured while deleting temp folder\""))
      << log;
  EXPECT_EQ(0, e2e::CountOf(log, "Temp folder successfully deleted"));
  // The shell's own result is the status: a stale "0" would read as success.
  EXPECT_EQ(0, e2e::CountOf(log, "status=\"0\"")) << log;
}

}  // namespace
