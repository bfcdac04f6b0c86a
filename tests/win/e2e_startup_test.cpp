// Start-up of the real exe: the wizard course, an old Windows, and a user
// without administrator rights whose elevation yields none.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "appkit/handle.h"
#include "support/wizard_session.h"

namespace {

const char kOldWindowsText[] =
    "Ravenstock requires Windows 2000 or Windows XP in order to install.";
const char kNotAdminText[] =
    "You must be logged on as an administrator to install Ravenstock.";

// A copy of the plain exe under a name no other test uses, so its
// processes can be told apart and Wine's per-exe settings apply to it only.
class ExeCopy {
 public:
  explicit ExeCopy(const std::string& stem)
      : name_(stem + std::to_string(GetCurrentProcessId())),
        path_(e2e::BuildDir() + "\\e2e\\plain\\" + name_ + ".exe") {
    copied_ = CopyFileA(e2e::VariantExe("plain").c_str(), path_.c_str(), FALSE) != 0;
  }
  ~ExeCopy() { DeleteFileA(path_.c_str()); }
  bool Copied() const { return copied_; }
  const std::string& Name() const { return name_; }  // without ".exe"
  const std::string& Path() const { return path_; }

 private:
  std::string name_, path_;
  bool copied_ = false;
};

// Makes one exe see Windows NT 4.0 through Wine's per-application setting.
class Nt40Setting {
 public:
  explicit Nt40Setting(const std::string& exeFile)
      : key_("Software\\Wine\\AppDefaults\\" + exeFile) {
    HKEY k = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0,
                        KEY_WRITE, nullptr, &k, nullptr) != ERROR_SUCCESS)
      return;
    const char version[] = "nt40";
    set_ = RegSetValueExA(k, "Version", 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(version),
                          sizeof version) == ERROR_SUCCESS;
    RegCloseKey(k);
  }
  ~Nt40Setting() { RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str()); }
  bool Set() const { return set_; }

 private:
  std::string key_;
  bool set_ = false;
};

// The command line a process was started with, read from its process
// parameters: the only record of what the shell passed to a child that
// this test did not start itself.
std::string ReadCommandLine(DWORD pid) {
  typedef LONG(WINAPI * QueryFn)(HANDLE, int, void*, ULONG, ULONG*);
  FARPROC raw = GetProcAddress(GetModuleHandleA("ntdll.dll"),
                               "NtQueryInformationProcess");
  QueryFn query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(raw));
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (query == nullptr || h == nullptr) {
    if (h != nullptr) CloseHandle(h);
    return std::string();
  }
  struct {
    LONG exitStatus;
    BYTE* peb;
    ULONG_PTR affinity, priority, pid, parent;
  } basic = {};
  std::string result;
  DWORD params = 0;
  struct {
    USHORT length, maximum;
    DWORD buffer;
  } line = {};
  if (query(h, 0, &basic, sizeof basic, nullptr) == 0 &&
      ReadProcessMemory(h, basic.peb + 0x10, &params, sizeof params, nullptr) &&
      params != 0 &&
      ReadProcessMemory(h, reinterpret_cast<void*>(params + 0x40), &line,
                        sizeof line, nullptr) &&
      line.length > 0) {
    std::wstring wide(line.length / 2, L'\0');
    if (ReadProcessMemory(h, reinterpret_cast<void*>(line.buffer), &wide[0],
                          line.length, nullptr)) {
      char ansi[4096] = {};
      WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()),
                          ansi, sizeof ansi - 1, nullptr, nullptr);
      result = ansi;
    }
  }
  CloseHandle(h);
  return result;
}

// The arguments after the (quoted or plain) program path.
std::string CommandTail(const std::string& commandLine) {
  size_t i = 0;
  if (!commandLine.empty() && commandLine[0] == '"') {
    i = commandLine.find('"', 1);
    i = i == std::string::npos ? commandLine.size() : i + 1;
  } else {
    while (i < commandLine.size() && commandLine[i] != ' ') ++i;
  }
  while (i < commandLine.size() && commandLine[i] == ' ') ++i;
  return commandLine.substr(i);
}

