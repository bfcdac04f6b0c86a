// The launcher run for real: it starts the demo setup program, waits for
// it and reports to a window that records what it is sent.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "log/session_log.h"
#include "support/e2e.h"
#include "wizard/messages.h"
#include "wizard/params.h"

namespace {

const char kSetupTitle[] = "Ravenstock Setup Program (demo)";

class RecorderOwner : public WizardOwner {
 public:
  CSessionLog* GetSessionLog() override { return &log_; }
  void SetStatusText(const std::string&) override {}
  void SetDetailText(const std::string&) override {}
  void ShowProgressBar(bool) override {}
  void EnableCancelButton(bool) override {}
  void SetProgress(int, int) override {}
  void SetProgressStep(int) override {}
  void StepProgress() override {}
  void OffsetProgress(int) override {}
  void ExtendProgressRange(int) override {}
  void UpdateInstallPercent() override {}

 private:
  CSessionLog log_{"Ravenstock", "BootStrap"};
};

struct Received {
  UINT message;
  LPARAM lParam;
  unsigned long exitCode;  // the block's exit code when the message came
};

std::vector<Received> g_received;

LRESULT CALLBACK RecorderProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_SETUP_DONE || msg == WM_WORKER_CANCELLED || msg == WM_HIDE_WIZARD ||
      msg == WM_TIMER) {
    unsigned long code = 0;
    if (msg != WM_TIMER && lp != 0) code = reinterpret_cast<ProcessParams*>(lp)->exitCode;
    g_received.push_back({msg, lp, code});
    if (msg == WM_TIMER) KillTimer(hwnd, wp);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

HWND MakeRecorderWindow() {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = RecorderProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "RavenLauncherRecorder";
  RegisterClassA(&wc);  // fails harmlessly when already registered
  return CreateWindowA("RavenLauncherRecorder", "recorder", WS_OVERLAPPED, 0, 0, 10,
                       10, nullptr, nullptr, wc.hInstance, nullptr);
}

int Count(UINT message) {
  int n = 0;
  for (const Received& r : g_received) n += r.message == message;
  return n;
}

// Top-level windows of the demo setup program (any process).
std::vector<HWND> SetupWindows() {
  std::vector<HWND> found;
  HWND h = nullptr;
  while ((h = FindWindowExA(nullptr, h, nullptr, kSetupTitle)) != nullptr)
    found.push_back(h);
  return found;
}

void CloseSetupPrograms() {
  for (HWND h : SetupWindows()) PostMessageA(h, WM_CLOSE, 0, 0);
  e2e::WaitFor([] { return SetupWindows().empty(); }, 10000);
}

class LauncherThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_received.clear();
    // Not named like a work folder, so tests that count those are not misled.
    folder_ = e2e::TempDir() + "launcher-test";
    CreateDirectoryA(folder_.c_str(), nullptr);
    const std::string demo = e2e::BuildDir() + "\\win32\\demo\\payload\\setup.exe";
    ASSERT_TRUE(CopyFileA(demo.c_str(), (folder_ + "\\setup.exe").c_str(), FALSE))
        << "the demo setup program is missing: " << demo;
    record_ = folder_ + "\\started.txt";
    DeleteFileA(record_.c_str());
    SetEnvironmentVariableA("RAVEN_SETUP_RECORD", record_.c_str());
    SetEnvironmentVariableA("RAVEN_SETUP_EXIT", "7");
    SetEnvironmentVariableA("RAVEN_SETUP_AUTOCLOSE", nullptr);
    e2e::DeleteLog();
    window_ = MakeRecorderWindow();
    ASSERT_NE(nullptr, window_);

    params_.window = window_;
    params_.programPath = folder_ + "\\setup.exe";
    params_.folder = folder_ + "\\";
    params_.commandLine = " alpha beta";
    params_.owner = &owner_;
  }

  void TearDown() override {
    CloseSetupPrograms();
    if (window_ != nullptr) DestroyWindow(window_);
    SetEnvironmentVariableA("RAVEN_SETUP_RECORD", nullptr);
    SetEnvironmentVariableA("RAVEN_SETUP_EXIT", nullptr);
    SetEnvironmentVariableA("RAVEN_SETUP_AUTOCLOSE", nullptr);
    DeleteFileA(record_.c_str());
    DeleteFileA((folder_ + "\\setup.exe").c_str());
    RemoveDirectoryA(folder_.c_str());
  }

  // Starts the launcher thread and serves this thread's messages (the
  // launcher's sends need that) until it ends; `during` runs between
  // turns. Returns the milliseconds from `mark` being set to the end,
  // or -1 when the thread did not end within timeoutMs.
  long RunThread(const std::function<void()>& during, DWORD timeoutMs = 30000) {
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, InstallationThread, &params_, 0, &id);
    EXPECT_NE(nullptr, thread);
    if (thread == nullptr) return -1;
    const DWORD start = GetTickCount();
    bool ended = false;
    while (GetTickCount() - start < timeoutMs) {
      const DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, 50, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      if (r == WAIT_OBJECT_0) {
        ended = true;
        break;
      }
      if (during) during();
    }
    DWORD code = 1;
    if (ended) {
      GetExitCodeThread(thread, &code);
      EXPECT_EQ(0u, code);
    }
    CloseHandle(thread);
    if (!ended) return -1;
    return mark_ == 0 ? 0 : static_cast<long>(GetTickCount() - mark_);
  }

  // The first line the setup program recorded: command line, tab, folder.
  bool ReadRecord(std::string* commandLine, std::string* currentFolder) {
    if (!e2e::WaitFor([&] { return !e2e::ReadFileText(record_).empty(); }, 10000))
      return false;
    std::string text = e2e::ReadFileText(record_);
    text = text.substr(0, text.find_first_of("\r\n"));
    const size_t tab = text.find('\t');
    if (tab == std::string::npos) return false;
    *commandLine = text.substr(0, tab);
    *currentFolder = text.substr(tab + 1);
    return true;
  }

  RecorderOwner owner_;
  ProcessParams params_;
  HWND window_ = nullptr;
  std::string folder_;
  std::string record_;
  DWORD mark_ = 0;
};

