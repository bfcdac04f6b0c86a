// The framework install worker run for real: it starts the stand-in
// redistributable, waits for it, installs the test package it unpacked
// through the Windows Installer and reports to a window that records what
// it is sent.
#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/detection.h"
#include "framework/install_command.h"
#include "framework/installer_progress.h"
#include "framework/workers.h"
#include "log/session_log.h"
#include "support/e2e.h"
#include "wizard/messages.h"
#include "wizard/params.h"

namespace {

const char kFrameworkProduct[] = "{0F482E6F-842E-40EF-8E3F-C770D0AFF0EB}";

// Records the wizard operations in order. `stopWhenInstallStarts` plays
// the user who presses Cancel once the installation has begun.
class RecorderOwner : public WizardOwner {
 public:
  CSessionLog* GetSessionLog() override { return &log_; }
  void SetStatusText(const std::string&) override { calls.push_back("status"); }
  void SetDetailText(const std::string&) override { calls.push_back("detail"); }
  void ShowProgressBar(bool show) override {
    calls.push_back(show ? "show bar" : "hide bar");
  }
  void EnableCancelButton(bool) override { calls.push_back("cancel button"); }
  void SetProgress(int position, int maximum) override {
    calls.push_back("progress " + std::to_string(position) + "/" +
                    std::to_string(maximum));
    if (stopWhenInstallStarts != nullptr) stopWhenInstallStarts->stop = true;
  }
  void SetProgressStep(int) override { calls.push_back("step"); }
  void StepProgress() override { calls.push_back("stepit"); }
  void OffsetProgress(int) override { calls.push_back("offset"); }
  void ExtendProgressRange(int) override { calls.push_back("extend"); }
  void UpdateInstallPercent() override { calls.push_back("percent"); }

  std::vector<std::string> calls;
  ProcessParams* stopWhenInstallStarts = nullptr;

 private:
  CSessionLog log_{"Ravenstock", "BootStrap"};
};

struct Received {
  UINT message;
  LPARAM lParam;
  unsigned long exitCode;  // the block as the wizard would see it
  bool failed;
};

std::vector<Received> g_received;

LRESULT CALLBACK RecorderProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_FRAMEWORK_INSTALL_DONE || msg == WM_WORKER_CANCELLED) {
    const ProcessParams* p = reinterpret_cast<const ProcessParams*>(lp);
    g_received.push_back({msg, lp, p->exitCode, p->failed});
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

HWND MakeRecorderWindow() {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = RecorderProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "RavenInstallRecorder";
  RegisterClassA(&wc);  // fails harmlessly when already registered
  return CreateWindowA("RavenInstallRecorder", "recorder", WS_OVERLAPPED, 0,
                       0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
}

void RemoveFrameworkPackage() {
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiConfigureProductA(kFrameworkProduct, INSTALLLEVEL_DEFAULT,
                       INSTALLSTATE_ABSENT);
  e2e::SetFrameworkInstalled(false);
}

bool Contains(const std::vector<std::string>& v, const std::string& s) {
  for (const std::string& x : v)
    if (x == s) return true;
  return false;
}

class InstallWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_received.clear();
    InstallerHandlerState() = InstallerProgress();
    RemoveFrameworkPackage();
    ASSERT_TRUE(IsFrameworkMissing());
    root_ = e2e::TempDir() + "install-worker-test\\";
    CreateDirectoryA(root_.c_str(), nullptr);
    record_ = root_ + "redist-record.txt";
    DeleteFileA(record_.c_str());
    SetEnvironmentVariableA("RAVEN_REDIST_RECORD", record_.c_str());
    e2e::DeleteLog();
    window_ = MakeRecorderWindow();
    ASSERT_NE(nullptr, window_);

    params_.window = window_;
    params_.programPath = e2e::FixtureExe("redist\\dotnetfx.exe");
    params_.folder = root_ + "dotnetfx\\";
    params_.commandLine = FrameworkUnpackCommandLine(params_.folder);
    params_.owner = &owner_;
  }

  void TearDown() override {
    // The handler stays registered with this block as its context: take
    // it away before the block goes.
    MsiSetExternalUIA(nullptr, 0, nullptr);
    if (window_ != nullptr) DestroyWindow(window_);
    for (const char* name : {"RAVEN_REDIST_RECORD", "RAVEN_REDIST_EXIT",
                             "RAVEN_REDIST_PACKAGE", "RAVEN_REDIST_DELAY_MS"})
      SetEnvironmentVariableA(name, nullptr);
    RemoveFrameworkPackage();
    DeleteFileA((params_.folder + "netfx.msi").c_str());
    RemoveDirectoryA(params_.folder.c_str());
    DeleteFileA(record_.c_str());
    RemoveDirectoryA(root_.c_str());
  }

  void Run() { EXPECT_EQ(0u, FrameworkInstallWorker(&params_)); }

  std::vector<std::string> InfoTexts() {
    return e2e::LogInfoTexts(e2e::ReadLog());
  }

  std::string root_, record_;
  HWND window_ = nullptr;
  RecorderOwner owner_;
  ProcessParams params_;
};