// Every process of one exe that shows up while the test polls, with its
// parent and command line. Each is held open from first sight, so the ones
// a failed test leaves behind are ended by the watch, never a stranger
// that inherited a recycled id.
class ProcessWatch {
 public:
  struct Seen {
    DWORD parent = 0;
    std::string commandLine;
    HANDLE handle = nullptr;
  };

  explicit ProcessWatch(const std::string& exeFile) : exeFile_(exeFile) {}
  ~ProcessWatch() {
    for (auto& p : seen_) {
      if (p.second.handle == nullptr) continue;
      if (WaitForSingleObject(p.second.handle, 0) == WAIT_TIMEOUT)
        TerminateProcess(p.second.handle, 1);
      CloseHandle(p.second.handle);
    }
  }
  ProcessWatch(const ProcessWatch&) = delete;
  ProcessWatch& operator=(const ProcessWatch&) = delete;

  void Poll() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry)) {
      if (lstrcmpiA(entry.szExeFile, exeFile_.c_str()) != 0) continue;
      Seen& s = seen_[entry.th32ProcessID];
      s.parent = entry.th32ParentProcessID;
      if (s.handle == nullptr)
        s.handle = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                               entry.th32ProcessID);
      if (s.commandLine.empty()) s.commandLine = ReadCommandLine(entry.th32ProcessID);
    }
    CloseHandle(snap);
  }

  const std::map<DWORD, Seen>& All() const { return seen_; }

 private:
  std::string exeFile_;
  std::map<DWORD, Seen> seen_;
};

// Starts exe as the current user with the Administrators group made
// deny-only, which is what a standard user's token looks like.
bool StartWithoutAdminRights(const std::string& exe, const std::string& tail,
                             PROCESS_INFORMATION* pi) {
  HANDLE token = nullptr, restricted = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(),
                        TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_QUERY,
                        &token))
    return false;
  SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
  PSID admins = nullptr;
  bool started = false;
  if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID,
                               DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins)) {
    SID_AND_ATTRIBUTES deny = {admins, 0};
    if (CreateRestrictedToken(token, 0, 1, &deny, 0, nullptr, 0, nullptr, &restricted)) {
      std::string cmd = "\"" + exe + "\" " + tail;
      STARTUPINFOA si = {};
      si.cb = sizeof si;
      started = CreateProcessAsUserA(restricted, exe.c_str(), &cmd[0], nullptr,
                                     nullptr, FALSE, 0, nullptr, nullptr, &si, pi) != 0;
      CloseHandle(restricted);
    }
    FreeSid(admins);
  }
  CloseHandle(token);
  if (started) CloseHandle(pi->hThread);
  return started;
}

class StartupTest : public e2e::WizardSession {
 protected:
  void TearDown() override {
    WizardSession::TearDown();
    e2e::DeleteLog();
  }
};

}  // namespace

TEST_F(StartupTest, AdministratorGetsTheWizardAndTheLogFramesTheRun) {
  Start("plain");
  Press(IDCANCEL);
  ASSERT_TRUE(EndsSoon()) << "the wizard did not end on Cancel";
  std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(
      log, {"<begin ", "application=\"Ravenstock\" session=\"BootStrap\"/>\r\n",
            "<end ", "application=\"Ravenstock\" session=\"BootStrap\"/>\r\n"}))
      << log;
}

TEST_F(StartupTest, OldWindowsGetsOnlyTheMessageAndNoLog) {
  ExeCopy exe("RavOld");
  ASSERT_TRUE(exe.Copied());
  Nt40Setting nt40(exe.Name() + ".exe");
  ASSERT_TRUE(nt40.Set());
  bootstrapper_ = e2e::Process(exe.Path(), "");
  ASSERT_TRUE(bootstrapper_.Started());
  HWND box = nullptr;
  ASSERT_TRUE(e2e::WaitFor([&] { return (box = e2e::FindMessageBox(bootstrapper_.Id())) != nullptr; }));
  EXPECT_EQ(kOldWindowsText, e2e::MessageBoxText(box));
  // No application name: framework boxes carry the exe's own name.
  char caption[64] = {};
  GetWindowTextA(box, caption, sizeof caption);
  EXPECT_EQ(exe.Name(), caption);
  EXPECT_EQ(nullptr, e2e::FindTopWindow(bootstrapper_.Id(), "Ravenstock Setup"));
  e2e::Click(box, IDOK);
  ASSERT_TRUE(EndsSoon()) << "the process outlived its message box";
  EXPECT_FALSE(e2e::PathExists(e2e::LogPath()));
}