TEST_F(LauncherThreadTest, RunsTheProgramHidesTheWizardAndReportsTheEnd) {
  // Close the program once the wizard has been told to hide: it then waits
  // for input, which is what the launcher looks for.
  ASSERT_GE(RunThread([] {
              if (Count(WM_HIDE_WIZARD) > 0)
                for (HWND h : SetupWindows()) PostMessageA(h, WM_CLOSE, 0, 0);
            }),
            0);

  std::string commandLine, current;
  ASSERT_TRUE(ReadRecord(&commandLine, &current));
  EXPECT_EQ(" alpha beta", commandLine);
  EXPECT_EQ(0, lstrcmpiA(folder_.c_str(), current.c_str())) << current;

  ASSERT_FALSE(g_received.empty());
  EXPECT_GE(Count(WM_HIDE_WIZARD), 1);
  EXPECT_EQ(0, Count(WM_WORKER_CANCELLED));
  const Received& last = g_received.back();
  EXPECT_EQ(static_cast<UINT>(WM_SETUP_DONE), last.message);
  EXPECT_EQ(reinterpret_cast<LPARAM>(&params_), last.lParam);
  EXPECT_EQ(7u, last.exitCode);
  EXPECT_EQ(1, Count(WM_SETUP_DONE));
  EXPECT_FALSE(params_.stop);

  const std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(
      log, {"Starting installation thread for : " + params_.programPath + ", folder : " +
                params_.folder + ", command line :  alpha beta<",
            ">Creating process<", "<end ", ">Installation process successfully started<",
            "<begin ", ">Installation terminated<", ">Terminating installation thread<"}))
      << log;
  EXPECT_EQ(0, e2e::CountOf(log, "<error "));
}

