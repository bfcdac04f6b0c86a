// Framework detection against the real registry and Windows folder of the
// test prefix.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "framework/detection.h"
#include "support/e2e.h"

namespace {

const char kKey[] = "SOFTWARE\\Microsoft\\.NETFramework\\policy\\v1.1";

std::string FrameworkFolder() {
  char win[MAX_PATH] = {};
  GetWindowsDirectoryA(win, MAX_PATH);
  return std::string(win) + "\\Microsoft.NET\\Framework\\v1.1.4322";
}

void SetValue(DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  RegSetValueExA(key, "4322", 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
}

class DetectionTest : public ::testing::Test {
 protected:
  // The other tests expect to find the framework missing.
  void TearDown() override {
    DeleteFileA(FrameworkFolder().c_str());
    e2e::SetFrameworkInstalled(false);
  }
};

TEST_F(DetectionTest, BothMarksMeanInstalled) {
  e2e::SetFrameworkInstalled(true);
  EXPECT_FALSE(IsFrameworkMissing());
  // Whatever the value holds: only its presence counts.
  DWORD number = 0;
  SetValue(REG_DWORD, &number, sizeof number);
  EXPECT_FALSE(IsFrameworkMissing());
}

TEST_F(DetectionTest, AnyMissingMarkMeansMissing) {
  e2e::SetFrameworkInstalled(true);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
  EXPECT_TRUE(IsFrameworkMissing()) << "no key";

  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                  nullptr);
  RegCloseKey(key);
  EXPECT_TRUE(IsFrameworkMissing()) << "key without the value";

  e2e::SetFrameworkInstalled(true);
  RemoveDirectoryA(FrameworkFolder().c_str());
  EXPECT_TRUE(IsFrameworkMissing()) << "value without the folder";

  ASSERT_TRUE(e2e::WriteFileText(FrameworkFolder(), ""));
  EXPECT_TRUE(IsFrameworkMissing()) << "a plain file in place of the folder";
}

TEST(FileExistsTest, OnlyAFileThatOpensForReading) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  std::string path = std::string(temp) + "RavDetect" + std::to_string(GetTickCount()) + ".exe";
  EXPECT_FALSE(FileExists(path));
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // Held open without sharing by someone else: as good as absent, so the
  // wizard downloads instead of running a file it could not read.
  EXPECT_FALSE(FileExists(path));
  CloseHandle(h);
  EXPECT_TRUE(FileExists(path));
  // The probe itself must not keep the file.
  EXPECT_TRUE(DeleteFileA(path.c_str()));
  EXPECT_FALSE(FileExists(temp)) << "a folder is not a file";
}

}  // namespace
