// The framework install worker run for real: it starts the stand-in
// redistributable, waits for it, installs the test package it unpacked
// through the Windows Installer and reports to a recording window.
#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/detection.h"
#include "framework/install_command.h"
#include "framework/installer_progress.h"
#include "framework/workers.h"
#include "log/session_log.h"
#include "support/e2e.h"
#include "support/wizard_session.h"
#include "support/worker_recorder.h"
#include "wizard/params.h"

namespace {

bool Contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

class InstallWorkerTest : public e2e::WizardSession {
 protected:
  void SetUp() override {
    InstallerHandlerState() = InstallerProgress();
    e2e::RemoveFrameworkPackage();
    ASSERT_TRUE(IsFrameworkMissing());
    root_ = e2e::TempDir() + "install-worker-test\\";
    CreateDirectoryA(root_.c_str(), nullptr);
    record_ = ScratchFile("install-worker-redist-record.txt");
    SetEnv("RAVEN_REDIST_RECORD", record_);
    e2e::DeleteLog();
    params_.window = recorder_.Window();
    params_.programPath = e2e::FixtureExe("redist\\dotnetfx.exe");
    params_.folder = root_ + "dotnetfx\\";
    params_.commandLine = FrameworkUnpackCommandLine(params_.folder);
    params_.owner = &owner_;
  }

  void TearDown() override {
    // The handler stays registered with this block as its context: take
    // it away before the block goes.
    MsiSetExternalUIA(nullptr, 0, nullptr);
    WizardSession::TearDown();
    e2e::RemoveFrameworkPackage();
    e2e::RemoveTree(root_);
  }

  // The worker ran and sent exactly one message, of this kind.
  void Run(UINT expectedMessage) {
    EXPECT_EQ(0u, FrameworkInstallWorker(&params_));
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    log_ = e2e::ReadLog();
    info_ = e2e::LogInfoTexts(log_);
    ASSERT_EQ(1u, recorder_.messages.size());
    EXPECT_EQ(expectedMessage, recorder_.messages[0].id);
    EXPECT_EQ(reinterpret_cast<LPARAM>(&params_), recorder_.messages[0].lParam);
  }

  std::string root_, record_, log_;
  std::vector<std::string> info_;
  CSessionLog session_{"Ravenstock", "BootStrap"};
  e2e::RecorderOwner owner_{&session_};
  e2e::MessageRecorder recorder_{true};
  ProcessParams params_;
};

TEST_F(InstallWorkerTest, InstallsThePackageTheRedistributableUnpacked) {
  Run(WM_FRAMEWORK_INSTALL_DONE);
  EXPECT_EQ(0u, params_.exitCode);
  EXPECT_FALSE(params_.failed);
  EXPECT_FALSE(IsFrameworkMissing());
  EXPECT_EQ(0u, recorder_.messages[0].exitCode);

  ASSERT_GE(info_.size(), 2u);
  EXPECT_EQ("Starting .net installation thread for : " + params_.programPath +
                ", folder : " + params_.folder + ", command line : " + params_.commandLine,
            info_.front());
  EXPECT_EQ("Installing .net : Ok", info_[info_.size() - 2]);

  // Unpacking, then installing: two status texts, the bar shown at 0 of
  // 100, then the installer's own reset and reports move it.
  ASSERT_GT(owner_.calls.size(), 4u);
  EXPECT_EQ(0u, owner_.calls[0].find("status ["));
  EXPECT_EQ(0u, owner_.calls[1].find("status ["));
  EXPECT_EQ("show bar", owner_.calls[2]);
  EXPECT_EQ("progress 0/100", owner_.calls[3]);
  EXPECT_TRUE(std::any_of(owner_.calls.begin() + 4, owner_.calls.end(),
                          [](const std::string& c) { return c.rfind("progress 0/", 0) == 0; }));
  EXPECT_TRUE(owner_.Called("offset "));

  // The redistributable got the command line as given, leading space
  // included, and ran in its own folder.
  const std::string program = params_.programPath;
  EXPECT_EQ(params_.commandLine + "\n" + program.substr(0, program.rfind('\\')) + "\n",
            e2e::ReadFileText(record_));
}

// A program that cannot start goes no further, and the record keeps the
// system's code (a failed unpack is driven end to end).
TEST_F(InstallWorkerTest, MissingProgramSkipsTheInstallation) {
  params_.programPath = root_ + "dotnetfx.exe";
  params_.exitCode = 77;  // not started: the member keeps its value
  Run(WM_FRAMEWORK_INSTALL_DONE);
  EXPECT_TRUE(params_.failed);
  EXPECT_EQ(77u, params_.exitCode);
  EXPECT_TRUE(e2e::InOrder(log_, {"message=\"Error while creating process for .net installation\"",
                                  "<exception status=\"2\""}))
      << log_;
  EXPECT_FALSE(Contains(info_, "Unpacking .net setup"));
  EXPECT_TRUE(owner_.calls.empty());
  EXPECT_TRUE(recorder_.messages[0].failed);
}

TEST_F(InstallWorkerTest, CancelDuringInstallationEndsCancelled) {
  SetEnv("RAVEN_REDIST_PACKAGE", "cancel");
  // The user presses Cancel once the installation has begun.
  owner_.onCall = [this](const std::string& call) {
    if (call.rfind("progress ", 0) == 0) params_.stop = true;
  };
  Run(WM_WORKER_CANCELLED);
  EXPECT_EQ(1602u, params_.exitCode);
  EXPECT_TRUE(params_.failed);
  EXPECT_TRUE(e2e::InOrder(log_, {"message=\"Error while installing .net\"",
                                  "<exception status=\"1602\""}));
  EXPECT_EQ("Terminating .net installation thread", info_.back());
}

TEST_F(InstallWorkerTest, RestartRequiredCountsAsFailure) {
  SetEnv("RAVEN_REDIST_PACKAGE", "reboot");
  Run(WM_FRAMEWORK_INSTALL_DONE);
  EXPECT_EQ(3010u, params_.exitCode);
  EXPECT_TRUE(params_.failed);
  EXPECT_NE(std::string::npos, log_.find("<exception status=\"3010\""));
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiConfigureProductA("{CE999845-B5D4-4DC0-AD94-77D6E05E1023}",
                       INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
}

TEST_F(InstallWorkerTest, StopBeforeStartLeavesTheUnpackRunning) {
  // The redistributable is still started, but not waited for: it is still
  // running when its exit code is read.
  SetEnv("RAVEN_REDIST_DELAY_MS", "3000");
  params_.stop = true;
  Run(WM_WORKER_CANCELLED);
  EXPECT_EQ(static_cast<unsigned long>(STILL_ACTIVE), params_.exitCode);
  EXPECT_TRUE(params_.failed);
  EXPECT_FALSE(Contains(info_, "Unpacking .net setup"));
  // It goes on alone and places the package; wait for that (the file can
  // be deleted once it has finished writing) before the folder goes.
  const std::string package = params_.folder + "netfx.msi";
  EXPECT_TRUE(e2e::WaitFor([&package] { return DeleteFileA(package.c_str()) != FALSE; }, 20000));
}

}  // namespace
