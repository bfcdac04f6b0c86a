// The real bootstrapper unpacking real payloads: a 25-file payload lands
// byte for byte in a fresh work folder that goes away at the end of the run,
// and every damaged or hostile archive ends in the "corrupted" message with
// nothing written anywhere.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "resource_ids.h"
#include "support/e2e.h"

namespace {

std::string TestPayloads() { return e2e::BuildDir() + "\\win32\\test-payloads"; }

std::string ExeString(const std::string& exe, UINT id) {
  HMODULE m = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  char buf[512] = {};
  if (m != nullptr) {
    LoadStringA(m, id, buf, sizeof buf);
    FreeLibrary(m);
  }
  return buf;
}

// Files below folder (ending in "\"), by relative name with "\".
void ListFiles(const std::string& folder, const std::string& prefix,
               std::vector<std::string>* out) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((folder + prefix + "*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = fd.cFileName;
    if (name == "." || name == "..") continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ListFiles(folder, prefix + name + "\\", out);
    else
      out->push_back(prefix + name);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  std::sort(out->begin(), out->end());
}

std::vector<std::string> Files(const std::string& folder) {
  std::vector<std::string> files;
  ListFiles(folder, "", &files);
  return files;
}

void RemoveTree(const std::string& folder) {
  std::string from = folder;
  if (!from.empty() && from.back() == '\\') from.pop_back();
  from.push_back('\0');
  SHFILEOPSTRUCTA op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  SHFileOperationA(&op);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find_first_of("\r\n", begin);
    if (end == std::string::npos) end = text.size();
    if (end > begin) lines.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

class PayloadE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    e2e::DeleteLog();
    before_ = e2e::WorkFolders();
  }
  void TearDown() override {
    process_.Kill();
    for (const std::string& folder : NewWorkFolders()) RemoveTree(folder);
  }
  std::vector<std::string> NewWorkFolders() const {
    std::vector<std::string> now = e2e::WorkFolders(), fresh;
    for (const std::string& f : now)
      if (std::find(before_.begin(), before_.end(), f) == before_.end()) fresh.push_back(f);
    return fresh;
  }

  std::vector<std::string> before_;
  e2e::Process process_;
};

// The stored names, "/" separated, as the extraction recorded them.
std::vector<std::string> CreatedNames(const std::vector<std::string>& infos) {
  std::vector<std::string> names;
  const std::string marker = "Creating file : ";
  for (size_t i = 0; i < infos.size(); ++i) {
    if (infos[i].compare(0, marker.size(), marker) != 0) continue;
    names.push_back(infos[i].substr(marker.size()));
    EXPECT_TRUE(i + 1 < infos.size() && infos[i + 1] == "File created") << infos[i];
  }
  return names;
}

TEST_F(PayloadE2ETest, PayloadLandsByteForByteInANewWorkFolderThatCancelRemoves) {
  const std::string exe = e2e::VariantExe("payload25");
  ASSERT_TRUE(e2e::PathExists(exe)) << exe;
  process_ = e2e::Process(exe, "");
  HWND wizard = e2e::WaitForWizard(process_.Id());
  ASSERT_NE(nullptr, wizard);

  std::vector<std::string> fresh = NewWorkFolders();
  ASSERT_EQ(1u, fresh.size());
  const std::string folder = fresh[0] + "\\";
  const std::string source = TestPayloads() + "\\payload25\\";
  std::vector<std::string> expected = Files(source);
  ASSERT_EQ(25u, expected.size());
  ASSERT_EQ(expected, Files(folder));
  for (const std::string& name : expected)
    EXPECT_TRUE(e2e::ReadFileText(source + name) == e2e::ReadFileText(folder + name)) << name;

  std::vector<std::string> infos = e2e::LogInfoTexts(e2e::ReadLog());
  EXPECT_TRUE(e2e::InOrder(e2e::ReadLog(),
                           {"Creating temp folder \"" + fresh[0] + "\"",
                            "Temp folder successfully created",
                            "Extracting resources in " + folder,
                            "Loading resource : IDR_STORAGE", "Creating file : ",
                            "Resources extracted"}));
  std::vector<std::string> created = CreatedNames(infos);
  std::vector<std::string> stored;
  for (std::string name : expected) {
    std::replace(name.begin(), name.end(), '\\', '/');
    stored.push_back(name);
  }
  std::vector<std::string> sortedCreated = created;
  std::sort(sortedCreated.begin(), sortedCreated.end());
  EXPECT_EQ(stored, sortedCreated);
  // Files of the work folder itself come before those of its sub-folder.
  auto firstNested = std::find_if(created.begin(), created.end(), [](const std::string& n) {
    return n.find('/') != std::string::npos;
  });
  EXPECT_TRUE(std::all_of(firstNested, created.end(), [](const std::string& n) {
    return n.find('/') != std::string::npos;
  }));

  e2e::Click(wizard, IDCANCEL);
  ASSERT_TRUE(process_.Wait());
  EXPECT_FALSE(e2e::PathExists(fresh[0]));
  EXPECT_TRUE(e2e::InOrder(e2e::ReadLog(), {"Deleting temp folder \"" + folder + "\"",
                                            "Temp folder successfully deleted"}));
}

// Where a name that escaped the work folder would have put its file.
std::vector<std::string> EscapeFiles(const std::string& cwd) {
  std::vector<std::string> found;
  std::string temp = e2e::TempDir();
  std::string tempParent = temp.substr(0, temp.find_last_of('\\', temp.size() - 2) + 1);
  for (const std::string& dir : {temp, tempParent, std::string("C:\\"), cwd}) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "raven-escape-*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) continue;
    do found.push_back(dir + fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
  }
  return found;
}

TEST_F(PayloadE2ETest, EveryBrokenArchiveShowsTheCorruptedMessageAndWritesNothing) {
  std::vector<std::string> cases = Lines(e2e::ReadFileText(TestPayloads() + "\\broken\\cases.txt"));
  ASSERT_GE(cases.size(), 10u);
  const std::string cwd = e2e::TempDir() + "payload-e2e-cwd\\";
  CreateDirectoryA(cwd.c_str(), nullptr);
  for (const std::string& label : cases) {
    SCOPED_TRACE(label);
    const std::string exe = e2e::VariantExe("broken-" + label);
    ASSERT_TRUE(e2e::PathExists(exe)) << exe;
    e2e::DeleteLog();
    before_ = e2e::WorkFolders();
    process_ = e2e::Process(exe, "", cwd);
    HWND box = nullptr;
    ASSERT_TRUE(e2e::WaitFor([&] { return (box = e2e::FindMessageBox(process_.Id())) != nullptr; }));
    EXPECT_EQ(ExeString(exe, IDS_CORRUPTED), e2e::MessageBoxText(box));
    EXPECT_EQ(1, e2e::CountOf(e2e::ReadLog(), "section=\"ResourceManager\">Resource File Format is invalid<"))
        << e2e::ReadLog();
    EXPECT_EQ(0, e2e::CountOf(e2e::ReadLog(), "Creating file : "));

    // The work folder stays behind (the run ended in its set-up), empty.
    std::vector<std::string> fresh = NewWorkFolders();
    EXPECT_EQ(1u, fresh.size());
    for (const std::string& folder : fresh) EXPECT_TRUE(Files(folder + "\\").empty());
    EXPECT_TRUE(Files(cwd).empty());
    EXPECT_TRUE(EscapeFiles(cwd).empty());

    PostMessageA(box, WM_CLOSE, 0, 0);
    EXPECT_TRUE(process_.Wait());
    for (const std::string& folder : fresh) RemoveTree(folder);
  }
  RemoveDirectoryA(cwd.c_str());
}

}  // namespace
