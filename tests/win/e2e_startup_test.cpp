// Start-up cases no wizard row can express: an old Windows, a user without
// administrator rights (whose elevation, under Wine, yields none), and the
// redistributable pin the build wrote into each variant.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "framework/redist_hash.h"
#include "framework/sha256.h"
#include "support/wizard_session.h"

namespace {

// The command line a process was started with, from its process
// parameters: the only record of what the shell passed to a child that
// this test did not start itself.
std::string CommandLineOf(HANDLE h) {
  typedef LONG(WINAPI * QueryFn)(HANDLE, int, void*, ULONG, ULONG*);
  QueryFn query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
  struct {
    LONG exitStatus;
    BYTE* peb;
    ULONG_PTR rest[4];
  } basic = {};
  DWORD params = 0;
  struct {
    USHORT length, maximum;
    DWORD buffer;
  } line = {};
  std::wstring wide(2048, L'\0');
  if (query == nullptr || query(h, 0, &basic, sizeof basic, nullptr) != 0 ||
      !ReadProcessMemory(h, basic.peb + 0x10, &params, sizeof params, nullptr) ||
      !ReadProcessMemory(h, reinterpret_cast<void*>(params + 0x40), &line, sizeof line, nullptr) ||
      line.length >= wide.size() * 2 ||
      !ReadProcessMemory(h, reinterpret_cast<void*>(line.buffer), &wide[0], line.length, nullptr))
    return std::string();
  wide.resize(line.length / 2);
  return std::string(wide.begin(), wide.end());  // the test's paths are ASCII
}

// The processes of one exe seen while polling, each held open from first
// sight so that the watch ends only its own (never a recycled id).
struct Seen {
  DWORD parent = 0;
  HANDLE handle = nullptr;
  std::string commandLine;
};

class Watch : public std::map<DWORD, Seen> {
 public:
  explicit Watch(const std::string& exeFile) : exeFile_(exeFile) {}
  ~Watch() {
    for (auto& p : *this) {
      if (p.second.handle == nullptr) continue;
      TerminateProcess(p.second.handle, 1);  // fails harmlessly once ended
      CloseHandle(p.second.handle);
    }
  }
  void Poll() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 e = {};
    e.dwSize = sizeof e;
    for (BOOL ok = Process32First(snap, &e); ok; ok = Process32Next(snap, &e)) {
      if (lstrcmpiA(e.szExeFile, exeFile_.c_str()) != 0) continue;
      Seen& s = (*this)[e.th32ProcessID];
      s.parent = e.th32ParentProcessID;
      if (s.handle == nullptr)
        s.handle = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_INFORMATION |
                                   PROCESS_VM_READ, FALSE, e.th32ProcessID);
      if (s.commandLine.empty() && s.handle != nullptr) s.commandLine = CommandLineOf(s.handle);
    }
    CloseHandle(snap);
  }

 private:
  std::string exeFile_;
};

class StartupTest : public e2e::WizardSession {
 protected:
  // A copy of the plain exe under a name of its own, so its processes can
  // be told apart and Wine's per-exe settings reach it only; its name.
  std::string CopyExe(const std::string& stem) {
    name_ = stem + std::to_string(GetCurrentProcessId());
    path_ = e2e::BuildDir() + "\\e2e\\plain\\" + name_ + ".exe";
    EXPECT_TRUE(CopyFileA(e2e::VariantExe("plain").c_str(), path_.c_str(), FALSE));
    return name_;
  }
  static std::string AppDefaults(const std::string& name) {
    return "Software\\Wine\\AppDefaults\\" + name + ".exe";
  }
  // Started with the Administrators group made deny-only, as a standard
  // user's token is.
  PROCESS_INFORMATION StartWithoutAdminRights(const std::string& tail) {
    HANDLE token = nullptr, restricted = nullptr;
    SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
    PSID admins = nullptr;
    PROCESS_INFORMATION pi = {};
    std::string cmd = "\"" + path_ + "\" " + tail;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_QUERY,
                         &token) &&
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                 0, 0, 0, 0, 0, &admins)) {
      SID_AND_ATTRIBUTES deny = {admins, 0};
      if (CreateRestrictedToken(token, 0, 1, &deny, 0, nullptr, 0, nullptr, &restricted) &&
          CreateProcessAsUserA(restricted, path_.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &si, &pi))
        CloseHandle(pi.hThread);
    }
    for (HANDLE h : {token, restricted})
      if (h != nullptr) CloseHandle(h);
    if (admins != nullptr) FreeSid(admins);
    return pi;
  }
  void TearDown() override {
    WizardSession::TearDown();
    if (!path_.empty()) DeleteFileA(path_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, AppDefaults(name_).c_str());
    e2e::DeleteLog();
  }
  std::string name_, path_;
};