TEST_F(LauncherThreadTest, AStopRaisedBeforehandStillStartsButDoesNotWait) {
  params_.stop = true;
  const long ms = RunThread(nullptr, 10000);
  ASSERT_GE(ms, 0);
  // The program was started and is left running.
  std::string commandLine, current;
  ASSERT_TRUE(ReadRecord(&commandLine, &current));
  EXPECT_TRUE(e2e::WaitFor([] { return !SetupWindows().empty(); }, 10000));

  ASSERT_EQ(1u, g_received.size());
  EXPECT_EQ(static_cast<UINT>(WM_WORKER_CANCELLED), g_received[0].message);
  EXPECT_EQ(static_cast<unsigned long>(STILL_ACTIVE), g_received[0].exitCode);

  const std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(log, {">Creating process<", "<end ",
                                 ">Installation process successfully started<",
                                 ">Terminating installation thread<"}))
      << log;
  EXPECT_EQ(0, e2e::CountOf(log, "<begin "));
  EXPECT_EQ(0, e2e::CountOf(log, "Installation terminated"));
}

TEST_F(LauncherThreadTest, CancelEndsTheWaitWithinASecondAndLeavesTheProgramRunning) {
  bool cancelled = false;
  const long ms = RunThread([&] {
    if (!cancelled && Count(WM_HIDE_WIZARD) > 0) {
      cancelled = true;
      mark_ = GetTickCount();
      params_.stop = true;
    }
  });
  ASSERT_TRUE(cancelled);
  ASSERT_GE(ms, 0);
  // One wait slice, with room for a busy machine.
  EXPECT_LT(ms, 3000);
  EXPECT_FALSE(SetupWindows().empty()) << "the setup program must go on running";

  ASSERT_FALSE(g_received.empty());
  EXPECT_EQ(static_cast<UINT>(WM_WORKER_CANCELLED), g_received.back().message);
  EXPECT_EQ(static_cast<unsigned long>(STILL_ACTIVE), g_received.back().exitCode);
  EXPECT_EQ(0, Count(WM_SETUP_DONE));
  EXPECT_TRUE(e2e::InOrder(e2e::ReadLog(),
                           {"<end ", "<begin ", ">Installation terminated<"}));
}

TEST_F(LauncherThreadTest, AProgramThatCannotStartIsReportedAsCancelled) {
  // A missing program, and an empty program name (the path is then the
  // work folder itself).
  for (const std::string& path : {folder_ + "\\missing.exe", folder_ + "\\"}) {
    SCOPED_TRACE(path);
    g_received.clear();
    e2e::DeleteLog();
    params_.programPath = path;
    params_.stop = false;
    params_.exitCode = 12345;
    ASSERT_GE(RunThread(nullptr, 10000), 0);

    ASSERT_EQ(1u, g_received.size());
    EXPECT_EQ(static_cast<UINT>(WM_WORKER_CANCELLED), g_received[0].message);
    EXPECT_EQ(12345u, params_.exitCode);  // nothing ran, so nothing is read
    EXPECT_TRUE(params_.stop);

    const std::string log = e2e::ReadLog();
    EXPECT_TRUE(e2e::InOrder(
        log, {">Creating process<", "<end ",
              "message=\"Error while creating process for installation\">",
              "<exception status=\"", ">Terminating installation thread<"}))
        << log;
    EXPECT_EQ(0, e2e::CountOf(log, "successfully started"));
    EXPECT_EQ(0, e2e::CountOf(log, "<begin "));
  }
  EXPECT_TRUE(e2e::ReadFileText(record_).empty());
}

TEST_F(LauncherThreadTest, WithoutAWindowItSendsNothingAndServesTheCallersWindows) {
  // As in update mode: run on this thread with no window to tell. The
  // program closes itself once idle; meanwhile a timer of this thread's
  // window must still be served by the launcher's loop.
  SetEnvironmentVariableA("RAVEN_SETUP_AUTOCLOSE", "1500");
  params_.window = nullptr;
  SetTimer(window_, 1, 200, nullptr);
  EXPECT_EQ(0u, InstallationThread(&params_));

  EXPECT_EQ(7u, params_.exitCode);
  EXPECT_FALSE(params_.stop);
  EXPECT_EQ(0, Count(WM_HIDE_WIZARD) + Count(WM_SETUP_DONE) + Count(WM_WORKER_CANCELLED));
  EXPECT_EQ(1, Count(WM_TIMER)) << "the caller's window went unserved";
  EXPECT_TRUE(e2e::InOrder(e2e::ReadLog(),
                           {"<end ", "<begin ", ">Installation terminated<",
                            ">Terminating installation thread<"}));
}

}  // namespace