TEST_F(InstallWorkerTest, InstallsThePackageTheRedistributableUnpacked) {
  Run();
  EXPECT_EQ(0u, params_.exitCode);
  EXPECT_FALSE(params_.failed);
  EXPECT_FALSE(IsFrameworkMissing());

  ASSERT_EQ(1u, g_received.size());
  EXPECT_EQ(static_cast<UINT>(WM_FRAMEWORK_INSTALL_DONE), g_received[0].message);
  EXPECT_EQ(reinterpret_cast<LPARAM>(&params_), g_received[0].lParam);
  EXPECT_EQ(0u, g_received[0].exitCode);

  const std::vector<std::string> info = InfoTexts();
  const std::vector<std::string> expected = {
      "Starting .net installation thread for : " + params_.programPath +
          ", folder : " + params_.folder + ", command line : " +
          params_.commandLine,
      ".net installation process successfully started", "Unpacking .net setup",
      ".net setup unpacked", "Installing .net", "Installing .net : Ok",
      "Terminating .net installation thread"};
  EXPECT_EQ(expected, info);

  // Unpacking, then installing: two status texts, the bar shown at 0 of
  // 100, then the installer's own reset and reports move it.
  ASSERT_GE(owner_.calls.size(), 5u);
  EXPECT_EQ("status", owner_.calls[0]);
  EXPECT_EQ("status", owner_.calls[1]);
  EXPECT_EQ("show bar", owner_.calls[2]);
  EXPECT_EQ("progress 0/100", owner_.calls[3]);
  EXPECT_GT(owner_.calls.size(), 4u);
  bool installerReset = false;
  for (std::size_t i = 4; i < owner_.calls.size(); ++i)
    installerReset |= owner_.calls[i].rfind("progress 0/", 0) == 0;
  EXPECT_TRUE(installerReset);
  EXPECT_TRUE(Contains(owner_.calls, "offset"));

  // The redistributable got the command line as given, leading space
  // included, and ran in its own folder.
  const std::string program = params_.programPath;
  EXPECT_EQ(params_.commandLine + "\n" + program.substr(0, program.rfind('\\')) + "\n",
            e2e::ReadFileText(record_));
}

TEST_F(InstallWorkerTest, FailedUnpackSkipsTheInstallation) {
  SetEnvironmentVariableA("RAVEN_REDIST_EXIT", "1");
  Run();
  EXPECT_TRUE(params_.failed);
  EXPECT_EQ(1u, params_.exitCode);
  EXPECT_TRUE(IsFrameworkMissing());
  ASSERT_EQ(1u, g_received.size());
  EXPECT_EQ(static_cast<UINT>(WM_FRAMEWORK_INSTALL_DONE), g_received[0].message);
  EXPECT_TRUE(g_received[0].failed);

  const std::vector<std::string> info = InfoTexts();
  EXPECT_TRUE(Contains(info, ".net setup unpacked"));
  EXPECT_FALSE(Contains(info, "Installing .net"));
  EXPECT_EQ("Terminating .net installation thread", info.back());
  EXPECT_FALSE(Contains(owner_.calls, "show bar"));
}

