// Framework detection against the real registry and Windows folder of the
// test prefix. Every case puts the prefix back as it found it: other tests
// rely on the framework's marks being what they set.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/detection.h"

namespace {

const char kKey[] = "SOFTWARE\\Microsoft\\.NETFramework\\policy\\v1.1";

std::string FrameworkFolder() {
  char win[MAX_PATH] = {};
  GetWindowsDirectoryA(win, MAX_PATH);
  return std::string(win) + "\\Microsoft.NET\\Framework\\v1.1.4322";
}

// The marks as found before a case, and how to bring them back.
class SavedMarks {
 public:
  SavedMarks() {
    HKEY key = nullptr;
    keyExisted_ = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) ==
                  ERROR_SUCCESS;
    if (keyExisted_) {
      DWORD size = 0;
      if (RegQueryValueExA(key, "4322", nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
        data_.resize(size);
        valueExisted_ = RegQueryValueExA(key, "4322", nullptr, &type_,
                                         size ? data_.data() : nullptr, &size) == ERROR_SUCCESS;
      }
      RegCloseKey(key);
    }
    folderAttributes_ = GetFileAttributesA(FrameworkFolder().c_str());
  }
  ~SavedMarks() {
    ClearFolder();
    if (folderAttributes_ != INVALID_FILE_ATTRIBUTES) {
      if (folderAttributes_ & FILE_ATTRIBUTE_DIRECTORY) MakeFolder();
      else MakePlainFile();
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
    if (keyExisted_) {
      HKEY key = CreateKey();
      if (valueExisted_)
        RegSetValueExA(key, "4322", 0, type_, data_.empty() ? nullptr : data_.data(),
                       static_cast<DWORD>(data_.size()));
      RegCloseKey(key);
    }
  }

  static HKEY CreateKey() {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &key, nullptr);
    return key;
  }
  static void SetValue(DWORD type, const void* data, DWORD size) {
    HKEY key = CreateKey();
    RegSetValueExA(key, "4322", 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
  }
  static void RemoveKey() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey); }
  static void MakeFolder() {
    char win[MAX_PATH] = {};
    GetWindowsDirectoryA(win, MAX_PATH);
    std::string net = std::string(win) + "\\Microsoft.NET";
    CreateDirectoryA(net.c_str(), nullptr);
    CreateDirectoryA((net + "\\Framework").c_str(), nullptr);
    CreateDirectoryA(FrameworkFolder().c_str(), nullptr);
  }
  static void MakePlainFile() {
    MakeFolder();
    RemoveDirectoryA(FrameworkFolder().c_str());
    HANDLE h = CreateFileA(FrameworkFolder().c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  static void ClearFolder() {
    RemoveDirectoryA(FrameworkFolder().c_str());
    DeleteFileA(FrameworkFolder().c_str());
  }

 private:
  bool keyExisted_ = false;
  bool valueExisted_ = false;
  DWORD type_ = 0;
  std::vector<BYTE> data_;
  DWORD folderAttributes_ = INVALID_FILE_ATTRIBUTES;
};

class DetectionTest : public ::testing::Test {
 protected:
  SavedMarks saved_;
};

TEST_F(DetectionTest, BothMarksMeanInstalled) {
  SavedMarks::MakeFolder();
  // Whatever the value holds: only its presence counts.
  const char text[] = "anything";
  SavedMarks::SetValue(REG_SZ, text, sizeof text);
  EXPECT_FALSE(IsFrameworkMissing());
  DWORD number = 0;
  SavedMarks::SetValue(REG_DWORD, &number, sizeof number);
  EXPECT_FALSE(IsFrameworkMissing());
}

TEST_F(DetectionTest, AnyMissingMarkMeansMissing) {
  SavedMarks::MakeFolder();
  SavedMarks::RemoveKey();
  EXPECT_TRUE(IsFrameworkMissing()) << "no key";

  RegCloseKey(SavedMarks::CreateKey());
  EXPECT_TRUE(IsFrameworkMissing()) << "key without the value";

  const char text[] = "3706-4322";
  SavedMarks::SetValue(REG_SZ, text, sizeof text);
  SavedMarks::ClearFolder();
  EXPECT_TRUE(IsFrameworkMissing()) << "value without the folder";

  SavedMarks::MakePlainFile();
  EXPECT_TRUE(IsFrameworkMissing()) << "a plain file in place of the folder";
}

std::string TestExeFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p = path;
  return p.substr(0, p.rfind('\\'));
}

TEST(ProgramFolder, IsTheExecutablesFolderWithoutBackslash) {
  std::string folder = GetProgramFolder();
  EXPECT_EQ(folder, TestExeFolder());
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '\\');
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
