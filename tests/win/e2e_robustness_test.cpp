// The real bootstrapper where runs go wrong around it: a log that cannot be
// written, files held in the work folder, runs that must leave no work
// folder, and no program registered for web pages.
// (A payload that fails to unpack is covered with every broken archive.)
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "resource_ids.h"
#include "support/e2e.h"

namespace {

const char kSetupClass[] = "RavenstockDemoSetup";  // the demo setup program

int Lines(const std::string& file) { return e2e::CountOf(e2e::ReadFileText(file), "\r\n"); }

bool LogHas(const std::string& text) {
  return e2e::WaitFor([&] { return e2e::ReadLog().find(text) != std::string::npos; });
}

void RemoveFolder(const std::string& folder) {
  const std::string list = folder + '\0';  // c_str() adds the list's end
  SHFILEOPSTRUCTA op = {nullptr, FO_DELETE, list.c_str(), nullptr, 0x414, 0, nullptr, nullptr};
  SHFileOperationA(&op);
}

// Runs a Unix command on the log (Wine starts a Unix program given by its
// path, but its end cannot be waited for) and waits until done() holds.
bool RunUnix(const std::string& program, const char* arguments,
             const std::function<bool()>& done) {
  auto unixName = reinterpret_cast<char*(CDECL*)(const WCHAR*)>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
  WCHAR wide[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, e2e::LogPath().c_str(), -1, wide, MAX_PATH);
  std::string command = program + " " + arguments + " " + unixName(wide);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  const bool started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0,
                                      nullptr, nullptr, &si, &pi);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return started && e2e::WaitFor(done, 10000);
}

bool LogAttributesFailWith(DWORD error) {
  return GetFileAttributesA(e2e::LogPath().c_str()) == INVALID_FILE_ATTRIBUTES &&
         GetLastError() == error;
}

// The log becomes a link to /dev/full: it opens, and every flush fails as on
// a full disk. Wine cannot read the attributes of such a link.
void LinkLogToFullDisk() {
  ASSERT_TRUE(RunUnix("/bin/ln", "-sf /dev/full",
                      [] { return LogAttributesFailWith(ERROR_INVALID_PARAMETER); }));
}
void RemoveLogLink() {
  RunUnix("/bin/rm", "-f", [] { return LogAttributesFailWith(ERROR_FILE_NOT_FOUND); });
}

// A default value under HKEY_CLASSES_ROOT, put back when the test ends.
struct ClassDefault {
  ClassDefault(const char* key, const std::string& value) : key(key) {
    had = RegQueryValueA(HKEY_CLASSES_ROOT, key, old, &size) == ERROR_SUCCESS;
    RegSetValueA(HKEY_CLASSES_ROOT, key, REG_SZ, value.c_str(), value.size());
  }
  ~ClassDefault() { if (had) RegSetValueA(HKEY_CLASSES_ROOT, key, REG_SZ, old, size - 1); }
  const char* key;
  char old[1024] = {};
  LONG size = sizeof old;
  bool had = false;
};

class RobustnessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    e2e::SetFrameworkInstalled(true);
    e2e::DeleteLog();
    record_ = e2e::TempDir() + "robust-setup-record.txt";
    DeleteFileA(record_.c_str());
    SetEnvironmentVariableA("RAVEN_SETUP_RECORD", record_.c_str());
    SetEnvironmentVariableA("RAVEN_SETUP_AUTOCLOSE", "0");
    before_ = e2e::WorkFolders();
  }
  void TearDown() override {
    run_.Kill();
    while (HWND setup = FindWindowA(kSetupClass, nullptr)) {
      PostMessageA(setup, WM_CLOSE, 0, 0);
      if (!e2e::WaitFor([setup] { return !IsWindow(setup); }, 5000)) break;
    }
    for (const std::string& folder : NewFolders()) RemoveFolder(folder);
    for (const char* name : {"RAVEN_SETUP_RECORD", "RAVEN_SETUP_AUTOCLOSE", "RAVEN_RECORDER_FILE"})
      SetEnvironmentVariableA(name, nullptr);
    e2e::SetFrameworkInstalled(false);
    RemoveLogLink();
  }

  std::vector<std::string> NewFolders() const {
    std::vector<std::string> fresh;
    for (const std::string& folder : e2e::WorkFolders())
      if (std::find(before_.begin(), before_.end(), folder) == before_.end())
        fresh.push_back(folder);
    return fresh;
  }

  // The wizard's window, or null in update mode.
  HWND Start(const std::string& variant, const std::string& arguments = "") {
    run_ = e2e::Process(e2e::VariantExe(variant), arguments);
    return arguments.empty() ? e2e::WaitForWizard(run_.Id()) : nullptr;
  }

  std::string record_;
  std::vector<std::string> before_;
  e2e::Process run_;
};