TEST_F(InstallWorkerTest, MissingProgramIsRecordedWithTheSystemCode) {
  params_.programPath = root_ + "dotnetfx.exe";
  params_.exitCode = 77;  // not started: the member keeps its value
  Run();
  EXPECT_TRUE(params_.failed);
  EXPECT_EQ(77u, params_.exitCode);
  ASSERT_EQ(1u, g_received.size());
  EXPECT_EQ(static_cast<UINT>(WM_FRAMEWORK_INSTALL_DONE), g_received[0].message);

  const std::string log = e2e::ReadLog();
  EXPECT_NE(std::string::npos,
            log.find("message=\"Error while creating process for .net installation\""));
  EXPECT_NE(std::string::npos, log.find("<exception status=\"2\"")) << log;
  const std::vector<std::string> info = e2e::LogInfoTexts(log);
  EXPECT_FALSE(Contains(info, "Unpacking .net setup"));
  EXPECT_FALSE(Contains(info, "Installing .net"));
  EXPECT_TRUE(owner_.calls.empty());
}

TEST_F(InstallWorkerTest, CancelDuringInstallationEndsCancelled) {
  SetEnvironmentVariableA("RAVEN_REDIST_PACKAGE", "cancel");
  owner_.stopWhenInstallStarts = &params_;
  Run();
  EXPECT_EQ(1602u, params_.exitCode);
  EXPECT_TRUE(params_.failed);
  ASSERT_EQ(1u, g_received.size());
  EXPECT_EQ(static_cast<UINT>(WM_WORKER_CANCELLED), g_received[0].message);
  EXPECT_EQ(reinterpret_cast<LPARAM>(&params_), g_received[0].lParam);

  const std::string log = e2e::ReadLog();
  EXPECT_NE(std::string::npos, log.find("message=\"Error while installing .net\""));
  EXPECT_NE(std::string::npos, log.find("<exception status=\"1602\""));
  EXPECT_EQ("Terminating .net installation thread", e2e::LogInfoTexts(log).back());
}

TEST_F(InstallWorkerTest, RestartRequiredCountsAsFailure) {
  SetEnvironmentVariableA("RAVEN_REDIST_PACKAGE", "reboot");
  Run();
  EXPECT_EQ(3010u, params_.exitCode);
  EXPECT_TRUE(params_.failed);
  ASSERT_EQ(1u, g_received.size());
  EXPECT_EQ(static_cast<UINT>(WM_FRAMEWORK_INSTALL_DONE), g_received[0].message);
  EXPECT_NE(std::string::npos, e2e::ReadLog().find("<exception status=\"3010\""));
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiConfigureProductA("{CE999845-B5D4-4DC0-AD94-77D6E05E1023}",
                       INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
}

TEST_F(InstallWorkerTest, StopBeforeStartLeavesTheUnpackRunning) {
  // The redistributable is still started, but not waited for: it is still
  // running when its exit code is read.
  SetEnvironmentVariableA("RAVEN_REDIST_DELAY_MS", "3000");
  params_.stop = true;
  Run();
  EXPECT_EQ(static_cast<unsigned long>(STILL_ACTIVE), params_.exitCode);
  EXPECT_TRUE(params_.failed);
  ASSERT_EQ(1u, g_received.size());
  EXPECT_EQ(static_cast<UINT>(WM_WORKER_CANCELLED), g_received[0].message);
  const std::vector<std::string> info = InfoTexts();
  EXPECT_FALSE(Contains(info, "Unpacking .net setup"));
  EXPECT_FALSE(Contains(info, "Installing .net"));
  // It goes on alone and places the package; wait for that (the file can
  // be deleted once it has finished writing) before the folder goes.
  const std::string package = params_.folder + "netfx.msi";
  EXPECT_TRUE(e2e::WaitFor(
      [&package] { return DeleteFileA(package.c_str()) != FALSE; }, 20000));
}

}  // namespace
