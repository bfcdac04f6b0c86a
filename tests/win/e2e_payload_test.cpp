// The real bootstrapper unpacking real payloads: a 25-file payload lands
// byte for byte in a fresh work folder that goes away at the end of the run,
// and every damaged or hostile archive ends in the "corrupted" message with
// nothing written anywhere.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/wizard_session.h"

namespace {

std::string TestPayloads() { return e2e::BuildDir() + "\\win32\\test-payloads"; }

// Files below folder (ending in "\"), by relative name with "\", sorted.
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

// Where a name that escaped the work folder would have put its file.
std::vector<std::string> EscapeFiles(const std::string& cwd) {
  std::string temp = e2e::TempDir();
  std::string tempParent = temp.substr(0, temp.find_last_of('\\', temp.size() - 2) + 1);
  std::vector<std::string> found;
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

class PayloadE2ETest : public e2e::WizardSession {
 protected:
  void SetUp() override {
    WizardSession::SetUp();
    before_ = e2e::WorkFolders();
  }
  void TearDown() override {
    WizardSession::TearDown();
    for (const std::string& folder : e2e::NewWorkFolders(before_)) e2e::RemoveTree(folder);
  }
  std::vector<std::string> before_;
};

TEST_F(PayloadE2ETest, PayloadLandsByteForByteInANewWorkFolderThatCancelRemoves) {
  Start("payload25");
  std::vector<std::string> fresh = e2e::NewWorkFolders(before_);
  ASSERT_EQ(1u, fresh.size());
  const std::string folder = fresh[0] + "\\";
  const std::string source = TestPayloads() + "\\payload25\\";
  const std::vector<std::string> expected = Files(source);
  ASSERT_EQ(25u, expected.size());
  ASSERT_EQ(expected, Files(folder));
  for (const std::string& name : expected)
    EXPECT_TRUE(e2e::ReadFileText(source + name) == e2e::ReadFileText(folder + name)) << name;

  const std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(log, {"Creating temp folder \"" + fresh[0] + "\"",
                                 "Temp folder successfully created",
                                 "Extracting resources in " + folder,
                                 "Loading resource : IDR_STORAGE", "Creating file : ",
                                 "Resources extracted"}));
  // Every stored name ("/" separated) once, each followed by its success;
  // the folder's own files before those of its sub-folder.
  const std::vector<std::string> infos = e2e::LogInfoTexts(log);
  const std::string marker = "Creating file : ";
  std::vector<std::string> created;
  for (size_t i = 0; i < infos.size(); ++i) {
    if (infos[i].compare(0, marker.size(), marker) != 0) continue;
    created.push_back(infos[i].substr(marker.size()));
    EXPECT_TRUE(i + 1 < infos.size() && infos[i + 1] == "File created") << infos[i];
  }
  auto nested = [](const std::string& n) { return n.find('/') != std::string::npos; };
  EXPECT_TRUE(std::is_partitioned(created.begin(), created.end(),
                                  [&](const std::string& n) { return !nested(n); }));
  for (std::string& name : created) std::replace(name.begin(), name.end(), '/', '\\');
  std::sort(created.begin(), created.end());
  EXPECT_EQ(expected, created);

  Press(IDCANCEL);
  ASSERT_TRUE(EndsSoon());
  EXPECT_FALSE(e2e::PathExists(fresh[0]));
  EXPECT_TRUE(e2e::InOrder(e2e::ReadLog(), {"Deleting temp folder \"" + folder + "\"",
                                            "Temp folder successfully deleted"}));
}

TEST_F(PayloadE2ETest, EveryBrokenArchiveShowsTheCorruptedMessageAndWritesNothing) {
  const std::string list = e2e::ReadFileText(TestPayloads() + "\\broken\\cases.txt");
  std::vector<std::string> cases;
  for (size_t begin = 0, end; begin < list.size(); begin = end + 1) {
    end = std::min(list.find_first_of("\r\n", begin), list.size());
    if (end > begin) cases.push_back(list.substr(begin, end - begin));
  }
  ASSERT_GE(cases.size(), 10u);
  const std::string cwd = e2e::TempDir() + "payload-e2e-cwd\\";
  CreateDirectoryA(cwd.c_str(), nullptr);
  for (const std::string& label : cases) {
    SCOPED_TRACE(label);
    e2e::DeleteLog();
    before_ = e2e::WorkFolders();
    Launch("broken-" + label, "", cwd);
    HWND box = nullptr;
    ASSERT_TRUE(e2e::WaitFor([&] { return (box = e2e::FindMessageBox(bootstrapper_.Id())) != nullptr; }));
    EXPECT_EQ(Str(IDS_CORRUPTED), e2e::MessageBoxText(box));
    const std::string log = e2e::ReadLog();
    EXPECT_EQ(1, e2e::CountOf(log, "section=\"ResourceManager\">Resource File Format is invalid<"))
        << log;
    EXPECT_EQ(0, e2e::CountOf(log, "Creating file : "));

    // The folder the run made is gone before the message shows.
    const std::vector<std::string> fresh = e2e::NewWorkFolders(before_);
    EXPECT_TRUE(fresh.empty());
    EXPECT_TRUE(Files(cwd).empty());
    EXPECT_TRUE(EscapeFiles(cwd).empty());

    PostMessageA(box, WM_CLOSE, 0, 0);
    EXPECT_TRUE(EndsSoon());
    for (const std::string& folder : fresh) e2e::RemoveTree(folder);
  }
  RemoveDirectoryA(cwd.c_str());
}

}  // namespace
