// The real bootstrapper with the demo payload, on a machine that has the
// framework: the wizard's way to the setup program, update mode, and a
// Cancel that comes too late to stop the start.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/e2e.h"

namespace {

const char kSetupTitle[] = "Ravenstock Setup Program (demo)";

// A string of the exe's own table, so the test follows the texts it ships.
std::string ExeString(const std::string& exe, UINT id) {
  HMODULE m = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  char buf[512] = {};
  if (m != nullptr) {
    LoadStringA(m, id, buf, sizeof buf);
    FreeLibrary(m);
  }
  return buf;
}

HWND SetupWindow() { return FindWindowA(nullptr, kSetupTitle); }

void RemoveTree(const std::string& folder) {
  std::string from = folder;
  from.push_back('\0');  // the list ends with two zeros
  SHFILEOPSTRUCTA op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  SHFileOperationA(&op);
}

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    exe_ = e2e::VariantExe("launch");
    ASSERT_TRUE(e2e::PathExists(exe_)) << exe_;
    e2e::SetFrameworkInstalled(true);
    record_ = e2e::TempDir() + "launch-record.txt";
    DeleteFileA(record_.c_str());
    SetEnvironmentVariableA("RAVEN_SETUP_RECORD", record_.c_str());
    e2e::DeleteLog();
    before_ = e2e::WorkFolders();
  }

  void TearDown() override {
    if (HWND w = SetupWindow()) {
      PostMessageA(w, WM_CLOSE, 0, 0);
      e2e::WaitFor([] { return SetupWindow() == nullptr; }, 10000);
    }
    bootstrapper_.Kill();
    SetEnvironmentVariableA("RAVEN_SETUP_RECORD", nullptr);
    DeleteFileA(record_.c_str());
    e2e::SetFrameworkInstalled(false);
  }

  void Start(const std::string& arguments) {
    bootstrapper_ = e2e::Process(exe_, arguments);
    ASSERT_TRUE(bootstrapper_.Started());
  }

  // What the setup program recorded: its command line and current folder.
  bool WaitForRecord(std::string* commandLine, std::string* folder) {
    if (!e2e::WaitFor([&] { return !e2e::ReadFileText(record_).empty(); })) return false;
    std::string text = e2e::ReadFileText(record_);
    text = text.substr(0, text.find_first_of("\r\n"));
    const size_t tab = text.find('\t');
    if (tab == std::string::npos) return false;
    *commandLine = text.substr(0, tab);
    *folder = text.substr(tab + 1);
    return true;
  }

  bool IsNewWorkFolder(const std::string& folder) const {
    for (const std::string& old : before_)
      if (lstrcmpiA(old.c_str(), folder.c_str()) == 0) return false;
    const std::string temp = e2e::TempDir() + "Rav";
    return folder.size() > temp.size() &&
           CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, folder.c_str(),
                          static_cast<int>(temp.size()), temp.c_str(),
                          static_cast<int>(temp.size())) == CSTR_EQUAL;
  }

  // Closes the setup program as its user would.
  void CloseSetupProgram() {
    HWND w = SetupWindow();
    ASSERT_NE(nullptr, w);
    PostMessageA(w, WM_CLOSE, 0, 0);
  }

  std::string exe_;
  std::string record_;
  std::vector<std::string> before_;
  e2e::Process bootstrapper_;
};

TEST_F(LaunchTest, WizardHandsOverToTheSetupProgramAndCleansUp) {
  Start("alpha beta");
  HWND wizard = e2e::WaitForWizard(bootstrapper_.Id());
  ASSERT_NE(nullptr, wizard);
  ASSERT_EQ(ExeString(exe_, 204), e2e::ControlText(wizard, 1003));
  ASSERT_TRUE(e2e::ControlEnabled(wizard, 1));

  const DWORD clicked = GetTickCount();
  e2e::Click(wizard, 1);
  const std::string preparing = ExeString(exe_, 213);
  ASSERT_TRUE(e2e::WaitFor([&] { return e2e::ControlText(wizard, 1003) == preparing; }));
  EXPECT_EQ(ExeString(exe_, 203), e2e::ControlText(wizard, 1008));
  EXPECT_FALSE(e2e::ControlEnabled(wizard, 1));
  const std::string installing = ExeString(exe_, 214);
  ASSERT_TRUE(e2e::WaitFor([&] { return e2e::ControlText(wizard, 1003) == installing; }));
  // Step 5 stays up for its one second (timer ticks are coarse).
  EXPECT_GE(GetTickCount() - clicked, 950u);

  std::string commandLine, folder;
  ASSERT_TRUE(WaitForRecord(&commandLine, &folder));
  EXPECT_EQ(" alpha beta", commandLine);
  EXPECT_TRUE(IsNewWorkFolder(folder)) << folder;
  EXPECT_TRUE(e2e::PathExists(folder + "\\setup.exe"));

  // Once the setup program waits for its user the wizard steps aside.
  EXPECT_TRUE(e2e::WaitFor([&] { return !IsWindowVisible(wizard); }));
  EXPECT_TRUE(bootstrapper_.Wait(1000) == false) << "ended before the setup program";

  CloseSetupProgram();
  ASSERT_TRUE(bootstrapper_.Wait(30000));
  EXPECT_FALSE(e2e::PathExists(folder)) << "work folder left behind: " << folder;

  const std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(
      log, {"<begin ", "Creating temp folder", "Temp folder successfully created",
            "Extracting resources in ", "Creating file : ", "Resources extracted",
            "New step reached : 5", "Seeking next step for step 5",
            "Starting installation thread for : ", "command line :  alpha beta<",
            ">Creating process<", "<end ", ">Installation process successfully started<",
            "<begin ", ">Installation terminated<", "Seeking next step for step 6",
            "Deleting temp folder", "Temp folder successfully deleted", "<end "}))
      << log;
  EXPECT_EQ(0, e2e::CountOf(log, "<error ")) << log;
  EXPECT_EQ(2, e2e::CountOf(log, "<begin "));
  EXPECT_EQ(2, e2e::CountOf(log, "<end "));
}