TEST_F(RobustnessTest, RunsEndByThemselvesWhenTheLogCannotBeWritten) {
  for (const std::string arguments : {"/update", ""}) {
    SCOPED_TRACE(arguments);
    DeleteFileA(record_.c_str());
    if (!arguments.empty()) LinkLogToFullDisk();  // from the first record
    HWND wizard = Start("launch", arguments);
    if (arguments.empty()) {  // from the wizard's first page
      LinkLogToFullDisk();
      e2e::Click(wizard, IDOK);
    }
    ASSERT_TRUE(e2e::WaitFor([&] { return Lines(record_) > 0; })) << "setup program not run";
    EXPECT_TRUE(run_.Wait(10000)) << "still running after the setup program ended";
    EXPECT_EQ(1, Lines(record_));
    EXPECT_TRUE(NewFolders().empty());
    RemoveLogLink();
  }
}

TEST_F(RobustnessTest, UpdateRunsLeaveNoWorkFolder) {
  for (int i = 0; i < 20; ++i) {
    Start("launch", "/update");
    ASSERT_TRUE(run_.Wait(20000)) << "run " << i;
  }
  EXPECT_EQ(20, Lines(record_));
  EXPECT_TRUE(NewFolders().empty()) << e2e::ReadLog();
}

TEST_F(RobustnessTest, AFileHeldInTheWorkFolderIsWaitedForOrReportedAsItIs) {
  SetEnvironmentVariableA("RAVEN_SETUP_AUTOCLOSE", nullptr);
  for (bool released : {true, false}) {
    SCOPED_TRACE(released ? "released while the folder is deleted" : "held throughout");
    e2e::DeleteLog();
    before_ = e2e::WorkFolders();
    Start("launch", "/update");
    HWND setup = nullptr;
    ASSERT_TRUE(e2e::WaitFor([&] { return (setup = FindWindowA(kSetupClass, nullptr)) != nullptr; }));
    ASSERT_EQ(1u, NewFolders().size());
    const std::string folder = NewFolders()[0];
    HANDLE held = CreateFileA((folder + "\\readme.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    PostMessageA(setup, WM_CLOSE, 0, 0);
    if (released) {
      EXPECT_TRUE(LogHas("Deleting temp folder"));
      CloseHandle(held);
    }
    EXPECT_TRUE(run_.Wait(20000));
    if (!released) CloseHandle(held);
    const std::string log = e2e::ReadLog();
    EXPECT_EQ(released, e2e::InOrder(log, {"Deleting", "Temp folder successfully deleted"})) << log;
    EXPECT_EQ(released, !e2e::PathExists(folder));
    if (released) continue;
    // The status is the Windows code of what happened, the message its text.
    char text[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_SHARING_VIOLATION, 0, text,
                   sizeof text, nullptr);
    EXPECT_NE(std::string::npos, log.find("<exception status=\"32\" message=\"" +
                                          std::string(text, std::strcspn(text, "\r\n")) + "\r"))
        << log;
  }
}

TEST_F(RobustnessTest, ManualPageOpensByAddressAndTheLaunchLoopTakesKeys) {
  SetEnvironmentVariableA("RAVEN_SETUP_AUTOCLOSE", nullptr);
  const std::string opened = e2e::TempDir() + "robust-opened.txt";
  DeleteFileA(opened.c_str());
  SetEnvironmentVariableA("RAVEN_RECORDER_FILE", opened.c_str());
  // No program for .htm files; web addresses go to the recorder.
  ClassDefault htm(".htm", "RavenNoSuchClass");
  ClassDefault http("http\\shell\\open\\command",
                    "\"" + e2e::FixtureExe("recorder.exe") + "\" \"%1\"");
  e2e::SetFrameworkInstalled(false);
  HWND wizard = Start("wizard");
  e2e::Click(wizard, IDOK);
  ASSERT_TRUE(LogHas("New step reached : 2"));
  e2e::Click(wizard, IDC_ACCEPT);  // taken before the Next posted after it
  e2e::Click(wizard, IDOK);  // the download is refused: step 9
  ASSERT_TRUE(LogHas("New step reached : 9"));
  e2e::Click(wizard, IDOK);
  ASSERT_TRUE(e2e::WaitFor([&] { return Lines(opened) == 1; }));
  EXPECT_NE(std::string::npos, e2e::ReadFileText(opened).find("\"http://127.0.0.1/"))
      << e2e::ReadFileText(opened);

  // Installed by hand: while the setup program runs, Escape is Cancel.
  e2e::SetFrameworkInstalled(true);
  e2e::Click(wizard, IDOK);
  ASSERT_TRUE(e2e::WaitFor([] { return FindWindowA(kSetupClass, nullptr) != nullptr; }));
  PostMessageA(GetDlgItem(wizard, IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 1);
  EXPECT_TRUE(run_.Wait(10000)) << "Escape not taken while the setup program ran";
}

}  // namespace