TEST_F(StartupTest, OldWindowsGetsOnlyTheMessageAndNoLog) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, AppDefaults(CopyExe("RavOld")).c_str(),
                                           0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
  RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("nt40"), 5);
  RegCloseKey(key);
  bootstrapper_ = e2e::Process(path_, "");
  HWND box = nullptr;
  ASSERT_TRUE(e2e::WaitFor([&] { return (box = e2e::FindMessageBox(bootstrapper_.Id())); }));
  EXPECT_EQ("Ravenstock requires Windows 2000 or Windows XP in order to install.",
            e2e::MessageBoxText(box));
  // No application name yet: the box carries the exe's own name.
  char caption[64] = {};
  GetWindowTextA(box, caption, sizeof caption);
  EXPECT_EQ(name_, caption);
  EXPECT_EQ(nullptr, e2e::FindTopWindow(bootstrapper_.Id(), "Ravenstock Setup"));
  e2e::Click(box, IDOK);
  ASSERT_TRUE(EndsSoon()) << "the process outlived its message box";
  EXPECT_FALSE(e2e::PathExists(e2e::LogPath()));
}

TEST_F(StartupTest, NonAdministratorRelaunchesOnceAndTheUnelevatedCopyStops) {
  Watch watch(CopyExe("RavUser") + ".exe");
  const PROCESS_INFORMATION pi = StartWithoutAdminRights("a b");
  const HANDLE first = pi.hProcess;
  const DWORD firstId = pi.dwProcessId;
  ASSERT_NE(nullptr, first);
  // Wine's "runas" keeps the caller's token, so the child is no
  // administrator either: it must say so instead of relaunching again.
  DWORD child = 0;
  HWND box = nullptr;
  const bool shown = e2e::WaitFor([&] {
    watch.Poll();
    for (const auto& p : watch)
      if (p.first != firstId) box = e2e::FindMessageBox(child = p.first);
    return box != nullptr;
  });
  ASSERT_TRUE(shown) << watch.size() << " processes seen";
  EXPECT_EQ("You must be logged on as an administrator to install Ravenstock.",
            e2e::MessageBoxText(box));
  ASSERT_EQ(2u, watch.size());
  EXPECT_EQ(firstId, watch[child].parent);
  const std::string line = watch[child].commandLine;
  EXPECT_EQ(line.size() - 16, line.find("a b/impersonated")) << line;
  // The first copy waits for the child and shows nothing of its own.
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(first, 0));
  EXPECT_EQ(nullptr, e2e::FindMessageBox(firstId));
  e2e::Click(box, IDOK);
  EXPECT_TRUE(e2e::WaitFor([&] {
    watch.Poll();
    return WaitForSingleObject(first, 0) == WAIT_OBJECT_0;
  })) << "the first copy did not end after its child";
  EXPECT_EQ(2u, watch.size());
  EXPECT_FALSE(e2e::PathExists(e2e::LogPath()));
  CloseHandle(first);
}

TEST_F(StartupTest, NonAdministratorInUpdateModeIsNotRelaunched) {
  Watch watch(CopyExe("RavUpdate") + ".exe");
  const PROCESS_INFORMATION pi = StartWithoutAdminRights("-UPDATE");
  const HANDLE first = pi.hProcess;
  ASSERT_NE(nullptr, first);
  // Update mode runs the demo setup program at once; its Close ends the run.
  EXPECT_TRUE(e2e::WaitFor([&] {
    watch.Poll();
    for (HWND setup : e2e::SetupProgramWindows()) PostMessageA(setup, WM_CLOSE, 0, 0);
    if (HWND box = e2e::FindMessageBox(pi.dwProcessId)) e2e::Click(box, IDOK);
    return WaitForSingleObject(first, 0) == WAIT_OBJECT_0;
  }));
  EXPECT_EQ(1u, watch.size());
  // The log's frame shows the run went past the rights test.
  EXPECT_TRUE(e2e::InOrder(e2e::ReadLog(), {"<begin ", "Installation terminated", "<end "}));
  CloseHandle(first);
}

// What make-bootstrapper pinned is what the program reads back: the demo
// redistributable by default, the given hash otherwise; this test program
// carries none.
TEST(PinnedRedistHash, IsTheOneGivenToTheBuild) {
  const std::string demo = e2e::ReadFileText(e2e::DemoRedistributable());
  ASSERT_FALSE(demo.empty());
  const std::pair<const char*, std::string> cases[] = {
      {"download", Sha256Hex(demo.data(), demo.size())},
      {"download-otherpin", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}};
  for (const auto& c : cases) {
    HMODULE m = LoadLibraryExA(e2e::VariantExe(c.first).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, m) << c.first;
    EXPECT_EQ(c.second, LoadPinnedRedistHash(m)) << c.first;
    FreeLibrary(m);
  }
  EXPECT_EQ("", LoadPinnedRedistHash(GetModuleHandleA(nullptr)));
}

}  // namespace