TEST_F(LaunchTest, UpdateSwitchRunsTheSetupProgramWithoutAWindow) {
  for (const char* update : {"/UPDATE", "-update"}) {
    SCOPED_TRACE(update);
    DeleteFileA(record_.c_str());
    e2e::DeleteLog();
    Start(update);
    std::string commandLine, folder;
    ASSERT_TRUE(WaitForRecord(&commandLine, &folder));
    EXPECT_EQ(std::string(" ") + update, commandLine);
    EXPECT_TRUE(IsNewWorkFolder(folder)) << folder;
    EXPECT_EQ(nullptr, e2e::FindTopWindow(bootstrapper_.Id(), "Ravenstock Setup", false));

    ASSERT_TRUE(e2e::WaitFor([] { return SetupWindow() != nullptr; }));
    CloseSetupProgram();
    ASSERT_TRUE(bootstrapper_.Wait(30000));
    EXPECT_FALSE(e2e::PathExists(folder));
    const std::string log = e2e::ReadLog();
    EXPECT_TRUE(e2e::InOrder(log, {"Resources extracted", ">Creating process<",
                                   ">Installation terminated<",
                                   "Temp folder successfully deleted", "<end "}))
        << log;
    EXPECT_EQ(0, e2e::CountOf(log, "New step reached"));
  }
}

TEST_F(LaunchTest, UpdateWithoutASwitchPrefixShowsTheWizard) {
  Start("update");
  HWND wizard = e2e::WaitForWizard(bootstrapper_.Id());
  ASSERT_NE(nullptr, wizard);
  e2e::Click(wizard, 2);
  ASSERT_TRUE(bootstrapper_.Wait(30000));
  EXPECT_TRUE(e2e::ReadFileText(record_).empty()) << "the setup program was started";
}

TEST_F(LaunchTest, CancelWhilePreparingStillStartsTheProgramAndClosesTheWizard) {
  Start("");
  HWND wizard = e2e::WaitForWizard(bootstrapper_.Id());
  ASSERT_NE(nullptr, wizard);
  e2e::Click(wizard, 1);
  const std::string preparing = ExeString(exe_, 213);
  ASSERT_TRUE(e2e::WaitFor([&] { return e2e::ControlText(wizard, 1003) == preparing; }));
  e2e::Click(wizard, 2);

  std::string commandLine, folder;
  ASSERT_TRUE(WaitForRecord(&commandLine, &folder));
  EXPECT_EQ(" ", commandLine);
  // The wizard is gone while the setup program goes on.
  ASSERT_TRUE(bootstrapper_.Wait(30000));
  EXPECT_TRUE(e2e::WaitFor([] { return SetupWindow() != nullptr; }));

  const std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(log, {"Installation process successfully started",
                                 "Deleting temp folder", "<end "}))
      << log;
  EXPECT_EQ(0, e2e::CountOf(log, "Installation terminated"));
  // The folder the running program was started from cannot go: the
  // failure is recorded, and what remains stays for the user.
  EXPECT_TRUE(e2e::PathExists(folder));
  EXPECT_TRUE(e2e::InOrder(log, {"Deleting temp folder",
                                 "message=\"An error occured while deleting temp folder\""}))
      << log;
  CloseSetupProgram();
  e2e::WaitFor([] { return SetupWindow() == nullptr; }, 10000);
  RemoveTree(folder);
}

}  // namespace