TEST_F(StartupTest, NonAdministratorRelaunchesOnceAndTheUnelevatedCopyStops) {
  ExeCopy exe("RavUser");
  ASSERT_TRUE(exe.Copied());
  ProcessWatch watch(exe.Name() + ".exe");
  PROCESS_INFORMATION first = {};
  ASSERT_TRUE(StartWithoutAdminRights(exe.Path(), "a b", &first));
  ScopedKernelHandle firstProcess(first.hProcess);

  // Wine's "runas" keeps the caller's token, so the child is no
  // administrator either: it must say so instead of relaunching again.
  DWORD childPid = 0;
  HWND box = nullptr;
  bool boxShown = e2e::WaitFor([&] {
    watch.Poll();
    for (const auto& p : watch.All()) {
      if (p.first == first.dwProcessId) continue;
      childPid = p.first;
      box = e2e::FindMessageBox(childPid);
    }
    return box != nullptr;
  });
  watch.Poll();
  ASSERT_TRUE(boxShown) << watch.All().size() << " processes seen";
  EXPECT_EQ(kNotAdminText, e2e::MessageBoxText(box));

  ASSERT_EQ(2u, watch.All().size());
  const ProcessWatch::Seen& child = watch.All().at(childPid);
  EXPECT_EQ(first.dwProcessId, child.parent);
  EXPECT_EQ("a b/impersonated", CommandTail(child.commandLine)) << child.commandLine;
  // The first copy waits for the child and shows nothing of its own.
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(firstProcess.Get(), 0));
  EXPECT_EQ(nullptr, e2e::FindMessageBox(first.dwProcessId));

  e2e::Click(box, IDOK);
  bool ended = e2e::WaitFor([&] {
    watch.Poll();
    return WaitForSingleObject(firstProcess.Get(), 0) == WAIT_OBJECT_0;
  });
  EXPECT_TRUE(ended) << "the first copy did not end after its child";
  EXPECT_EQ(2u, watch.All().size());
  EXPECT_FALSE(e2e::PathExists(e2e::LogPath()));
}

TEST_F(StartupTest, NonAdministratorInUpdateModeIsNotRelaunched) {
  ExeCopy exe("RavUpdate");
  ASSERT_TRUE(exe.Copied());
  ProcessWatch watch(exe.Name() + ".exe");
  PROCESS_INFORMATION first = {};
  ASSERT_TRUE(StartWithoutAdminRights(exe.Path(), "-UPDATE", &first));
  ScopedKernelHandle firstProcess(first.hProcess);
  // Update mode runs the payload's setup program at once (the demo's, when
  // the demo is built, which waits for its Close); closing it ends the run.
  bool ended = e2e::WaitFor([&] {
    watch.Poll();
    for (HWND setup : e2e::SetupProgramWindows()) PostMessageA(setup, WM_CLOSE, 0, 0);
    if (HWND box = e2e::FindMessageBox(first.dwProcessId)) e2e::Click(box, IDOK);
    return WaitForSingleObject(firstProcess.Get(), 0) == WAIT_OBJECT_0;
  });
  EXPECT_TRUE(ended);
  EXPECT_EQ(1u, watch.All().size());
  EXPECT_EQ(nullptr, e2e::FindTopWindow(first.dwProcessId, "Ravenstock Setup"));
  // The wizard object was built: update mode went past the rights test.
  EXPECT_NE(std::string::npos, e2e::ReadLog().find("<begin "));
}
