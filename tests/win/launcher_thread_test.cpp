// The launcher run for real: it starts the demo setup program, waits for
// it and reports to a recording window.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "launcher/launcher.h"
#include "log/session_log.h"
#include "support/e2e.h"
#include "support/wizard_session.h"
#include "support/worker_recorder.h"
#include "wizard/params.h"

namespace {

class LauncherThreadTest : public e2e::WizardSession {
 protected:
  void SetUp() override {
    // Not named like a work folder, so tests that count those are not misled.
    folder_ = e2e::TempDir() + "launcher-test";
    CreateDirectoryA(folder_.c_str(), nullptr);
    const std::string demo = e2e::BuildDir() + "\\win32\\demo\\payload\\setup.exe";
    ASSERT_TRUE(CopyFileA(demo.c_str(), (folder_ + "\\setup.exe").c_str(), FALSE))
        << "the demo setup program is missing: " << demo;
    record_ = folder_ + "\\started.txt";
    SetEnv("RAVEN_SETUP_RECORD", record_);
    SetEnv("RAVEN_SETUP_EXIT", "7");
    e2e::DeleteLog();
    params_.window = recorder_.Window();
    params_.programPath = folder_ + "\\setup.exe";
    params_.folder = folder_ + "\\";
    params_.commandLine = " alpha beta";
    params_.owner = &owner_;
  }

  void TearDown() override {
    WizardSession::TearDown();
    e2e::RemoveTree(folder_);
  }

  // Runs the thread to its end, which must come and return 0.
  void Run(const std::function<void()>& during, DWORD timeoutMs = 30000) {
    DWORD code = 1;
    ASSERT_TRUE(e2e::RunWorkerThread(InstallationThread, &params_, during, timeoutMs, &code));
    EXPECT_EQ(0u, code);
    log_ = e2e::ReadLog();
  }

  UINT LastMessage() const {
    return recorder_.messages.empty() ? 0 : recorder_.messages.back().id;
  }

  CSessionLog session_{"Ravenstock", "BootStrap"};
  e2e::RecorderOwner owner_{&session_};
  e2e::MessageRecorder recorder_{true};
  ProcessParams params_;
  std::string folder_, record_, log_;
};

TEST_F(LauncherThreadTest, RunsTheProgramHidesTheWizardAndReportsTheEnd) {
  // Close the program once the wizard has been told to hide: it then waits
  // for input, which is what the launcher looks for.
  Run([this] {
    if (recorder_.Count(WM_HIDE_WIZARD) > 0)
      for (HWND h : e2e::SetupProgramWindows()) PostMessageA(h, WM_CLOSE, 0, 0);
  });
  // What the program got and the records are checked end to end.
  EXPECT_GE(recorder_.Count(WM_HIDE_WIZARD), 1);
  EXPECT_EQ(0, recorder_.Count(WM_WORKER_CANCELLED));
  EXPECT_EQ(1, recorder_.Count(WM_SETUP_DONE));
  ASSERT_EQ(static_cast<UINT>(WM_SETUP_DONE), LastMessage());
  EXPECT_EQ(reinterpret_cast<LPARAM>(&params_), recorder_.messages.back().lParam);
  EXPECT_EQ(7u, recorder_.messages.back().exitCode);
  EXPECT_FALSE(params_.stop);
  EXPECT_EQ(0, e2e::CountOf(log_, "<error "));
}

TEST_F(LauncherThreadTest, CancelEndsTheWaitWithinASecondAndLeavesTheProgramRunning) {
  DWORD cancelledAt = 0;
  Run([&] {
    if (cancelledAt == 0 && recorder_.Count(WM_HIDE_WIZARD) > 0) {
      cancelledAt = GetTickCount();
      params_.stop = true;
    }
  });
  ASSERT_NE(0u, cancelledAt);
  // One wait slice, with room for a busy machine.
  EXPECT_LT(GetTickCount() - cancelledAt, 3000u);
  EXPECT_FALSE(e2e::SetupProgramWindows().empty()) << "the setup program must go on running";
  ASSERT_EQ(static_cast<UINT>(WM_WORKER_CANCELLED), LastMessage());
  EXPECT_EQ(static_cast<unsigned long>(STILL_ACTIVE), recorder_.messages.back().exitCode);
  EXPECT_EQ(0, recorder_.Count(WM_SETUP_DONE));
  EXPECT_TRUE(e2e::InOrder(log_, {"<end ", "<begin ", ">Installation terminated<"}));
}

TEST_F(LauncherThreadTest, AProgramThatCannotStartIsReportedAsCancelled) {
  // A missing program, and an empty program name (the path is then the
  // work folder itself).
  for (const std::string& path : {folder_ + "\\missing.exe", folder_ + "\\"}) {
    SCOPED_TRACE(path);
    recorder_.messages.clear();
    e2e::DeleteLog();
    params_.programPath = path;
    params_.stop = false;
    params_.exitCode = 12345;
    Run(nullptr, 10000);
    ASSERT_EQ(1u, recorder_.messages.size());
    EXPECT_EQ(static_cast<UINT>(WM_WORKER_CANCELLED), LastMessage());
    EXPECT_EQ(12345u, params_.exitCode);  // nothing ran, so nothing is read
    EXPECT_TRUE(params_.stop);
    EXPECT_TRUE(e2e::InOrder(
        log_, {">Creating process<", "<end ",
               "message=\"Error while creating process for installation\">",
               "<exception status=\"", ">Terminating installation thread<"}))
        << log_;
    EXPECT_EQ(0, e2e::CountOf(log_, "successfully started"));
    EXPECT_EQ(0, e2e::CountOf(log_, "<begin "));
  }
  EXPECT_TRUE(e2e::ReadFileText(record_).empty());
}

TEST_F(LauncherThreadTest, WithoutAWindowItSendsNothingAndServesTheCallersWindows) {
  // As in update mode: run on this thread with no window to tell. The
  // program closes itself once idle; meanwhile a timer of this thread's
  // window must still be served by the launcher's loop.
  SetEnv("RAVEN_SETUP_AUTOCLOSE", "1500");
  params_.window = nullptr;
  SetTimer(recorder_.Window(), 1, 200, nullptr);
  EXPECT_EQ(0u, InstallationThread(&params_));
  EXPECT_EQ(7u, params_.exitCode);
  EXPECT_FALSE(params_.stop);
  ASSERT_EQ(1u, recorder_.messages.size()) << "only the timer";
  EXPECT_EQ(static_cast<UINT>(WM_TIMER), LastMessage()) << "the caller's window went unserved";
  EXPECT_TRUE(e2e::InOrder(e2e::ReadLog(), {"<end ", "<begin ", ">Installation terminated<",
                                            ">Terminating installation thread<"}));
}

}  // namespace
