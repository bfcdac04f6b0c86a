// ResourceManager on real resources: each test writes an archive and a
// licence into a copy of this test program with the platform's resource
// update calls and loads that copy as a data file.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "appkit/exceptions.h"
#include "log/session_log.h"
#include "payload/archive_format.h"
#include "payload/resource_manager.h"
#include "resource_ids.h"
#include "support/e2e.h"
#include "support/wizard_session.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Archive(const std::vector<archive::PackEntry>& entries, uint32_t launch) {
  return archive::CompressTable(archive::BuildTable(entries, launch));
}

std::string ThisExe() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

bool AddResource(HANDLE update, const char* type, int id, const std::string& data) {
  return UpdateResourceA(update, type, MAKEINTRESOURCEA(id),
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                         const_cast<char*>(data.data()), static_cast<DWORD>(data.size()));
}

class ResourceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    e2e::DeleteLog();
    const std::string id = std::to_string(GetCurrentProcessId());
    exe_ = e2e::TempDir() + "payload-resources-" + id + ".exe";
    folder_ = e2e::TempDir() + "payload-test-" + id + "\\";
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
    DeleteFileA(exe_.c_str());
    e2e::RemoveTree(folder_);
  }
  // A copy of this program holding the given archive and licence resources
  // (each left out when null), loaded as a data file.
  HMODULE Load(const Bytes* archive, const std::string* licence) {
    EXPECT_TRUE(CopyFileA(ThisExe().c_str(), exe_.c_str(), FALSE));
    HANDLE update = BeginUpdateResourceA(exe_.c_str(), FALSE);
    EXPECT_NE(nullptr, update);
    if (archive != nullptr) {
      EXPECT_TRUE(AddResource(update, "ZCS_FILE", IDR_STORAGE,
                              std::string(archive->begin(), archive->end())));
    }
    if (licence != nullptr) {
      EXPECT_TRUE(AddResource(update, "TEXT_FILE", IDR_LICENSE_TEXT, *licence));
    }
    EXPECT_TRUE(EndUpdateResourceA(update, FALSE)) << GetLastError();
    module_ = LoadLibraryExA(exe_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(nullptr, module_) << GetLastError();
    return module_;
  }
  std::vector<std::string> Infos() { return e2e::LogInfoTexts(e2e::ReadLog()); }

  CSessionLog log_{"Ravenstock", "BootStrap"};
  std::string exe_, folder_;
  HMODULE module_ = nullptr;
};

TEST_F(ResourceManagerTest, WritesEveryEntryIntoTheFolderAndItsSubFolder) {
  std::vector<archive::PackEntry> entries = {
      {"readme.txt", B("new text")},
      {"empty.dat", {}},
      {"fr/sat.resources.dll", Bytes(200000, 0x5A)},
  };
  Bytes bytes = Archive(entries, 2);
  ResourceManager manager(log_, Load(&bytes, nullptr));
  // A file that is there already was not written by this extraction: it
  // ends the extraction and is not written through.
  ASSERT_TRUE(e2e::WriteFileText(folder_ + "readme.txt", "someone else's"));
  EXPECT_THROW(manager.ExtractResources(folder_), CFileException);
  EXPECT_EQ("someone else's", e2e::ReadFileText(folder_ + "readme.txt"));
  DeleteFileA((folder_ + "readme.txt").c_str());
  manager.ExtractResources(folder_);

  EXPECT_EQ("new text", e2e::ReadFileText(folder_ + "readme.txt"));
  EXPECT_TRUE(e2e::PathExists(folder_ + "empty.dat"));
  EXPECT_EQ("", e2e::ReadFileText(folder_ + "empty.dat"));
  EXPECT_EQ(std::string(200000, 'Z'), e2e::ReadFileText(folder_ + "fr\\sat.resources.dll"));
  EXPECT_EQ("fr/sat.resources.dll", manager.SetupProgramName());
}

TEST_F(ResourceManagerTest, FileTwoFoldersDeepWithoutItsMiddleFolderEndsTheExtraction) {
  Bytes bytes = Archive({{"setup.exe", B("MZ")}, {"a/b/c.txt", B("deep")}, {"z.txt", B("z")}}, 0);
  ResourceManager manager(log_, Load(&bytes, nullptr));
  EXPECT_THROW(manager.ExtractResources(folder_), CFileException);
  EXPECT_TRUE(e2e::PathExists(folder_ + "setup.exe"));
  EXPECT_FALSE(e2e::PathExists(folder_ + "z.txt"));
  EXPECT_EQ("", manager.SetupProgramName());
  std::vector<std::string> infos = Infos();
  ASSERT_FALSE(infos.empty());
  EXPECT_EQ("Creating file : a/b/c.txt", infos.back());
}

TEST_F(ResourceManagerTest, InvalidArchiveWritesNothingAndRaisesResourceException) {
  // The hostile name comes last: nothing may be written before it is seen.
  Bytes hostile = Archive({{"setup.exe", B("MZ")}, {"../payload-escape.txt", B("x")}}, 0);
  ResourceManager manager(log_, Load(&hostile, nullptr));
  EXPECT_THROW(manager.ExtractResources(folder_), CResourceException);
  EXPECT_FALSE(e2e::PathExists(folder_ + "setup.exe"));
  EXPECT_FALSE(e2e::PathExists(e2e::TempDir() + "payload-escape.txt"));
  EXPECT_EQ((std::vector<std::string>{"Extracting resources in " + folder_,
                                      "Loading resource : IDR_STORAGE",
                                      "Resource File Format is invalid"}),
            Infos());
}

TEST_F(ResourceManagerTest, FolderThatIsNotAnAbsolutePathIsRefused) {
  // An unnamed work folder must not turn into the current folder.
  Bytes bytes = Archive({{"payload-relative.txt", B("x")}}, 0);
  ResourceManager manager(log_, Load(&bytes, nullptr));
  EXPECT_THROW(manager.ExtractResources(""), CFileException);
  EXPECT_THROW(manager.ExtractResources("sub\\"), CFileException);
  EXPECT_FALSE(e2e::PathExists("payload-relative.txt"));
  EXPECT_FALSE(e2e::PathExists("sub\\payload-relative.txt"));
}

TEST_F(ResourceManagerTest, MissingArchiveIsAnErrorRecordAndResourceException) {
  std::string licence = "text";
  ResourceManager manager(log_, Load(nullptr, &licence));
  EXPECT_THROW(manager.ExtractResources(folder_), CResourceException);
  std::string log = e2e::ReadLog();
  EXPECT_EQ(1, e2e::CountOf(log, "section=\"ResourceManager\" message=\"An error occurred "
                                 "while extracting resources (resource cannot be found)\""))
      << log;
  EXPECT_EQ(0, e2e::CountOf(log, "Loading resource"));
}

TEST_F(ResourceManagerTest, LicenceIsCutAtItsFirstZeroByteAndEmptyWhenAbsent) {
  const char text[] = "End-User Licence\r\nAgreement\0after the zero";
  std::string licence(text, sizeof text - 1);
  ResourceManager manager(log_, Load(nullptr, &licence));
  EXPECT_EQ("End-User Licence\r\nAgreement", manager.RetrieveLicenseAgreement());
  EXPECT_EQ((std::vector<std::string>{"Retrieving license agreement",
                                      "License agreement retrieved"}),
            Infos());

  FreeLibrary(module_);
  module_ = nullptr;
  Bytes bytes = Archive({{"setup.exe", B("MZ")}}, 0);
  ResourceManager without(log_, Load(&bytes, nullptr));
  EXPECT_EQ("", without.RetrieveLicenseAgreement());
}

}  // namespace
