// The real bootstrapper with the demo payload, on a machine that has the
// framework: the wizard's way to the setup program and update mode.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/wizard_session.h"

namespace {

class LaunchTest : public e2e::WizardSession {
 protected:
  void SetUp() override {
    WizardSession::SetUp();
    e2e::SetFrameworkInstalled(true);
    record_ = ScratchFile("launch-record.txt");
    SetEnv("RAVEN_SETUP_RECORD", record_);
    before_ = e2e::WorkFolders();
  }

  // The setup program's command line; *folder gets its current folder,
  // which must be a work folder made by this run.
  std::string StartedIn(std::string* folder) {
    std::string commandLine;
    EXPECT_TRUE(e2e::ReadSetupRecord(record_, &commandLine, folder));
    const std::vector<std::string> fresh = e2e::NewWorkFolders(before_);
    EXPECT_EQ(1u, fresh.size());
    if (!fresh.empty()) {
      EXPECT_EQ(0, lstrcmpiA(fresh[0].c_str(), folder->c_str())) << *folder;
    }
    return commandLine;
  }

  // Closes the setup program as its user would.
  void CloseSetupProgram() {
    ASSERT_TRUE(e2e::WaitFor([] { return !e2e::SetupProgramWindows().empty(); }));
    PostMessageA(e2e::SetupProgramWindows()[0], WM_CLOSE, 0, 0);
  }

  std::string record_;
  std::vector<std::string> before_;
};

TEST_F(LaunchTest, WizardHandsOverToTheSetupProgramAndCleansUp) {
  Start("launch", "alpha beta");
  ASSERT_EQ(Str(204), Text(IDC_STATUS_TEXT));
  const DWORD clicked = GetTickCount();
  Press(IDOK);
  ASSERT_TRUE(WaitText(IDC_STATUS_TEXT, Str(213)));
  EXPECT_EQ(Str(203), Text(IDC_TITLE));
  EXPECT_FALSE(Enabled(IDOK));
  Shot("wizard-5-preparing");
  ASSERT_TRUE(WaitText(IDC_STATUS_TEXT, Str(214)));
  Shot("wizard-6-running-setup");
  // Step 5 stays up for its one second (timer ticks are coarse).
  EXPECT_GE(GetTickCount() - clicked, 950u);

  std::string folder;
  EXPECT_EQ(" alpha beta", StartedIn(&folder));
  EXPECT_TRUE(e2e::PathExists(folder + "\\setup.exe"));

  // Once the setup program waits for its user the wizard steps aside.
  EXPECT_TRUE(e2e::WaitFor([&] { return !IsWindowVisible(wizard_); }));
  EXPECT_FALSE(EndsSoon(1000)) << "ended before the setup program";

  CloseSetupProgram();
  ASSERT_TRUE(EndsSoon(30000));
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
    before_ = e2e::WorkFolders();
    Launch("launch", update);
    std::string folder;
    EXPECT_EQ(std::string(" ") + update, StartedIn(&folder));
    EXPECT_EQ(nullptr, e2e::FindTopWindow(bootstrapper_.Id(), "Ravenstock Setup", false));

    CloseSetupProgram();
    ASSERT_TRUE(EndsSoon(30000));
    EXPECT_FALSE(e2e::PathExists(folder));
    const std::string log = e2e::ReadLog();
    EXPECT_TRUE(e2e::InOrder(log, {"Resources extracted", ">Creating process<",
                                   ">Installation terminated<",
                                   "Temp folder successfully deleted", "<end "}))
        << log;
    EXPECT_EQ(0, e2e::CountOf(log, "New step reached"));
  }
  // Without a switch prefix the word is an ordinary argument.
  DeleteFileA(record_.c_str());
  Start("launch", "update");
  Press(IDCANCEL);
  ASSERT_TRUE(EndsSoon(30000));
  EXPECT_TRUE(e2e::ReadFileText(record_).empty()) << "the setup program was started";
}

}  // namespace
