// The real bootstrapper driven from outside as its user would drive it. A
// row names the variant, the set-up, what the user does and waits for, and
// what the log, the stand-ins and the work folders show at the end. Records
// are read after the program's end or after waiting for the record itself.
#include <windows.h>
#include <aclapi.h>
#include <commctrl.h>
#include <msi.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "../fixtures/http_server/loopback_server.h"
#include "framework/detection.h"
#include "framework/workers.h"
#include "log/session_log.h"
#include "appkit/ansi_path.h"
#include "appkit/handle.h"
#include "payload/work_folder.h"
#include "resource_ids.h"
#include "screenshot.h"
#include "support/e2e.h"
#include "worker/params.h"
#include "worker/wizard_owner.h"

namespace {

using e2e::CountOf;
using e2e::InOrder;
using e2e::TempDir;
const char kRequest[] =
    "GET http://downloads.ravenstock.invalid:80/downloads/framework.net.1.1.exe HTTP/1.0\r\n";
const char kGot[] = "Downloading .net : Resource downloaded";

// What happened; anything not named must not have. kAsked: the web host
// got exactly the request for the framework; kUnasked: no request at all;
// kKept: the work folder stays.
enum Outcome { kSetupRan = 1, kRedistRan = 2, kInstalled = 4, kErrors = 8, kKept = 16,
               kAsked = 32, kUnasked = 64, kNoLog = 128 };

class Scenario;
using Check = std::function<void(Scenario&, HWND)>;  // with the message box, if any

struct Row {
  std::string name, variant;
  std::string walk;  // the set-up, the start, then actions and waits (Scenario::Do)
  std::vector<std::string> log, absent;  // records in this order; never
  int outcome;
  Check during, after;  // at "x" in the walk; after the checks
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

// The number before "%)." in a status line made from format, or -1.
int Percent(const std::string& line, const std::string& format) {
  const size_t end = line.rfind("%)."), start = line.find_last_of(" (", end);
  return line.compare(0, format.find('%'), format, 0, format.find('%')) == 0 && end != line.npos &&
         end + 3 == line.size() && start + 1 < end ? std::atoi(line.c_str() + start + 1) : -1;
}

// Files matching folder + prefix + "*" and below, by relative name, sorted.
std::vector<std::string> Files(const std::string& folder, const std::string& prefix = "") {
  std::vector<std::string> out;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((folder + prefix + "*").c_str(), &fd);
  for (BOOL ok = h != INVALID_HANDLE_VALUE; ok; ok = FindNextFileA(h, &fd)) {
    const std::string name = fd.cFileName;
    if (name == "." || name == "..") continue;
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) out.push_back(prefix + name);
    else for (const std::string& f : Files(folder, prefix + name + "\\")) out.push_back(f);
  }
  if (h != INVALID_HANDLE_VALUE) FindClose(h);
  std::sort(out.begin(), out.end());
  return out;
}

// A visible top-level window of the process (a message box included) other
// than `but`, and the title of one, "" when it shows none.
HWND OtherWindow(DWORD pid, HWND but) {
  DWORD p = 0;
  for (HWND h = GetTopWindow(nullptr); h != nullptr; h = GetWindow(h, GW_HWNDNEXT))
    if (GetWindowThreadProcessId(h, &p) && p == pid && h != but && IsWindowVisible(h)) return h;
  return nullptr;
}
std::string ShownWindow(DWORD pid) {
  char text[256] = "(no title)";
  HWND h = OtherWindow(pid, nullptr);
  return h == nullptr ? "" : (GetWindowTextA(h, text, sizeof text), text);
}

// Watches the process's windows until it ends or timeoutMs passes: the first
// one it showed, "" for none.
std::string WindowShownUntilEnd(e2e::Process& process, DWORD timeoutMs) {
  std::string shown;
  e2e::WaitFor([&] {
    if (shown.empty()) shown = ShownWindow(process.Id());
    return process.Wait(0);
  }, timeoutMs);
  return shown;
}

bool OnWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

std::string DemoRedist() { return e2e::BuildDir() + "\\" RAVEN_WIN_TREE "\\demo\\dotnetfx.exe"; }

std::vector<HWND> SetupProgramWindows() {
  std::vector<HWND> found;
  const char* title = "Ravenstock Setup Program (demo)";
  for (HWND h = nullptr; (h = FindWindowExA(nullptr, h, nullptr, title)) != nullptr;)
    found.push_back(h);
  return found;
}

// Runs a host shell script, whose names are Unix ones (Unix(path)), and
// waits for done(): Wine cannot wait for a host program.
std::string Unix(const std::string& path) {
  auto unixName = reinterpret_cast<char*(CDECL*)(LPCWSTR)>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) return "";
  char* name = unixName(std::wstring(path.begin(), path.end()).c_str());
  const std::string result = name != nullptr ? name : "";
  HeapFree(GetProcessHeap(), 0, name);
  return "'" + result + "'";
}
bool HostShell(const std::string& script, const std::function<bool()>& done) {
  e2e::Process(std::string("/bin/sh"), "-c \"" + script + "\"");  // Wine reports no start of it
  return e2e::WaitFor(done, 60000);
}

// The log as a link to /dev/full (it opens, and every flush fails as on a
// full disk; Wine cannot read the attributes of such a link), or no log.
bool LinkLogToFullDisk(bool link = true) {
  const DWORD error = link ? ERROR_INVALID_PARAMETER : ERROR_FILE_NOT_FOUND;
  return HostShell((link ? "ln -sf /dev/full " : "rm -f ") + Unix(e2e::LogPath()), [=] {
    return GetFileAttributesA(e2e::LogPath().c_str()) == INVALID_FILE_ATTRIBUTES && GetLastError() == error;
  });
}

// Leaves no framework, process, window, setting or file behind.
void CleanUp() {
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  for (const char* product : {"{0F482E6F-842E-40EF-8E3F-C770D0AFF0EB}",   // framework
                              "{CE999845-B5D4-4DC0-AD94-77D6E05E1023}"})  // asks for a restart
    MsiConfigureProductA(product, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
  e2e::SetFrameworkInstalled(false);
  for (HWND h : SetupProgramWindows()) PostMessageA(h, WM_CLOSE, 0, 0);
  e2e::WaitFor([] { return SetupProgramWindows().empty(); }, 10000);
}

class Scenario : public ::testing::TestWithParam<Row> {
 public:
  void SetUp() override {
    CleanUp();
    e2e::DeleteLog();
    before_ = e2e::WorkFolders();
    CreateDirectoryA(cwd_.c_str(), nullptr);
    for (const char* name : {"SETUP_RECORD", "SETUP_SENT", "REDIST_RECORD", "RECORDER_FILE", "LOG_TARGET",
                             "ENVIRONMENT_RECORD", "PACKAGE_RECORD"}) {
      DeleteFileA((TempDir() + name).c_str());
      SetEnv(std::string("RAVEN_") + name, TempDir() + name);
    }
    // For the recorder started by the desktop shell, whose environment is
    // that of whichever program started the desktop's explorer.
    SHSetValueA(HKEY_CURRENT_USER, "Software\\Ravenstock Tests", "RECORDER_FILE", REG_SZ,
                (TempDir() + "RECORDER_FILE").c_str(), static_cast<DWORD>(TempDir().size() + 14));
  }
  void TearDown() override {
    if (fullDisk_) LinkLogToFullDisk(false);  // before anything reads it
    // Put back first: the clean-up below must see the real temp folder.
    for (const auto& e : env_) SetEnvironmentVariableA(e.first.c_str(), e.second.empty() ? nullptr : e.second.c_str());
    for (const auto& copy : Copies()) {  // left by a failure
      HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, copy.first);
      if (h != nullptr && TerminateProcess(h, 1)) WaitForSingleObject(h, 5000);
      if (h != nullptr) CloseHandle(h);
    }
    if (user_.hProcess != nullptr) TerminateProcess(user_.hProcess, 1), CloseHandle(user_.hProcess);  // left by a failure
    if (held_ != nullptr && held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
    if (!copy_.empty()) DeleteFileW(e2e::Wide(exe_).c_str());
    for (const char* sub : {"\\Temp", ""}) if (!cyrillic_.empty()) RemoveDirectoryW(e2e::Wide(cyrillic_ + sub).c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, ("Software\\Wine\\AppDefaults\\" + copy_).c_str());
    bootstrapper_.Kill();
    CleanUp();
    proxy_.reset();
    server_.Stop();
    for (const std::string& dll : dlls_) DeleteFileA((ExeFolder() + dll).c_str());
    if (!beside_.empty() && SetFileAttributesA(beside_.c_str(), FILE_ATTRIBUTE_NORMAL)) DeleteFileA(beside_.c_str());
    for (const std::string& folder : Fresh()) e2e::RemoveTree(folder);
    e2e::RemoveTree(cwd_);
    if (!opener_.empty()) SetOpener(opener_);
    if (shellClassMoved_) MoveShellClass(false);
    e2e::DeleteLog();
  }
  void SetEnv(const std::string& name, const std::string& value) {  // put back; "" unsets
    char old[MAX_PATH] = {};
    GetEnvironmentVariableA(name.c_str(), old, MAX_PATH);
    env_.insert(env_.begin(), {name, old});
    SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
  }
  std::vector<std::string> Fresh() const {  // work folders made since SetUp
    std::vector<std::string> fresh;
    for (const std::string& f : e2e::WorkFolders())
      if (std::find(before_.begin(), before_.end(), f) == before_.end()) fresh.push_back(f);
    return fresh;
  }
  std::string Record(const char* name) const { return e2e::ReadFileText(temp_ + name); }
  std::string Str(UINT id) const {  // from the exe's own string table
    HMODULE m = LoadLibraryExW(e2e::Wide(exe_).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    char buf[1024] = {};
    if (m != nullptr && LoadStringA(m, id, buf, sizeof buf) >= 0) FreeLibrary(m);
    return buf;
  }
  std::string ExeFolder() const { return exe_.substr(0, exe_.rfind('\\') + 1); }  // with its last backslash
  std::string Text(int id) const { return e2e::ControlText(wizard_, id); }
  bool Visible(int id) const { return e2e::ControlVisible(wizard_, id); }
  bool Enabled(int id) const { return e2e::ControlEnabled(wizard_, id); }
  void Run(const Row& row);
  std::map<DWORD, DWORD> Copies() const {  // running copies of the exe: id, parent's id
    std::map<DWORD, DWORD> found;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 e = {};
    e.dwSize = sizeof e;
    for (BOOL ok = Process32First(snap, &e); ok; ok = Process32Next(snap, &e))
      if (!copy_.empty() && lstrcmpiA(e.szExeFile, copy_.c_str()) == 0)
        found[e.th32ProcessID] = e.th32ParentProcessID;
    CloseHandle(snap);
    return found;
  }

  const std::string temp_ = TempDir();  // the test's own, whatever a row gives the exe
  loopback::Server server_;
  std::string exe_, copy_, setupCommand_, setupFolder_, log_, cyrillic_, xpTemp_;  // paths in UTF-8
  std::vector<std::string> dlls_;  // planted beside the exe
  PROCESS_INFORMATION user_ = {};
  e2e::Process bootstrapper_;
  HWND wizard_ = nullptr;

 protected:  // a Guard drives the exe itself, with the same set-up and clean-up
  void Do(const Row& row, const std::string& action);
  void SetOpener(const std::string& command) {  // the shell's program for web pages
    RegSetValueA(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", REG_SZ, command.c_str(), 0);
  }
  // The registration of the interface of the desktop shell's window list (the route's
  // first call: it cannot cross to the shell without) moved aside, or back.
  bool MoveShellClass(bool away) {
    const char* classes = "Software\\Classes\\Interface\\{85CB6900-4D95-11CF-960C-0080C7F4EE85}";
    const char* aside = "Software\\Ravenstock Tests\\ShellWindows";
    HKEY from = away ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, to = away ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    HKEY source = nullptr, target = nullptr;
    bool moved = RegOpenKeyExA(from, away ? classes : aside, 0, KEY_READ, &source) == 0 &&
                 RegCreateKeyExA(to, away ? aside : classes, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target, nullptr) == 0 &&
                 SHCopyKeyA(source, nullptr, target, 0) == 0;
    for (HKEY k : {source, target}) if (k != nullptr) RegCloseKey(k);
    moved = moved && SHDeleteKeyA(from, away ? classes : aside) == 0;
    shellClassMoved_ = away && moved;
    return moved;
  }
  std::vector<std::string> before_;
  std::vector<std::pair<std::string, std::string>> env_;
  std::string cwd_ = temp_ + "scenario-cwd\\", opener_, beside_;
  HANDLE held_ = nullptr;
  bool shellClassMoved_ = false;
  size_t heldFiles_ = 0;  // in the work folder when it was taken
  bool fullDisk_ = false;
  DWORD pressedAt_ = 0, pressedFrom_ = 0;  // after the last press was posted; before
  DWORD exitCode_ = 0;  // the run's expected exit code
  std::unique_ptr<loopback::ProxySetting> proxy_;
};

void Scenario::Do(const Row& row, const std::string& a) {
  SCOPED_TRACE(a);
  const size_t colon = a.find(':');
  const std::string key = a.substr(0, colon), value = colon == a.npos ? "" : a.substr(colon + 1);
  const int id = std::atoi(value.c_str());
  std::string text = id != 0 ? Str(id) : value;  // a string id, or a literal with "_" for " "
  std::replace(text.begin(), text.end(), '_', ' ');
  const int control = key == "T" ? IDC_TITLE : key == "S" ? IDC_STATUS_TEXT
                      : key == "D" ? IDC_DETAIL_TEXT : IDC_ERROR_TEXT;
  auto percent = [&](int format) { return Percent(Text(IDC_STATUS_TEXT), Str(format)); };
  HWND box = nullptr;
  if (key == "serve") {  // the loopback web host with these options, as the proxy
    ASSERT_TRUE(server_.Start(e2e::FixtureExe("http_server.exe"), DemoRedist(), text, TempDir() + "loopback-"));
    proxy_.reset(new loopback::ProxySetting(server_.Port()));
  } else if (a == "refused") {  // a proxy where nothing listens
    proxy_.reset(new loopback::ProxySetting(1));
  } else if (key == "env") {
    SetEnv(value.substr(0, value.find('=')), value.substr(value.find('=') + 1));
  } else if (key == "beside") {  // the redistributable, or a text (read-only: "ro"), as the exe's own copy
    beside_ = ExeFolder() + "dotnetfx.exe";
    ASSERT_TRUE(value == "redist" ? CopyFileA(DemoRedist().c_str(), beside_.c_str(), FALSE) != 0
                                  : e2e::WriteFileText(beside_, "plain text, not a program\r\n"));
    SetFileAttributesA(beside_.c_str(), value == "ro" ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
  } else if (key == "blank") {  // TEMP as Windows XP has it, for the user named value ("Test" when not given)
    xpTemp_ = cwd_ + "Documents and Settings";
    for (const std::string& sub : {std::string(), "\\" + (value.empty() ? "Test" : value) + " User", std::string("\\Local Settings"),
                                   std::string("\\Temp")})
      CreateDirectoryW(e2e::Wide(xpTemp_ += sub).c_str(), nullptr);
    for (const char* name : {"TEMP", "TMP"})
      SetEnv(name, ""), SetEnvironmentVariableW(e2e::Wide(name).c_str(), e2e::Wide(xpTemp_).c_str());
  } else if (a == "cp932") {  // scripts/test runs these rows again under the Japanese locale
    char asked[8] = {};
    GetEnvironmentVariableA("RAVEN_CODE_PAGE", asked, sizeof asked);
    ASSERT_TRUE(GetACP() == 932 || std::string(asked) != "932") << GetACP();
    if (GetACP() != 932) GTEST_SKIP() << "code page " << GetACP();
  } else if (a == "opener") {  // the recorder opens web pages
    char old[MAX_PATH * 2] = {};
    LONG size = sizeof old;
    RegQueryValueA(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", old, &size);
    opener_ = old;
    SetOpener("\"" + e2e::FixtureExe("recorder.exe") + "\" %1");
  } else if (key == "copy") {  // a name of its own (value: more of it): its processes apart, Wine's settings its own
    const std::string name = "RavCopy" + value + std::to_string(GetCurrentProcessId()) + ".exe";
    exe_ = ExeFolder() + name;
    copy_ = NarrowOf(e2e::Wide(name).c_str(), CP_ACP);  // in the code page, as the system names processes
    ASSERT_TRUE(CopyFileW(e2e::Wide(e2e::VariantExe(row.variant)).c_str(), e2e::Wide(exe_).c_str(), FALSE));
  } else if (a == "cyrillic") {  // the copy, and TEMP, in a folder the code page cannot write
    cyrillic_ = TempDir() + "Папка" + std::to_string(GetCurrentProcessId());
    for (const char* sub : {"", "\\Temp"}) CreateDirectoryW(e2e::Wide(cyrillic_ + sub).c_str(), nullptr);
    ASSERT_TRUE(MoveFileW(e2e::Wide(exe_).c_str(), e2e::Wide(cyrillic_ + "\\" + copy_).c_str()));
    exe_ = cyrillic_ + "\\" + copy_;
    for (const char* name : {"TEMP", "TMP"})
      SetEnv(name, ""), SetEnvironmentVariableW(e2e::Wide(name).c_str(), e2e::Wide(cyrillic_ + "\\Temp").c_str());
  } else if (key == "ver") {  // the copy sees this Windows (Wine's names: nt40, win2k, ...)
    ASSERT_EQ(0, SHSetValueA(HKEY_CURRENT_USER, ("Software\\Wine\\AppDefaults\\" + copy_).c_str(),
                             "Version", REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1)));
  } else if (key == "user") {  // started with Administrators deny-only, as a user's token is
    HANDLE token = nullptr, restricted = nullptr;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token);
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size);
    SID_AND_ATTRIBUTES deny = {admins, 0};
    std::wstring line = e2e::Wide("\"" + exe_ + "\" " + text);
    EXPECT_TRUE(CreateRestrictedToken(token, 0, 1, &deny, 0, nullptr, 0, nullptr, &restricted) &&
                CreateProcessAsUserW(restricted, e2e::Wide(exe_).c_str(), &line[0], nullptr, nullptr, FALSE,
                                     0, nullptr, nullptr, &si, &user_));
    for (HANDLE h : {token, restricted, user_.hThread}) CloseHandle(h);
  } else if (key == "start" || key == "launch") {  // with the wizard; without, in cwd_
    bootstrapper_ = e2e::Process(exe_, text, key == "start" ? "" : cwd_);
    ASSERT_TRUE(bootstrapper_.Started()) << exe_;
    wizard_ = key == "start" ? e2e::WaitForWizard(bootstrapper_.Id()) : nullptr;
    ASSERT_TRUE(key != "start" || wizard_ != nullptr) << "no wizard";
  } else if (a == "next" || a == "cancel") {  // only as a user could: when enabled
    const int button = a == "next" ? IDOK : IDCANCEL;
    ASSERT_TRUE(e2e::WaitFor([&] { return Enabled(button); }));
    pressedFrom_ = GetTickCount();  // a busy server can deliver the press long before the post returns
    e2e::Click(wizard_, button);
    pressedAt_ = GetTickCount();
  } else if (a == "licence") {
    ASSERT_TRUE(e2e::WaitFor([&] { return Visible(IDC_LICENSE); }));
  } else if (a == "accept" || a == "decline") {
    e2e::Click(wizard_, a == "accept" ? IDC_ACCEPT : IDC_DECLINE);
  } else if (a == "enabled" || a == "disabled") {
    EXPECT_TRUE(e2e::WaitFor([&] { return Enabled(IDOK) == (a == "enabled"); }));
  } else if (key == "T" || key == "S" || key == "D" || key == "E") {
    ASSERT_TRUE(e2e::WaitFor([&] { return Text(control) == text; }, 60000)) << Text(control);
    EXPECT_TRUE(key != "E" || Visible(IDC_ERROR_TEXT));
  } else if (key == "after") {  // at least this long since the last press
    EXPECT_GE(GetTickCount() - pressedFrom_, static_cast<DWORD>(id));
  } else if (key == "dl") {  // the download line and the bar between 0 and 100, or any line
    ASSERT_TRUE(e2e::WaitFor([&] {
      const int p = percent(208);
      return value == "any" ? p >= 0 : p > 0 && p < 100;
    }));
    const LRESULT pos = SendMessageA(GetDlgItem(wizard_, IDC_PROGRESS), PBM_GETPOS, 0, 0);
    // Next stays disabled: pressed now it would fail a download still running.
    EXPECT_TRUE(value == "any" || (Visible(IDC_PROGRESS) && pos > 0 && pos <= 100 && !Enabled(IDOK)))
        << pos;
  } else if (key == "inst") {  // the installer's percentage, or that it reached value
    ASSERT_TRUE(e2e::WaitFor([&] { return value.empty() ? percent(212) >= 0 : percent(212) == id; },
                             60000)) << Text(IDC_STATUS_TEXT);
    EXPECT_TRUE(Visible(IDC_PROGRESS));
  } else if (a == "gone") {  // a failed download is deleted before step 9 shows
    ASSERT_EQ(1u, Fresh().size());
    EXPECT_TRUE(e2e::PathExists(Fresh()[0] + "\\setup.exe"));
    EXPECT_FALSE(e2e::PathExists(Fresh()[0] + "\\dotnetfx.exe"));
  } else if (key == "hold") {  // a file of the work folder, as a virus scanner does: name, sharing
    const std::string name = value.substr(0, value.find(':'));
    held_ = CreateFileA((Fresh().at(0) + "\\" + name).c_str(), GENERIC_READ, std::atoi(value.c_str() + name.size() + 1),
                        nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held_);
    heldFiles_ = Files(Fresh().at(0) + "\\").size();
  } else if (key == "release") {  // half a second on, or this many ms
    Sleep(id != 0 ? id : 500), CloseHandle(held_), held_ = nullptr;
  } else if (a == "answers") {  // the wizard's thread serves its window within a second
    DWORD_PTR result = 0;
    EXPECT_NE(0, SendMessageTimeoutA(wizard_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result));
  } else if (a == "letgo") {  // after the setup program's end, once a first attempt removed what it could
    e2e::WaitFor([] { return SetupProgramWindows().empty(); });
    e2e::WaitFor([&] { return Files(Fresh().at(0) + "\\").size() < heldFiles_; }, 1000);
    CloseHandle(held_), held_ = nullptr;
  } else if (a == "hidden") {
    EXPECT_TRUE(e2e::WaitFor([&] { return !IsWindowVisible(wizard_); }));
  } else if (a == "stays") {
    EXPECT_FALSE(bootstrapper_.Wait(1000)) << "ended before the setup program";
  } else if (a == "started") {  // the setup program, in the one new work folder
    ASSERT_TRUE(e2e::WaitFor([&] { return Record("SETUP_RECORD").find('\n') != a.npos; }));
    const std::string line = Record("SETUP_RECORD");  // "command<TAB>folder<TAB>TEMP\r\n"
    setupCommand_ = line.substr(0, line.find('\t'));
    setupFolder_ = line.substr(line.find('\t') + 1, line.rfind('\t') - line.find('\t') - 1);
    ASSERT_EQ(1u, Fresh().size());
    EXPECT_EQ(0, lstrcmpiA(Fresh()[0].c_str(), setupFolder_.c_str())) << setupFolder_;
    EXPECT_TRUE(e2e::PathExists(setupFolder_ + "\\setup.exe"));
  } else if (a == "setup" || a == "close") {  // it shows up; its user closes it
    ASSERT_TRUE(e2e::WaitFor([] { return !SetupProgramWindows().empty(); }));
    if (a == "close") PostMessageA(SetupProgramWindows()[0], WM_CLOSE, 0, 0);
  } else if (a == "nowindow") {
    EXPECT_EQ(nullptr, e2e::FindTopWindow(bootstrapper_.Id(), "Ravenstock Setup", false));
  } else if (key == "box") {  // of the started program, else of a copy the user's one started
    ASSERT_TRUE(e2e::WaitFor([&] {
      for (const auto& c : Copies())
        if (c.first != user_.dwProcessId && box == nullptr) box = e2e::FindMessageBox(c.first);
      if (bootstrapper_.Started()) box = e2e::FindMessageBox(bootstrapper_.Id());
      return box != nullptr;
    }));
    EXPECT_EQ(Str(id), e2e::ControlText(box, 0xFFFF));  // a message box's text
    if (row.during) row.during(*this, box);
    e2e::Click(box, IDOK);
  } else if (key == "opened") {  // web pages opened so far (through the desktop shell: slow on a busy machine)
    ASSERT_TRUE(e2e::WaitFor([&] { return CountOf(Record("RECORDER_FILE"), "\r\n") == id; }, 60000));
  } else if (a == "dlls") {  // look-alikes of the DLLs it loads after start-up, beside it
    // Wine takes its overrides from the host environment only: scripts/test makes them native-first.
    char overrides[512] = "msi,wininet=";
    ASSERT_TRUE(GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides) || !OnWine());
    SetEnv("RAVEN_MARKER_DIR", temp_);
    std::string names;
    for (char* p = std::strtok(overrides, ",="); p != nullptr && *p != 'n'; p = std::strtok(nullptr, ",=")) {
      dlls_.push_back(std::string(p) + ".dll");
      names += " " + dlls_.back();
      ASSERT_TRUE(CopyFileA(e2e::FixtureExe("marker.dll").c_str(), (ExeFolder() + dlls_.back()).c_str(), FALSE));
    }
    // The control: a program beside them that loads them by name leaves every marker.
    ASSERT_TRUE(CopyFileA(e2e::FixtureExe("load_by_name.exe").c_str(), (ExeFolder() + "control.exe").c_str(), FALSE));
    EXPECT_TRUE(e2e::Process(ExeFolder() + "control.exe", names).Wait());
    DeleteFileA((ExeFolder() + "control.exe").c_str());
    for (const std::string& dll : dlls_) EXPECT_TRUE(DeleteFileA((temp_ + dll + ".loaded").c_str())) << dll;
  } else if (a == "fulldisk" || a == "unfull") {
    ASSERT_TRUE(LinkLogToFullDisk(fullDisk_ = a == "fulldisk"));
  } else if (a == "ended") {
    ASSERT_TRUE(bootstrapper_.Wait(30000)) << "still running after the setup program ended";
  } else if (a == "esc" || a == "enter" || a == "closebox") {  // Escape to Cancel, Enter to Next, the close box
    const bool box = a == "closebox";
    pressedFrom_ = GetTickCount();
    PostMessageA(box ? wizard_ : GetDlgItem(wizard_, a == "esc" ? IDCANCEL : IDOK), box ? WM_SYSCOMMAND : WM_KEYDOWN,
                 box ? SC_CLOSE : a == "esc" ? VK_ESCAPE : VK_RETURN, 1);
    pressedAt_ = GetTickCount();
  } else if (key == "cmd") {  // a button's command as Enter (1) or Escape (2) gives it, enabled or not; taken now
    SendMessageTimeoutA(wizard_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(wizard_, id)),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
  } else if (key == "cancel-off" || key == "cancel-on") {
    EnableWindow(GetDlgItem(wizard_, IDCANCEL), key == "cancel-on");
  } else if (a == "hardlink") {  // the log, as a second name of another file
    ASSERT_TRUE(e2e::WriteFileText(temp_ + "LOG_TARGET", "not a log\r\n") &&
                CreateHardLinkA(e2e::LogPath().c_str(), (temp_ + "LOG_TARGET").c_str(), nullptr));
  } else if (key == "quiet") {  // started with these arguments in cwd_; shows no window up to its end
    bootstrapper_ = e2e::Process(exe_, text, cwd_);
    ASSERT_TRUE(bootstrapper_.Started()) << exe_;
    EXPECT_EQ("", WindowShownUntilEnd(bootstrapper_, 120000));
  } else if (key == "second") {  // another copy (":user", an unelevated one) ends within 5 s with 1618, showing nothing
    if (value == "user") {
      Do(row, "user:");
      ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(user_.hProcess, 5000));
      DWORD code = 0;
      EXPECT_TRUE(GetExitCodeProcess(user_.hProcess, &code) && code == 1618) << code;
      for (const auto& c : Copies()) EXPECT_NE(user_.dwProcessId, c.second);  // it relaunched nothing
    } else {  // and brings the first one's wizard to the front, from behind a window of ours
      HWND ours = CreateWindowExA(0, "STATIC", "in front", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                  nullptr, nullptr);
      SetForegroundWindow(ours);
      ASSERT_NE(wizard_, GetForegroundWindow());
      e2e::Process other(exe_, "");
      EXPECT_EQ("", WindowShownUntilEnd(other, 5000));
      EXPECT_EQ(1618u, other.ExitCode());
      other.Kill();
      EXPECT_EQ(wizard_, GetForegroundWindow());
      DestroyWindow(ours);
    }
  } else if (key == "code") {  // the exit code the run must end with (0 when not given)
    exitCode_ = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10));
  } else if (a == "fw") {
    e2e::SetFrameworkInstalled(true);
  } else if (a == "noshell") {
    ASSERT_TRUE(MoveShellClass(true));
  } else if (a == "address") {  // step 11 shows the manual page's address with its text
    ASSERT_TRUE(e2e::WaitFor([&] { return Text(IDC_ERROR_TEXT) == Str(219) + "\r\n\r\n" + Str(304); }, 15000))
        << Text(IDC_ERROR_TEXT);
    EXPECT_TRUE(Visible(IDC_ERROR_TEXT));
  } else if (key == "post") {  // a worker's message number, from this process
    PostMessageA(wizard_, WM_USER + id, 0, 0);
  } else if (key == "asked") {  // the web host has had this many requests
    ASSERT_TRUE(e2e::WaitFor([&] { return CountOf(server_.RequestLog(), "GET ") == id; }));
  } else if (a == "unpacking") {  // the redistributable has started
    ASSERT_TRUE(e2e::WaitFor([&] { return !Record("REDIST_RECORD").empty(); }));
  } else if (key == "endsin") {  // the program ends this soon after the last press
    EXPECT_TRUE(bootstrapper_.Wait(id)) << "still running " << id << " ms after the press";
    EXPECT_LE(GetTickCount() - pressedAt_, static_cast<DWORD>(id) + 500);
  } else if (a == "retrying") {  // the status line says that the download is tried again
    const std::string format = Str(IDS_DOWNLOAD_RETRY);
    ASSERT_TRUE(e2e::WaitFor([&] { return Text(IDC_STATUS_TEXT).compare(0, format.find('%'), format, 0, format.find('%')) == 0; }))
        << Text(IDC_STATUS_TEXT);
  } else if (key == "creds") {  // the proxy's password dialog, owned by the wizard: USER:PASSWORD, cancel, esc or close
    HWND dialog = nullptr;
    ASSERT_TRUE(e2e::WaitFor([&] {
      for (HWND h = nullptr; (h = FindWindowExA(nullptr, h, "#32770", nullptr)) != nullptr;)
        if (GetWindow(h, GW_OWNER) == wizard_ && IsWindowVisible(h)) dialog = h;
      return dialog != nullptr;
    })) << "no dialog owned by the wizard";
    EXPECT_FALSE(IsWindowEnabled(wizard_));  // modal to the wizard
    std::vector<HWND> edits;
    for (HWND h = nullptr; (h = FindWindowExA(dialog, h, "Edit", nullptr)) != nullptr;) edits.push_back(h);
    ASSERT_LE(2u, edits.size());
    if (value.find(':') != value.npos) {
      SendMessageA(edits[0], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.substr(0, value.find(':')).c_str()));
      SendMessageA(edits[1], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.substr(value.find(':') + 1).c_str()));
    }
    if (value == "esc" || value == "close")  // the key in its first box, or its close box
      PostMessageA(value == "esc" ? edits[0] : dialog, value == "esc" ? WM_KEYDOWN : WM_SYSCOMMAND,
                   value == "esc" ? VK_ESCAPE : SC_CLOSE, 1);
    else
      e2e::Click(dialog, value == "cancel" ? IDCANCEL : IDOK);
  } else if (key == "watch") {  // up to the installer's 100: the bytes sent (within a piece of id), only growing
    const std::string format = Str(IDS_DOWNLOAD_PROGRESS), installing = Str(IDS_INSTALL_PROGRESS);
    const double total = static_cast<double>(e2e::ReadFileText(DemoRedist()).size());
    auto bytes = [](const std::string& size) {  // "2.60 MB" read back
      const size_t unit = size.find(' ') + 1;
      return std::atof(size.c_str()) * (size.compare(unit, 2, "KB") == 0 ? 1 << 10 : size.compare(unit, 2, "MB") == 0 ? 1 << 20 : 1);
    };
    auto shown = [&](unsigned long n) { char text[64] = {}; return bytes(StrFormatByteSizeA(n, text, sizeof text)); };
    double last = 0;
    int lastPercent = 0, installer = -1, samples = 0;
    ASSERT_TRUE(e2e::WaitFor([&] {
      const unsigned long low = std::max(server_.Sent(), static_cast<unsigned long>(id)) - id;
      const std::string line = Text(IDC_STATUS_TEXT);
      const unsigned long high = server_.Sent();
      const int p = Percent(line, format), now = Percent(line, installing);
      const double size = p < 0 ? last : bytes(line.substr(format.find('%'), line.rfind(" - ") - format.find('%')));
      EXPECT_TRUE(p < 0 || (shown(low) <= size && size <= shown(high) && std::abs(p - size * 100 / total) < 2 &&
                            size >= last && p >= lastPercent)) << line << ", sent " << high;
      EXPECT_TRUE(now < 0 || now >= installer) << line;
      if (p >= 0) last = size, lastPercent = p, ++samples;
      installer = std::max(installer, now);
      return installer == 100 || HasFailure();
    }, 60000));
    EXPECT_LE(10, samples);
  } else if (a == "nocancel") {  // while the installer says so: Cancel disabled, Escape and the close box ignored
    ASSERT_TRUE(e2e::WaitFor([&] { return !Enabled(IDCANCEL); }, 60000));
    EXPECT_EQ(100, percent(IDS_INSTALL_PROGRESS));
    PostMessageA(GetDlgItem(wizard_, IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 1);
    PostMessageA(wizard_, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(e2e::WaitFor([&] { return Enabled(IDCANCEL); }));  // said by the installer, in the same step
    EXPECT_EQ(100, percent(IDS_INSTALL_PROGRESS));
  } else if (key == "reply") {  // the installer's box (caption:button) is the wizard's; answered with that button
    const std::string caption = value.substr(0, value.find(':'));
    char title[64] = {};
    ASSERT_TRUE(e2e::WaitFor([&] { return (box = OtherWindow(bootstrapper_.Id(), wizard_)) != nullptr; }, 60000));
    GetWindowTextA(box, title, sizeof title);
    EXPECT_EQ(caption + "|" + caption + " raised by the package|1", std::string(title) + "|" +
              e2e::ControlText(box, 0xFFFF) + "|" + std::to_string(GetWindow(box, GW_OWNER) == wizard_));
    e2e::Click(box, std::atoi(value.c_str() + caption.size() + 1));
    ASSERT_TRUE(e2e::WaitFor([&] { return !IsWindow(box); }));
  } else if (a == "alone") {  // up to its end the process shows no window but the wizard
    HWND other = nullptr;
    ASSERT_TRUE(e2e::WaitFor([&] { return (other = OtherWindow(bootstrapper_.Id(), wizard_)) != nullptr || bootstrapper_.Wait(0); }, 120000));
    EXPECT_EQ(nullptr, other);
  } else if (a == "x") {
    row.during(*this, nullptr);
  } else {
    FAIL() << "unknown action";
  }
}

// As the log stamps its records: local time, month first.
std::string Stamp() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char text[64];
  wsprintfA(text, "date=\"%02u/%02u/%04u\" time=\"%02u:%02u:%02u\"", t.wMonth, t.wDay, t.wYear,
            t.wHour, t.wMinute, t.wSecond);
  return text;
}

void Scenario::Run(const Row& row) {
  exe_ = e2e::VariantExe(row.variant);
  const std::string from = Stamp();
  std::istringstream walk(row.walk);
  for (std::string action; !HasFatalFailure() && !IsSkipped() && walk >> action;) Do(row, action);
  if (HasFatalFailure() || IsSkipped()) return;
  ASSERT_TRUE(bootstrapper_.Wait(120000) ||
              WaitForSingleObject(user_.hProcess, 120000) == WAIT_OBJECT_0) << "still running";

  // Read from Windows: the whole code, where Wine's own command passes only its low 8 bits.
  DWORD code = bootstrapper_.ExitCode();
  if (!bootstrapper_.Started()) GetExitCodeProcess(user_.hProcess, &code);
  EXPECT_EQ(exitCode_, code);
  log_ = e2e::ReadLog();
  EXPECT_TRUE(InOrder(log_, row.log)) << log_;
  // The first record was stamped while the run went on.
  const size_t at = log_.find("date=");
  const std::string stamp = at == log_.npos ? "" : log_.substr(at, from.size()), to = Stamp();
  EXPECT_TRUE(at == log_.npos || (from <= stamp && stamp <= to)) << from << " " << stamp << " " << to;
  for (const std::string& never : row.absent) EXPECT_EQ(0, CountOf(log_, never)) << never;
  EXPECT_TRUE((row.outcome & kErrors) || log_.find("<error ") == std::string::npos) << log_;
  EXPECT_TRUE(!(row.outcome & (kAsked | kUnasked)) || server_.RequestLog() == (row.outcome & kAsked ? kRequest : ""));
  EXPECT_EQ(row.outcome & kSetupRan ? 1 : 0, CountOf(Record("SETUP_RECORD"), "\n"));
  EXPECT_EQ(!(row.outcome & kRedistRan), Record("REDIST_RECORD").empty());
  EXPECT_EQ(!(row.outcome & kInstalled), IsFrameworkMissing());
  EXPECT_EQ(!(row.outcome & kKept), Fresh().empty());
  // Nothing lands in the current folder or where an escaping name points.
  EXPECT_EQ(std::vector<std::string>{}, Files(cwd_));
  EXPECT_EQ(std::vector<std::string>{}, Files(TempDir() + "raven-escape-"));
  EXPECT_EQ(!(row.outcome & kNoLog), e2e::PathExists(e2e::LogPath()));
  if (row.after) row.after(*this, nullptr);
}

TEST_P(Scenario, Runs) { Run(GetParam()); }

void LicencePage(Scenario& t, HWND) {
  const std::string licence = e2e::ReadFileText(std::string(RAVEN_SOURCE_DIR) +
                                                "/tests/fixtures/wizard/licence-crlf.txt");
  EXPECT_NE(std::string::npos, licence.find("\r\n"));
  EXPECT_EQ(licence, t.Text(IDC_LICENSE));
  EXPECT_TRUE(e2e::ButtonChecked(t.wizard_, IDC_DECLINE));
  EXPECT_FALSE(t.Enabled(IDOK));
  // The page keeps the title and status line it came with.
  EXPECT_EQ(t.Str(IDS_PREPARING) + "|" + t.Str(IDS_FRAMEWORK_REQUIRED),
            t.Text(IDC_TITLE) + "|" + t.Text(IDC_STATUS_TEXT));
}

// Byte for byte in the new work folder while the wizard shows; each file
// logged once, as the log says after the run.
std::string Payload25() { return e2e::BuildDir() + "\\" RAVEN_WIN_TREE "\\test-payloads\\payload25\\"; }
void PayloadLanded(Scenario& t, HWND) {
  ASSERT_EQ(1u, t.Fresh().size());
  t.setupFolder_ = t.Fresh()[0];
  const std::string folder = t.setupFolder_ + "\\", source = Payload25();
  const std::vector<std::string> expected = Files(source);
  ASSERT_EQ(25u, expected.size());
  ASSERT_EQ(expected, Files(folder));
  for (const std::string& name : expected)
    EXPECT_TRUE(e2e::ReadFileText(source + name) == e2e::ReadFileText(folder + name)) << name;
}
void PayloadLogged(Scenario& t, HWND) {
  EXPECT_TRUE(InOrder(t.log_, {"Creating temp folder \"" + t.setupFolder_ + "\"",
                               "Extracting resources in " + t.setupFolder_ + "\\", "Resources extracted"}));
  EXPECT_EQ(25, CountOf(t.log_, ">Creating file : "));
  EXPECT_EQ(25, CountOf(t.log_, ">File created<"));
  for (std::string name : Files(Payload25())) {
    std::replace(name.begin(), name.end(), '\\', '/');
    EXPECT_EQ(1, CountOf(t.log_, ">Creating file : " + name + "<")) << name;
  }
}

// The setup program's record (in codePage), each field to its end: its arguments as
// a parser splits them (after the empty program name), its current folder and TEMP.
void SetupRecordIs(const std::string& record, UINT codePage, std::vector<std::wstring> args,
                   const std::wstring& folder, const std::string& temp) {
  const std::wstring r = e2e::Wide(record, codePage);
  const size_t tab = r.find(L'\t');
  int n = 0;
  LPWSTR* argv = CommandLineToArgvW(r.substr(0, tab).c_str(), &n);
  args.insert(args.begin(), L"");
  EXPECT_EQ(args, std::vector<std::wstring>(argv, argv + n)) << record;
  LocalFree(argv);
  EXPECT_EQ(folder + L"\t" + e2e::Wide(temp) + L"\r\n", r.substr(tab + 1)) << record;
}

// The redistributable's and the setup program's records after an elevated run with
// an XP TEMP and the argument below: every argument whole, to its end.
const char kXpArgument[] = "start:/log=\"C:\\Documents_and_Settings\\Test_User\\Local_Settings\\Temp\\setup_log.txt\" ";
void ElevatedArgumentsWhole(Scenario& t, HWND) {
  std::istringstream lines(t.Record("REDIST_RECORD"));
  std::string command, folder, temp;
  std::getline(lines, command), std::getline(lines, folder), std::getline(lines, temp);
  EXPECT_TRUE(folder.find(e2e::WindowsTempDir() + "Rav") == 0 && folder.size() == e2e::WindowsTempDir().size() + 23) << folder;
  EXPECT_EQ(" /q:a /c:\"msiexec /q /a netfx.msi TARGETDIR=\"\"" + folder + "\\dotnetfx\\\"\"\"", command);
  EXPECT_EQ(folder + "\\temp", temp);
  SetupRecordIs(t.Record("SETUP_RECORD"), CP_ACP, {L"/log=C:\\Documents and Settings\\Test User\\Local Settings\\Temp\\setup log.txt"},
                e2e::Wide(folder), t.xpTemp_);
}

void ExeNamedBox(Scenario& t, HWND box) {  // no application name yet: the box has the exe's own
  char caption[64] = {};
  GetWindowTextA(box, caption, sizeof caption);
  EXPECT_EQ(t.copy_.substr(0, t.copy_.size() - 4), caption);
  EXPECT_EQ(nullptr, e2e::FindTopWindow(t.bootstrapper_.Id(), "Ravenstock Setup"));
}

std::vector<Row> Rows() {
  const std::string frame = "application=\"Ravenstock\" session=\"BootStrap\"/>\r\n";
  const std::string licence = "start next licence accept next ";
  const std::string installed = "Installing .net : Ok", step10 = "Updating controls for step 10";
  std::vector<Row> rows = {
      // Worker messages while no worker runs (cancelled, install and setup ended,
      // download ended) change nothing: Next, posted behind them, moves on.
      {"ForeignWorkerMessagesChangeNothing", "wizard", "code:1602 start post:103 post:106 post:100 "
       "post:101 next S:205 cancel", {"Seeking next step for step 0", "New step reached : 1", "<end "},
       {"New step reached : 2", "Seeking next step for step 1"}, 0, nullptr, nullptr},
      {"RefusedDownloadLeadsToTheManualInstallation", "wizard",
       "refused env:RAVEN_SETUP_AUTOCLOSE=1500 opener " + licence + "T:218 E:216 next "
       "T:Continue_Installation E:219 opened:1 x next opened:2 fw next setup disabled",
       {"Seeking next step for step 11", "Starting installation thread", "New step reached : 5"},
       {}, kSetupRan | kInstalled | kErrors,
       [](Scenario& t, HWND) {  // by the desktop shell: Wine's tokens are split, as Vista's
         EXPECT_EQ(0u, t.Record("RECORDER_FILE").find("[shell] \"" + e2e::FixtureExe("recorder.exe") + "\" " + t.Str(304) + "\r\n"));
       }, [](Scenario& t, HWND) { EXPECT_EQ(1, CountOf(t.log_, "Starting installation thread")); }},
      // The install's end makes no step change of its own: only the layout.
      {"RedistributableThatIsNoProgram", "wizard-install",
       "code:1602 beside:text " + licence + "T:218 E:220 cancel", {step10}, {"New step reached : 10"},
       kErrors, nullptr, [=](Scenario& t, HWND) { EXPECT_EQ(1, CountOf(t.log_, step10)); }},
      {"DownloadInstallsWithProgress", "download",
       "serve:--mode_slow_--piece_16384_--pause_60 env:RAVEN_REDIST_DELAY_MS=1500 env:RAVEN_"
       "PACKAGE_PAUSE_MS=2500 env:RAVEN_SETUP_AUTOCLOSE=1000 " + licence +
       "D:207 dl S:209 D:210 disabled inst inst:100",
       {"Starting .net installation thread", ".net installation process successfully started",
        "Unpacking .net setup", ".net setup unpacked", ">Installing .net<", installed,
        "Terminating .net installation thread"}, {}, kAsked | kSetupRan | kRedistRan | kInstalled, nullptr,
       [=](Scenario& t, HWND) {  // the two workers' last records may interleave
         EXPECT_TRUE(InOrder(t.log_, {"Downloading resource", kGot, "New step reached : 4",
                                      "Terminating .net download"}));
         EXPECT_TRUE(InOrder(t.log_, {installed, "New step reached : 6"}));
         EXPECT_EQ(0u, t.Record("REDIST_RECORD").find(" /q:a /c:\"msiexec /q /a netfx.msi "));
       }},
      {"DownloadWithoutLength", "download",
       "serve:--mode_slow-nolength_--piece_16384_--pause_40 env:RAVEN_REDIST_DELAY_MS=1000 "
       "env:RAVEN_SETUP_AUTOCLOSE=1000 " + licence + "dl:any",
       {kGot, installed}, {}, kAsked | kSetupRan | kRedistRan | kInstalled, nullptr, nullptr},
      // A body longer than announced: the file stops at the length and matches its pin.
      {"OverlongBodyStopsAtItsLength", "download", "serve:--mode_overlong env:RAVEN_SETUP_AUTOCLOSE=1000 " + licence,
       {kGot, installed}, {}, kAsked | kSetupRan | kRedistRan | kInstalled, nullptr, nullptr},
      // The wizard ends once the worker has seen the flag and closed its file.
      {"CancelDuringTheDownload", "download", "code:1602 serve:--mode_slow_--piece_4096_--pause_200 " + licence + "dl:any cancel",
       {"Downloading resource", kGot, "Temp folder successfully deleted"},
       {"New step reached : 4", "New step reached : 9"}, kAsked, nullptr, nullptr},
      // Cancel ends the run within 2 s whatever the download waits for: a host
      // that never answers; a body that stalls, the pause before a retry and
      // the unpacking are in WizardPaths. Nothing is left behind.
      {"CancelWhileTheHostSaysNothing", "download", "code:1602 serve:--mode_silent " + licence + "asked:1 cancel endsin:2000",
       {"Connected to server", "Temp folder successfully deleted"}, {"Downloading resource", "New step reached : 9"},
       kAsked, nullptr, nullptr},
      // Failures that pass: a body cut at half continues from there (Range,
      // with the first answer's ETag in If-Range); where ranges are ignored,
      // the whole file comes again; a 503 once is tried again after 2 s.
      {"CutBodyContinuesWhereItStopped", "download", "serve:--mode_truncated_--faults_1 env:RAVEN_SETUP_AUTOCLOSE=1000 " +
       licence + "setup", {"Attempt 1 of 4 failed (error 38), ", kGot, installed}, {"<error "},
       kSetupRan | kRedistRan | kInstalled, nullptr, [](Scenario& t, HWND) {
         const std::string half = std::to_string(e2e::ReadFileText(DemoRedist()).size() / 2);
         EXPECT_EQ(std::string(kRequest) + kRequest + "  Range: bytes=" + half + "-\r\n  If-Range: \"ravenstock-fixture-1\"\r\n",
                   t.server_.RequestLog());
         EXPECT_EQ(1, CountOf(t.log_, ", " + half + " bytes kept, trying again in 2000 ms"));
       }},
      {"CutBodyComesWholeWhereRangesAreIgnored", "download", "serve:--mode_truncated_--faults_1_--ranges_ignore "
       "env:RAVEN_SETUP_AUTOCLOSE=1000 " + licence + "setup", {"Attempt 1 of 4 failed (error 38), ", kGot, installed},
       {"Attempt 2 "}, kSetupRan | kRedistRan | kInstalled, nullptr,
       [](Scenario& t, HWND) { EXPECT_EQ(2, CountOf(t.server_.RequestLog(), "GET ")); }},
      {"ServiceUnavailableOnceIsTriedAgain", "download", "serve:--status_503_--faults_1 env:RAVEN_SETUP_AUTOCLOSE=1000 " +
       licence + "setup", {"Attempt 1 of 4 failed (status 503), 0 bytes kept, trying again in 2000 ms", kGot, installed},
       {"Attempt 2 "}, kSetupRan | kRedistRan | kInstalled, nullptr,
       [](Scenario& t, HWND) { EXPECT_EQ(std::string(kRequest) + kRequest, t.server_.RequestLog()); }},
      // A proxy that asks for Basic credentials: the system's dialog, owned by
      // the wizard, takes them and the download goes on; its Cancel fails it.
      {"ProxyCredentialsFromTheDialog", "download", "serve:--auth_raven:s3cret env:RAVEN_SETUP_AUTOCLOSE=1000 " + licence +
       "creds:raven:s3cret setup", {kGot, installed}, {}, kSetupRan | kRedistRan | kInstalled, nullptr,
       [](Scenario& t, HWND) {
         EXPECT_EQ(1, CountOf(t.server_.RequestLog(), "  Proxy-Authorization: Basic cmF2ZW46czNjcmV0\r\n")) << t.server_.RequestLog();
       }},
      {"RedistributableBesideFailsToUnpack", "download-beside",
       "code:1602 serve:--mode_ok env:RAVEN_REDIST_EXIT=1 beside:redist " + licence + "T:218 E:220 enabled cancel",
       {"New step reached : 2", "New step reached : 4", "Unpacking .net setup",
        ".net setup unpacked", "Terminating .net installation thread"},
       {"New step reached : 3", "download thread", ">Installing .net<"},
       kUnasked | kRedistRan | kErrors, nullptr,
       [](Scenario& t, HWND) {  // its checked copy ran, in the work folder
         const size_t at = t.log_.find("Creating temp folder \"") + 22;
         const std::string folder = t.log_.substr(at, t.log_.find('"', at) - at);
         EXPECT_NE(std::string::npos, t.Record("REDIST_RECORD").find("\n" + folder + "\n"));
       }},
      // Planted DLLs stay unloaded through a download and an installation.
      {"DllsBesideTheExeAreNeverLoaded", "harden-dlls", "dlls serve:--mode_ok env:RAVEN_SETUP_AUTOCLOSE=300 "
       + licence + "setup", {kGot, installed}, {}, kAsked | kSetupRan | kRedistRan | kInstalled, nullptr,
       [](Scenario& t, HWND) {
         for (const std::string& dll : t.dlls_) EXPECT_FALSE(DeleteFileA((t.temp_ + dll + ".loaded").c_str())) << dll;
       }},
      // A read-only wrong copy: its copy is deleted, the download lands in a file of its own.
      {"ReadOnlyWrongCopyBesideGivesWayToTheDownload", "download-beside",
       "serve:--mode_ok beside:ro " + licence + "started x close", {"matches no pinned hash", kGot,
       installed}, {}, kAsked | kSetupRan | kRedistRan | kInstalled, [](Scenario& t, HWND) {
         EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA((t.setupFolder_ + "\\dotnetfx.exe").c_str()) & ~0x80u);
       }, nullptr},
      {"CancelDuringTheInstallation", "install", "code:1602 env:RAVEN_REDIST_PACKAGE=cancel "
       "env:RAVEN_PACKAGE_PAUSE_MS=3000 beside:redist " + licence + "inst cancel",
       {">Installing .net<", "Error while installing .net", "status=\"1602\"",
        "Terminating .net installation thread"}, {installed, step10}, kRedistRan | kErrors, nullptr, nullptr},
      // What the user reads follows the bytes and the installer; while the installer says it cannot
      // be cancelled, Cancel is disabled and Escape and the close box do nothing.
      {"StatusFollowsTheBytesAndCancelTheInstaller", "download", "serve:--mode_slow_--piece_131072_--pause_60 "
       "env:RAVEN_PACKAGE_NOCANCEL_MS=1500 env:RAVEN_PACKAGE_PAUSE_MS=500 env:RAVEN_SETUP_AUTOCLOSE=300 " + licence +
       "watch:131072 nocancel", {kGot, installed}, {}, kAsked | kSetupRan | kRedistRan | kInstalled, nullptr, nullptr},
      // The package's error and warning are the wizard's boxes, answered as the user chose; files in
      // use is nobody's box (the installer shows none). Quiet: records, and 0 for every answer.
      {"InstallerMessagesAreTheWizardsBoxes", "install", "env:RAVEN_PACKAGE_ASK=1 env:RAVEN_SETUP_AUTOCLOSE=300 "
       "beside:redist " + licence + "reply:Error:5 reply:Warning:7 alone", {installed}, {"Error : ", "Warning : "},
       kRedistRan | kInstalled | kSetupRan, nullptr, [](Scenario& t, HWND) { EXPECT_EQ("5 7 0", t.Record("PACKAGE_RECORD")); }},
      {"QuietInstallerMessagesGoToTheLog", "install", "env:RAVEN_PACKAGE_ASK=1 env:RAVEN_SETUP_AUTOCLOSE=300 beside:redist "
       "quiet:/quiet", {">Error : Error raised by the package<", ">Warning : Warning raised by the package<", installed},
       {"Files in use"}, kRedistRan | kInstalled | kSetupRan, nullptr,
       [](Scenario& t, HWND) { EXPECT_EQ("0 0 0", t.Record("PACKAGE_RECORD")); }},
      // An administrator's work folder is made in the Windows folder's Temp, where users
      // cannot rename it, whatever TEMP says (Windows XP's, with blanks); the
      // redistributable unpacks inside it and the package installs from there.
      // Every argument whole: the setup program's path with blanks, TEMP its user's.
      {"AdministratorsFolderIsInTheWindowsTemp", "install", "blank env:RAVEN_SETUP_AUTOCLOSE=1000 beside:redist "
       + std::string(kXpArgument) + "next licence accept next setup",
       {installed, "Temp folder successfully deleted"}, {}, kRedistRan | kInstalled | kSetupRan, nullptr,
       ElevatedArgumentsWhole},
      // Runtime hooks set before the run reach neither program it starts (the
      // log names them at each start); every other variable does.
      {"RuntimeHooksReachNoStartedProgram", "install", "env:COR_ENABLE_PROFILING=1 env:COR_PROFILER_PATH=C:\\p.dll "
       "env:COMPlus_ZapDisable=1 env:dotnet_Hook=1 env:RAVEN_CORX=kept env:RAVEN_SETUP_AUTOCLOSE=1000 beside:redist "
       + licence + "setup", {"Variables left out of the started program's environment: ", installed,
       "Variables left out of the started program's environment: "}, {}, kRedistRan | kInstalled | kSetupRan, nullptr,
       [](Scenario& t, HWND) {
         std::istringstream lines(t.Record("ENVIRONMENT_RECORD"));
         std::vector<std::string> programs;
         for (std::string line; std::getline(lines, line);) {
           std::istringstream words(line.substr(0, line.find('\r')));
           std::vector<std::string> names;
           for (std::string w; words >> w;) names.push_back(w);
           programs.push_back(names.empty() ? "" : names[0]);
           for (const char* hook : {"COR_ENABLE_PROFILING", "COR_PROFILER_PATH", "COMPlus_ZapDisable", "dotnet_Hook"}) {
             EXPECT_EQ(0, std::count(names.begin(), names.end(), hook)) << line;
             EXPECT_EQ(2, CountOf(t.log_, hook)) << hook;
           }
           for (const char* kept : {"RAVEN_CORX", "RAVEN_SETUP_AUTOCLOSE", "TEMP", "PATH"})
             EXPECT_EQ(1, std::count(names.begin(), names.end(), kept)) << line;
         }
         EXPECT_EQ((std::vector<std::string>{"redist:", "setup:"}), programs);
       }},
      // Renamed away on the licence page and another put in its place: the
      // held folder refuses, and what runs is the payload's.
      {"WorkFolderCannotBeSwapped", "install", "env:RAVEN_SETUP_AUTOCLOSE=1000 beside:redist "
       "start next licence x accept next started", {installed, "Starting installation thread"},
       {}, kSetupRan | kRedistRan | kInstalled,
       [](Scenario& t, HWND) {  // a swap that works leaves two folders ("started" fails)
         const std::string f = t.Fresh().at(0);
         if (MoveFileA(f.c_str(), (f + "-moved").c_str()) && CreateDirectoryA(f.c_str(), nullptr))
           e2e::WriteFileText(f + "\\setup.exe", "not the payload's");
       },
       [](Scenario& t, HWND) {  // the redistributable's TEMP is the run's; the setup program's ours
         char temp[MAX_PATH] = {};
         EXPECT_NE(std::string::npos, t.Record("REDIST_RECORD").find("\n" + t.setupFolder_ + "\\temp\n"));
         EXPECT_NE(std::string::npos, t.Record("SETUP_RECORD").find(std::string(temp, GetEnvironmentVariableA("TEMP", temp, MAX_PATH)) + "\r\n"));
       }},
      {"HandsOverToTheSetupProgramAndCleansUp", "launch",
       "fw env:RAVEN_SETUP_EXIT=7 code:7 start:alpha_beta S:204 next S:213 T:203 disabled S:214 after:950 started hidden stays close",
       {"<begin ", "Creating temp folder", "Temp folder successfully created",
        "Extracting resources in ", "Creating file : ", "Resources extracted",
        "New step reached : 5", "Seeking next step for step 5",
        "Starting installation thread for : ", "command line :  alpha beta<", ">Creating process<",
        "<end ", ">Installation process successfully started<", "<begin ",
        ">Installation terminated<", "Seeking next step for step 6", "Deleting temp folder",
        "Temp folder successfully deleted", "<end "}, {}, kSetupRan | kInstalled, nullptr,
       [](Scenario& t, HWND) {
         EXPECT_EQ(" alpha beta", t.setupCommand_);
         EXPECT_EQ(std::make_pair(2, 2), std::make_pair(CountOf(t.log_, "<begin "), CountOf(t.log_, "<end ")));
       }},
      // A scanner holds the new program as it is started (status 214).
      {"SetupProgramHeldForAMomentStillStarts", "launch", "fw start hold:setup.exe:0 next S:214 release started close",
       {">Installation process successfully started<", "Temp folder successfully deleted"}, {},
       kSetupRan | kInstalled, nullptr, nullptr},
      // Held for seconds as the wizard's own thread starts it (after the manual
      // installation): the start is retried for 10 s, the window answering.
      {"SetupProgramHeldForSecondsStartsFromTheWizardsThread", "wizard", "refused opener env:RAVEN_SETUP_AUTOCLOSE=500 "
       + licence + "T:218 next opened:1 fw hold:setup.exe:0 next disabled answers release:3500 setup",
       {"Seeking next step for step 11", ">Creating process<", ">Installation process successfully started<"}, {},
       kSetupRan | kInstalled | kErrors, nullptr, nullptr},
      {"SetupProgramThatCannotStartIsReported", "not-a-program", "code:1603 fw launch:/update", {">Creating process<",
       "message=\"Error while creating process for installation\">", "Temp folder successfully deleted"}, {}, kInstalled | kErrors, nullptr, nullptr},
      // A file in the work folder held as the setup program ends: let go within
      // the retries, the folder goes (with delete sharing the file is only marked
      // and the removal fails until it goes); held on, the failure is logged with
      // the Windows code of what happened and its text.
      {"HeldFileLetGoWithinTheRetries", "launch", "fw launch:/update setup hold:readme.txt:1 close letgo",
       {"Deleting temp folder", "Temp folder successfully deleted"}, {}, kSetupRan | kInstalled, nullptr, nullptr},
      {"HeldFileMarkedForDeletionLetGo", "launch", "fw launch:/update setup hold:readme.txt:5 close letgo",
       {"Deleting temp folder", "Temp folder successfully deleted"}, {}, kSetupRan | kInstalled, nullptr, nullptr},
      // What the setup program leaves (read-only files and folders, a name outside the code
      // page, a file held by another program for half a second after its end) goes too.
      {"WhatTheSetupProgramLeavesGoesWithTheFolder", "launch", "fw env:RAVEN_SETUP_LEAVE=1 launch:/update setup "
       "hold:left\\held.txt:0 x close release ended", {"Deleting temp folder", "Temp folder successfully deleted"}, {},
       kSetupRan | kInstalled, [](Scenario& t, HWND) {
         const std::string left = t.Fresh().at(0) + "\\left\\";
         EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), GetFileAttributesA((left + "ro.txt").c_str()) & 0x11);
         EXPECT_TRUE(e2e::PathExists(left + "deep\\er\\b.txt") && e2e::PathExists(left + "ro-folder\\c.txt"));
         EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(e2e::Wide(left + "Папка.txt").c_str()));
       }, nullptr},
      {"HeldFileHeldOnIsReported", "launch", "fw launch:/update setup hold:readme.txt:1 close ended", {"Deleting temp folder"},
       {"successfully deleted"}, kSetupRan | kInstalled | kErrors | kKept, nullptr, [](Scenario& t, HWND) {
         char text[512] = {};
         FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_SHARING_VIOLATION, 0, text, sizeof text, nullptr);
         EXPECT_EQ(1, CountOf(t.log_, "<exception status=\"32\" message=\"" + std::string(text, std::strcspn(text, "\r\n")) + "\r"));
       }},
      // A temporary folder on no local fixed drive (a network path here; a volume
      // without access rights goes the same way): the Windows folder's Temp serves.
      {"TempWhereRightsMeanNothingGivesWayToTheWindowsTemp", "launch", "fw env:TMP=\\\\ravenstock.invalid\\share "
       "env:TEMP=\\\\ravenstock.invalid\\share user:/update setup close", {"keeps no access rights",
       "Temp folder successfully deleted"}, {}, kSetupRan | kInstalled, nullptr, [](Scenario& t, HWND) {
         char w[MAX_PATH] = {};
         const std::string temp = std::string(w, GetSystemWindowsDirectoryA(w, MAX_PATH)) + "\\Temp\\Rav", s = t.Record("SETUP_RECORD");
         EXPECT_EQ(0, StrCmpNIA(s.c_str() + s.find('\t') + 1, temp.c_str(), temp.size())) << s;
       }},
      // A log every write to which fails (from the first record, or from the
      // wizard's first page): the run still ends by itself.
      {"UpdateRunEndsWhenTheLogCannotBeWritten", "launch", "fw env:RAVEN_SETUP_AUTOCLOSE=0 fulldisk launch:/update "
       "ended unfull", {}, {}, kSetupRan | kInstalled | kNoLog, nullptr, nullptr},
      {"WizardRunEndsWhenTheLogCannotBeWritten", "launch", "fw env:RAVEN_SETUP_AUTOCLOSE=0 start fulldisk next ended "
       "unfull", {}, {}, kSetupRan | kInstalled | kNoLog, nullptr, nullptr},
      // The log a second name of another file: nothing is written through it.
      {"LogWithASecondNameIsNotWrittenThrough", "launch", "fw hardlink launch:/update setup close",
       {"not a log\r\n"}, {"<"}, kSetupRan | kInstalled, nullptr, nullptr},
      // An old Windows; a user without administrator rights, whose elevation
      // under Wine yields none. A copy of the exe tells its processes apart.
      {"OldWindowsGetsOnlyTheMessageAndNoLog", "plain", "code:1603 copy ver:nt40 launch box:200", {}, {}, kNoLog,
       ExeNamedBox, nullptr},
      // An exe name whose character ends in 0x5C ("\x83\x5C") is still one name.
      {"CodePage932OldWindowsNamesTheWholeExe", "plain", "cp932 code:1603 copy:ソ ver:nt40 launch box:200", {}, {}, kNoLog,
       ExeNamedBox, nullptr},
      // The relaunched copy knows itself by its arguments' marker; the first waits.
      // The relaunched copy's exit code (here one it could not make itself) is the caller's.
      {"NonAdministratorRelaunchesOnceAndTheUnelevatedCopyStops", "plain", "code:4242 copy user:a_b box:202", {}, {}, kNoLog,
       [](Scenario& t, HWND) {
         const std::map<DWORD, DWORD> copies = t.Copies();
         ASSERT_EQ(2u, copies.size());
         for (const auto& c : copies)
           EXPECT_EQ(c.first == t.user_.dwProcessId ? GetCurrentProcessId() : t.user_.dwProcessId, c.second);
         EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(t.user_.hProcess, 0));
         EXPECT_EQ(nullptr, e2e::FindMessageBox(t.user_.dwProcessId));
         for (const auto& c : copies) {
           HANDLE h = c.first != t.user_.dwProcessId ? OpenProcess(PROCESS_TERMINATE, FALSE, c.first) : nullptr;
           if (h != nullptr) TerminateProcess(h, 4242), CloseHandle(h);
         }
       }, nullptr},
      // Quiet, its relaunch still without the rights: no box anywhere, the failure in the code.
      {"QuietNonAdministratorWhoseRelaunchGetsNoRightsShowsNothing", "plain", "code:1603 copy user:/quiet", {}, {},
       kNoLog, nullptr, nullptr},
      // Names the code page cannot write: the relaunch finds the copy; updates unpack into TEMP's short form.
      {"RelaunchFromAFolderTheCodePageCannotWrite", "plain", "code:1603 copy cyrillic user: box:202", {}, {}, kNoLog, nullptr, nullptr},
      {"UpdateWithATempTheCodePageCannotWrite", "launch", "fw copy cyrillic user:/update setup close",
       {"Temp folder successfully deleted"}, {}, kSetupRan | kInstalled, nullptr, [](Scenario& t, HWND) {
         wchar_t temp[MAX_PATH] = {};
         const DWORD n = GetShortPathNameW(e2e::Wide(t.cyrillic_ + "\\Temp").c_str(), temp, MAX_PATH);
         EXPECT_NE(0, CountOf(t.log_, "folder \"" + std::string(temp, temp + n) + "\\Rav")) << t.log_;
       }},
      // Code page 932, a user's XP TEMP whose name ends two characters in 0x5C ("\x83\x5C", "\x95\x5C"):
      // the update unpacks and runs there, and goes; the log names the folder in the code page's bytes.
      {"CodePage932UpdateInAJapaneseUsersXpTemp", "launch", "cp932 fw blank:ソ表 user:/update setup close",
       {"Temp folder successfully deleted"}, {}, kSetupRan | kInstalled, nullptr, [](Scenario& t, HWND) {
         const std::string record = t.Record("SETUP_RECORD");
         const std::wstring r = e2e::Wide(record, 932), parent = e2e::Wide(t.xpTemp_ + "\\Rav");
         const std::wstring folder = r.substr(r.find(L'\t') + 1, parent.size() + 20);
         EXPECT_EQ(parent, folder.substr(0, parent.size())) << record;
         SetupRecordIs(record, 932, {L"/update"}, folder, t.xpTemp_);
         EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.c_str()));
         const std::string ansi = NarrowOf(folder.c_str(), 932);
         EXPECT_TRUE(InOrder(t.log_, {"Creating temp folder \"" + ansi + "\"", "Deleting temp folder \"" + ansi + "\\\""})) << t.log_;
       }},
      {"CodePage932InstallKeepsAJapaneseUsersXpTemp", "install", "cp932 blank:ソ表 env:RAVEN_SETUP_AUTOCLOSE=1000 beside:redist "
       + std::string(kXpArgument) + "next licence accept next setup", {installed, "Temp folder successfully deleted"}, {},
       kRedistRan | kInstalled | kSetupRan, nullptr, ElevatedArgumentsWhole},
      {"NonAdministratorInUpdateModeIsNotRelaunched", "plain", "copy user:-UPDATE setup x close",
       {"<begin ", "Installation terminated", "<end "}, {}, kSetupRan,
       [](Scenario& t, HWND) {  // unelevated, in the user's own temporary folder
         EXPECT_EQ(1u, t.Copies().size());
         ASSERT_EQ(1u, t.Fresh().size());
         EXPECT_EQ(0u, t.Fresh()[0].find(TempDir() + "Rav")) << t.Fresh()[0];
       }, nullptr},
      {"PayloadLandsByteForByteAndCancelRemovesIt", "payload25", "code:1602 start x cancel",
       {"Temp folder successfully created", "Loading resource : IDR_STORAGE", "Resources extracted",
        "Deleting temp folder", "Temp folder successfully deleted"}, {}, 0, PayloadLanded, PayloadLogged},
  };
  // A framework installation that asks for a restart is an installed one: the
  // setup program follows, and the run ends with 3010 unless the setup program
  // failed; the installer never restarts by itself. Quiet runs: the wizard's
  // course and records with no window, the switch passed on.
  const std::string quietFw = "serve:--mode_ok env:RAVEN_SETUP_AUTOCLOSE=300 ";
  const std::vector<std::string> quietLog = {"Quiet installation", "New step reached : 2", "New step reached : 4",
      ".net setup unpacked", installed, "New step reached : 6", "command line :  ", "Installation terminated",
      "Temp folder successfully deleted", "<end "};
  for (std::string code : {"3010", "5"}) {
    const std::string setup = code == "5" ? "env:RAVEN_SETUP_EXIT=5 " : "";
    rows.push_back({"RestartAskedForGoesOnAndEndsWith_" + code, "install", "env:RAVEN_REDIST_PACKAGE=reboot beside:redist "
                    "env:RAVEN_SETUP_AUTOCLOSE=300 " + setup + licence + "setup code:" + code,
                    {">Installing .net<", "Installing .net : Ok, a restart is needed (3010)", "New step reached : 6",
                     "Installation terminated"}, {step10}, kRedistRan | kSetupRan, nullptr,
                    [](Scenario& t, HWND) { EXPECT_EQ("ReallySuppress", t.Record("PACKAGE_RECORD")); }});
  }
  rows.push_back({"QuietRestartAskedForEndsWith3010", "install", "env:RAVEN_REDIST_PACKAGE=reboot beside:redist "
                  "env:RAVEN_SETUP_AUTOCLOSE=300 quiet:/quiet code:3010", {"a restart is needed (3010)",
                  "Installation terminated"}, {step10}, kRedistRan | kSetupRan, nullptr,
                  [](Scenario& t, HWND) { EXPECT_EQ("ReallySuppress", t.Record("PACKAGE_RECORD")); }});
  rows.push_back({"QuietDownloadsAndInstalls", "download", quietFw + "quiet:/quiet", quietLog, {},
                  kAsked | kSetupRan | kRedistRan | kInstalled, nullptr,
                  [](Scenario& t, HWND) { EXPECT_EQ(0u, t.Record("SETUP_RECORD").find(" /quiet\t")); }});
  rows.push_back({"QuietTakesTheCopyBeside", "download-beside", quietFw + "beside:redist quiet:-Q", quietLog,
                  {"New step reached : 3", "download thread"}, kUnasked | kSetupRan | kRedistRan | kInstalled, nullptr,
                  nullptr});
  rows.push_back({"QuietWithTheFrameworkRunsTheSetupProgramOnly", "launch", "fw env:RAVEN_SETUP_EXIT=0x4242 "
                  "env:RAVEN_SETUP_AUTOCLOSE=300 quiet:/q_alpha code:16962", {"New step reached : 5",
                  "New step reached : 6", "command line :  /q alpha<", "Installation terminated"}, {"New step reached : 2"},
                  kSetupRan | kInstalled, nullptr, nullptr});
  rows.push_back({"QuietFrameworkInstallFailureEndsWith1603", "install", "env:RAVEN_REDIST_EXIT=1 beside:redist quiet:/QUIET "
                  "code:1603", {".net setup unpacked", "New step reached : 10", "Temp folder successfully deleted"},
                  {">Installing .net<", "Starting installation thread"}, kRedistRan | kErrors, nullptr, nullptr});
  rows.push_back({"QuietBrokenArchiveShowsNoBox", "broken-magic", "quiet:/quiet code:1603", {"is invalid<"}, {},
                  kErrors, nullptr, nullptr});
  // One copy at a time: a second one, elevated or not, leaves the first on its page.
  rows.push_back({"SecondCopyEndsWith1618", "wizard", "copy start second second:user S:204 T:203 cancel code:1602",
                  {"Updating controls for step 0", "<end "}, {"Seeking next step"}, 0, nullptr,
                  [](Scenario& t, HWND) { EXPECT_EQ(1, CountOf(t.log_, "<begin ")); }});
  // Asked for help: the switches and the codes in one box, and nothing else.
  for (std::string ask : {"/?", "-HELP"})
    rows.push_back({std::string("HelpShowsOnlyTheSwitches_") + (ask[1] == '?' ? "Mark" : "Word"), "plain", "launch:" + ask + " box:222", {}, {},
                    kNoLog, [](Scenario& t, HWND box) {
                      const std::string text = e2e::ControlText(box, 0xFFFF);
                      for (const char* word : {"/quiet", "/update", "3010", "1602", "1603", "1618"})
                        EXPECT_NE(std::string::npos, text.find(word)) << word;
                      EXPECT_EQ(nullptr, e2e::FindTopWindow(t.bootstrapper_.Id(), "Ravenstock Setup"));
                    }, nullptr});
  // Windows 98 is refused as NT 4.0 is.
  rows.push_back({"Windows98GetsOnlyTheMessage", "plain", "code:1603 copy ver:win98 launch box:200", {}, {}, kNoLog, nullptr, nullptr});
  // Windows 2000 and XP run; the update switch in either form and any case.
  for (std::string run : {"win2k /UPDATE", "winxp -update"})
    rows.push_back({"RunsOn_" + run.substr(0, 5), "launch",
                    "copy ver:" + run.substr(0, 5) + " fw env:RAVEN_SETUP_EXIT=0x4242 code:16962 launch:" + run.substr(6) +
                    " started nowindow close",
                    {"Resources extracted", ">Creating process<", ">Installation terminated<",
                     "Temp folder successfully deleted", "<end "},
                    {"New step reached"}, kSetupRan | kInstalled, nullptr,
                    [run](Scenario& t, HWND) { EXPECT_EQ(run.substr(5), t.setupCommand_); }});
  for (std::string kind : {"wizard", "broadcast"})  // sent by the setup program: answered (record: 1, ms) at once
    rows.push_back({"WaitingWizardAnswers_" + kind, "wizard", "refused opener env:RAVEN_SETUP_AUTOCLOSE=300 "
                    "env:RAVEN_SETUP_SEND=" + kind + " " + licence + "T:218 next opened:1 fw next setup",
                    {"Starting installation thread", "Installation terminated"}, {}, kSetupRan | kInstalled | kErrors, nullptr,
                    [](Scenario& t, HWND) { const std::string s = t.Record("SETUP_SENT");
                                            EXPECT_TRUE(s.find("1 ") == 0 && std::atoi(&s[2]) < 3000) << s; }});
  // These run after rows that fetched the same address in the same prefix:
  // an answer kept in a cache would be served here instead of the failure.
  // The web host's verdict is no error of the worker's; a cut body or
  // another file than the pinned one is. Nothing is ever started.
  // A 404 or 410 fails at once, without a retry.
  for (std::string failure : {"404 --status_404", "410 --status_410", "Truncated --mode_truncated",
                              "OtherThanPinned --mode_ok"}) {
    const std::string name = failure.substr(0, failure.find(' '));
    const int status = name == "Truncated" ? ERROR_HANDLE_EOF : name == "OtherThanPinned" ? 13 : 0;
    Row row{"FailedDownloadIsNeverRun" + name, status == 13 ? "download-otherpin" : "download",
            "serve:" + failure.substr(name.size() + 1) + " " + licence + "T:218 E:216 enabled gone cancel code:1602",
            {"Connected to server", "New step reached : 9", "Terminating .net download thread"},
            {"New step reached : 4", "Downloading resource", "<error "}, kAsked, nullptr, nullptr};
    if (status != 0) {
      row.log = {kGot, "message=\"An error occurred while downloading .net\">",
                 "<exception status=\"" + std::to_string(status) + "\"", "New step reached : 9",
                 "Terminating .net download thread"};
      row.absent = {"New step reached : 4"};
      row.outcome = kAsked | kErrors;
    }
    if (name == "Truncated") {  // cut each time: tried four times, continued from where it stopped
      row.log.insert(row.log.begin(), "Attempt 3 of 4 failed (error 38)");
      row.outcome = kErrors;
    } else if (status == 13) {  // whole but another file: once more from zero
      row.log.insert(row.log.begin(), "matches no pinned hash, downloading it again");
      row.outcome = kErrors;
      row.after = [](Scenario& t, HWND) { EXPECT_EQ(std::string(kRequest) + kRequest, t.server_.RequestLog()); };
    }
    rows.push_back(row);
  }
  // Quiet, where the wizard would offer the manual installation: its records and 1603.
  rows.push_back({"QuietFailedDownloadEndsWith1603", "download", "serve:--status_404 quiet:/quiet code:1603",
                  {"New step reached : 3", "Connected to server", "New step reached : 9", "Temp folder successfully deleted"},
                  {"New step reached : 4", "Starting installation thread", "<error "}, kAsked, nullptr, nullptr});
  // Every damaged or hostile archive: the "corrupted" box, its work folder already gone.
  std::ifstream variants(std::string(RAVEN_SOURCE_DIR) + "/tests/e2e-variants.txt");
  for (std::string line; std::getline(variants, line);) {
    if (line.compare(0, 7, "broken-") != 0) continue;
    std::string variant = line.substr(0, line.find(' ')), name = "BrokenArchive";
    for (char c : variant.substr(7)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    rows.push_back({name, variant, "launch box:201 code:1603", {"section=\"ResourceManager\">Resource File Format is invalid<"},
                    {"Creating file : "}, kErrors, [](Scenario& t, HWND) { EXPECT_TRUE(t.Fresh().empty()); },
                    [](Scenario& t, HWND) { EXPECT_EQ(1, CountOf(t.log_, "is invalid<")); }});
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(E2e, Scenario, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

// Every button on every page: a row per step the wizard can be on and thing a user does there
// (its name: step_action_step_action...). First what must change nothing (Enter's command with
// Next disabled, "cmd:1", which Wine's dialog manager would not even send; Escape's, "cmd:2",
// with Cancel off), then the action that moves; where the run ends (code:) and the records
// it never wrote. enter/esc: the keys; closebox: the window's close box. Steps: 0 welcome,
// 1 framework required and 5 preparing (a second each), 2 licence, 3 download (its retry
// pause, the proxy's password dialog), 4 unpack and install, 6 setup program running (the
// wizard hidden: only a message reaches it), 9 and 10 failed, 11 manual installation. Next
// on each page, Cancel on 3, 4, 9 and 10, the restart course and the quiet runs (no window,
// nothing to press) are in Rows(); Cancel on 11 in StoppedDesktopShellNeverHoldsTheWizard.
std::vector<Row> WizardPaths() {
  const std::string frame = "application=\"Ravenstock\" session=\"BootStrap\"/>\r\n", licence = "start next licence accept next ";
  const std::string step10 = "Updating controls for step 10", kept = "An error occured while deleting temp folder";
  const std::vector<std::string> ended = {"<end "}, creds = {"The proxy credentials were not given",
      "message=\"An error occurred while downloading .net\">", "New step reached : 9", "<end "},
      unpacked = {".net setup unpacked", "Terminating .net installation thread", "Temp folder successfully deleted"},
      prepared = {"New step reached : 5", "Temp folder successfully deleted", "<end "};
  return {
      {"Welcome_Cancel", "wizard", "code:1602 start T:203 S:204 D: cancel",
       {"<begin ", frame, "Updating controls for step 0", "Controls updated", "<end ", frame}, {"Seeking next step"}, 0, nullptr, nullptr},
      {"Welcome_Escape", "wizard", "code:1602 start S:204 esc", ended, {"Seeking next step"}, 0, nullptr, nullptr},
      {"Welcome_CloseBox", "wizard", "code:1602 start S:204 closebox", ended, {"Seeking next step"}, 0, nullptr, nullptr},
      {"Welcome_EscapeWhileCancelIsOff_Next_FrameworkRequired_Escape", "wizard",
       "code:1602 start cancel-off cmd:2 cancel-on next S:205 disabled esc", ended, {"New step reached : 2"}, 0, nullptr, nullptr},
      {"Welcome_Enter_FrameworkRequired_Enter_CloseBox", "wizard", "code:1602 start enter S:205 disabled cmd:1 closebox", ended,
       {"Seeking next step for step 1", "New step reached : 2"}, 0, nullptr, nullptr},
      // The licence comes a second after the framework step, whatever Enter did there.
      {"FrameworkRequired_Enter_Licence_Enter_Cancel", "wizard", "code:1602 start next S:205 cmd:1 licence after:700 x accept "
       "enabled decline disabled cmd:1 cancel", {"New step reached : 2"}, {"Seeking next step for step 2"}, 0, LicencePage, nullptr},
      {"Licence_Enter_Escape", "wizard", "code:1602 start next licence enter esc", ended, {"Seeking next step for step 2"}, 0,
       nullptr, nullptr},
      {"Licence_CloseBox", "wizard", "code:1602 start next licence closebox", ended, {"Seeking next step for step 2"}, 0,
       nullptr, nullptr},
      {"Download_Enter_CloseBoxWhileTheBodyStalls", "download", "code:1602 serve:--mode_stall " + licence +
       "dl cmd:1 closebox endsin:2000", {"Downloading resource", kGot, "Temp folder successfully deleted"},
       {"New step reached : 9", "Seeking next step for step 3"}, kAsked, nullptr, nullptr},
      {"Download_EscapeWhileARetryWaits", "download", "code:1602 serve:--status_503_--retry-after_30 " + licence +
       "retrying cmd:1 esc endsin:2000", {"Attempt 1 of 4 failed (status 503), 0 bytes kept, trying again in 30000 ms",
       "Temp folder successfully deleted"}, {"New step reached : 9", "Attempt 2 ", "Seeking next step for step 3"}, kAsked,
       nullptr, nullptr},
      // The password dialog is modal to the wizard: its Cancel, Escape and close box fail the download.
      {"ProxyDialogCancel_DownloadFailed_Cancel", "download", "code:1602 serve:--auth_raven:s3cret " + licence +
       "creds:cancel T:218 E:216 cancel", creds, {"Downloading resource"}, kErrors, nullptr, nullptr},
      {"ProxyDialogEscape_DownloadFailed_CloseBox", "download", "code:1602 serve:--auth_raven:s3cret " + licence +
       "creds:esc T:218 E:216 closebox", creds, {"Downloading resource", "Seeking next step for step 9"}, kErrors, nullptr, nullptr},
      {"ProxyDialogCloseBox_DownloadFailed_Escape", "download", "code:1602 serve:--auth_raven:s3cret " + licence +
       "creds:close T:218 E:216 esc", creds, {"Downloading resource", "Seeking next step for step 9"}, kErrors, nullptr, nullptr},
      {"Unpacking_Enter_EscapeWhileCancelIsOff_Escape", "install", "code:1602 env:RAVEN_REDIST_DELAY_MS=30000 beside:redist " +
       licence + "unpacking cmd:1 cancel-off cmd:2 cancel-on esc endsin:2000", unpacked,
       {">Installing .net<", "Seeking next step for step 4"}, kRedistRan, nullptr, nullptr},
      {"Unpacking_CloseBox", "install", "code:1602 env:RAVEN_REDIST_DELAY_MS=30000 beside:redist " + licence +
       "unpacking closebox endsin:2000", unpacked, {">Installing .net<", "Seeking next step for step 4"}, kRedistRan, nullptr, nullptr},
      // Step 5 is reached within Next's click: what is posted behind it comes before the step's timer.
      {"Preparing_Cancel", "launch", "code:1602 fw start next cancel", prepared, {"Seeking next step for step 5", ">Creating process<"},
       kInstalled, nullptr, nullptr},
      {"Preparing_Enter_Escape", "launch", "code:1602 fw start next S:213 cmd:1 esc", prepared,
       {"Seeking next step for step 5", ">Creating process<"}, kInstalled, nullptr, nullptr},
      {"Preparing_CloseBox", "launch", "code:1602 fw start next closebox", prepared,
       {"Seeking next step for step 5", ">Creating process<"}, kInstalled, nullptr, nullptr},
      // The user ended the run: the setup program keeps running, and so does its folder, as the log says.
      {"SetupRunning_Enter_CloseBox", "launch", "code:1602 fw start next started hidden cmd:1 stays closebox ended",
       {">Installation process successfully started<", kept, "<end "}, {"Seeking next step for step 6"},
       kSetupRan | kInstalled | kErrors | kKept, nullptr, nullptr},
      {"RestartAskedFor_SetupRunning_Escape", "install", "code:1602 env:RAVEN_REDIST_PACKAGE=reboot beside:redist " + licence +
       "started hidden esc ended", {"a restart is needed (3010)", kept}, {"Seeking next step for step 6"},
       kRedistRan | kSetupRan | kErrors | kKept, nullptr, nullptr},
      {"InstallFailed_Escape", "wizard-install", "code:1602 beside:text " + licence + "T:218 E:220 esc", {step10},
       {"Seeking next step for step 10"}, kErrors, nullptr, nullptr},
      {"InstallFailed_CloseBox", "wizard-install", "code:1602 beside:text " + licence + "T:218 E:220 closebox", {step10},
       {"Seeking next step for step 10"}, kErrors, nullptr, nullptr},
      {"InstallFailed_Enter_ManualPage_CloseBox", "wizard-install", "code:1602 opener beside:text " + licence +
       "T:218 E:220 enter T:Continue_Installation opened:1 closebox", {"Seeking next step for step 10", "New step reached : 11"},
       {"Seeking next step for step 11"}, kErrors, nullptr, nullptr},
      // The desktop shell's route failing (its window list's interface unregistered): step 11 shows the address.
      {"DownloadFailed_Next_ManualPageWithTheAddress_Escape", "wizard", "code:1602 refused noshell " + licence +
       "T:218 E:216 next T:Continue_Installation address esc", {"New step reached : 11", ": the address is shown", "<end "},
       {"Seeking next step for step 11"}, kErrors, nullptr, nullptr},
      // Enter all the way; the wizard's own thread then waits for the setup program, and takes
      // Escape but no second Enter.
      {"Licence_Enter_DownloadFailed_Enter_ManualPage_Enter_SetupRunning_Enter_Escape", "wizard", "code:1602 refused opener "
       "start next licence accept enter T:218 enter opened:1 fw enter setup disabled cmd:1 esc ended",
       {"Deleting temp folder", kept, "<end "}, {"Seeking next step for step 5"}, kSetupRan | kInstalled | kErrors | kKept,
       nullptr, nullptr},
  };
}

INSTANTIATE_TEST_SUITE_P(Paths, Scenario, ::testing::ValuesIn(WizardPaths()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

using namespace e2e;

// Wine starts the desktop's explorer (it opens web pages for the shell) with the environment
// of the first program that needs the desktop: this one, before any test changes its TEMP.
const HWND kDesktop = GetDesktopWindow();

using Guard = Scenario;  // its tests drive the exe themselves, with the same set-up and clean-up

std::string Dacl(const std::string& folder) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  char* text = nullptr;
  GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr, &sd);
  ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
  const std::string dacl = text != nullptr ? text : "";
  LocalFree(text), LocalFree(sd);
  return dacl;
}

// Two runs, one after the other (a second copy started while the first
// runs ends at once): each folder has the protected DACL (the descriptor
// built, as Wine keeps none) and a name of 64 bits of its own.
TEST_F(Guard, WorkFoldersAreProtectedAndUnforeseeable) {
  EXPECT_EQ("O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", WorkFolderSecurityText());
  std::vector<std::string> numbers;
  for (int run = 0; run < 2; ++run) {
    bootstrapper_ = Process(VariantExe("download"), "");  // TearDown ends one left running
    HWND wizard = WaitForWizard(bootstrapper_.Id());
    ASSERT_EQ(1u, Fresh().size());
    const std::string f = Fresh()[0];
    // Wine keeps only what file modes can say, and says what "others" may
    // as Everyone: whatever else, no entry grants everyone or users anything.
    const std::string dacl = Dacl(f);
    EXPECT_TRUE(dacl == "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)" || (OnWine() && dacl.find("(A;") != dacl.npos)) << dacl;
    for (const char* who : {";WD)", ";BU)", ";AU)", ";S-1-1-0)", ";S-1-5-32-545)", ";S-1-5-11)"})
      EXPECT_EQ(0, CountOf(dacl, who)) << dacl;
    numbers.push_back(f.substr(f.rfind("Rav") + 3));
    EXPECT_EQ(16u, numbers.back().find_first_not_of("0123456789ABCDEF")) << f;
    Click(wizard, IDCANCEL);
    EXPECT_TRUE(bootstrapper_.Wait());
  }
  ASSERT_EQ(2u, numbers.size());
  EXPECT_NE(numbers[0], numbers[1]);
}

// At the first moment after the creation call (the seam pauses there) a
// program of the user tries the swap: the rename fails, and the folder held
// is the one made. A folder another program made first under the name drawn
// is left alone and a fresh name taken. The log file's descriptor, as built.
std::string g_planted, g_swap;
TEST_F(Guard, WorkFolderIsHeldFromItsCreationAndNeverAnExistingOne) {
  EXPECT_EQ("O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", CSessionLog("Ravenstock", "BootStrap").FileSecurityText());
  g_planted.clear(), g_swap.clear();
  g_workFolderCreationHookForTesting = [](bool made, const std::string& name) {
    if (!made && g_planted.empty()) g_planted = name, CreateDirectoryA(name.c_str(), nullptr);
    if (made && MoveFileA(name.c_str(), (name + "-moved").c_str())) g_swap = "renamed";
    else if (made) g_swap = "refused " + std::to_string(GetLastError());
  };
  CSessionLog log("Ravenstock", "BootStrap");
  bool created = false;
  ScopedKernelHandle hold;
  const std::string folder = CreateWorkFolder("Ravenstock", log, &created, &hold);
  g_workFolderCreationHookForTesting = nullptr;
  EXPECT_TRUE(created);
  EXPECT_EQ(0u, g_swap.find("refused ")) << g_swap;
  EXPECT_EQ(0u, folder.find(WindowsTempDir() + "Rav")) << folder;
  EXPECT_NE(g_planted + "\\", folder);
  EXPECT_TRUE(PathExists(g_planted) && PathExists(folder));
  BY_HANDLE_FILE_INFORMATION held = {}, made = {};
  HANDLE h = CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  EXPECT_TRUE(GetFileInformationByHandle(hold.Get(), &held) && GetFileInformationByHandle(h, &made));
  CloseHandle(h);
  EXPECT_EQ(std::make_pair(held.nFileIndexHigh, held.nFileIndexLow), std::make_pair(made.nFileIndexHigh, made.nFileIndexLow));
  DeleteWorkFolder(folder, log, &hold);
  EXPECT_FALSE(PathExists(folder));
  for (const std::string& f : {g_planted, g_planted + "-moved", folder + "-moved"}) RemoveDirectoryA(f.c_str());
}

// Wine's desktop shell (this prefix's explorer) stopped: the wizard answers Next
// and then Cancel at once, and shows the page's address after its 5 seconds.
TEST_F(Guard, StoppedDesktopShellNeverHoldsTheWizard) {
  Do(Row(), "refused");
  exe_ = VariantExe("wizard");
  for (const char* a : {"start", "next", "licence", "accept", "next", "T:218"}) Do(Row(), a);
  ASSERT_FALSE(HasFatalFailure());
  char prefix[MAX_PATH] = {};
  ASSERT_TRUE(GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH) > 0);
  const std::string stopped = temp_ + "explorer-stopped", going = temp_ + "explorer-going";
  DeleteFileA(stopped.c_str()), DeleteFileA(going.c_str());
  // Continued after 15 seconds whatever happens here.
  ASSERT_TRUE(HostShell("for p in $(pgrep -x explorer.exe); do if grep -qzx WINEPREFIX=" + std::string(prefix) +
                        " /proc/$p/environ; then kill -STOP $p; touch " + Unix(stopped) + "; sleep 15; kill -CONT $p; "
                        "fi; done; touch " + Unix(going), [&] { return PathExists(stopped); }));
  DWORD at = GetTickCount();
  Click(wizard_, IDOK);
  // Well before the page's time-out, however busy the machine.
  EXPECT_TRUE(WaitFor([&] { return Text(IDC_TITLE) == "Continue Installation"; }, 4000));
  EXPECT_LT(GetTickCount() - at, 4000u);
  Do(Row(), "address");
  EXPECT_GE(GetTickCount() - at, 4900u);
  at = GetTickCount();
  Click(wizard_, IDCANCEL);
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(wizard_) || !IsWindowVisible(wizard_); }, 2000));
  EXPECT_LT(GetTickCount() - at, 2000u);
  EXPECT_TRUE(bootstrapper_.Wait(20000));
  EXPECT_TRUE(WaitFor([&] { return PathExists(going); }, 30000));
  EXPECT_NE(std::string::npos, ReadLog().find("did not open within 5 seconds: the address is shown")) << ReadLog();
  DeleteFileA(stopped.c_str()), DeleteFileA(going.c_str());
}

// The wizard's side of a worker: only the detail line is kept.
struct QuietOwner : WizardOwner {
  explicit QuietOwner(CSessionLog* log) : log_(log) {}
  CSessionLog* GetSessionLog() override { return log_; }
  void SetStatusText(const std::string&) override {} void SetDetailText(const std::string& t) override { detail = t; }
  void ShowProgressBar(bool) override {} void EnableCancelButton(bool) override {}
  void SetProgress(int, int) override {} void SetProgressStep(int) override {}
  void StepProgress() override {} void OffsetProgress(int) override {}
  void ExtendProgressRange(int) override {} void UpdateInstallPercent() override {}
  CSessionLog* log_;
  std::string detail;
};

// The handler the installer calls (Wine's installer ignores its Cancel, so
// no run can show it): progress is answered Cancel once the user pressed
// Cancel, and only then; an action's text after its last ". " is shown.
TEST(InstallWorker, HandlerAnswersCancelOnceAskedAndATempItCannotMakeFailsIt) {
  CSessionLog log("Ravenstock", "BootStrap");
  QuietOwner owner(&log);
  ProcessParams params;
  params.owner = &owner;
  const struct { UINT type; const char* text; bool stop; int answer; const char* detail; } cases[] = {
      {INSTALLMESSAGE_PROGRESS, "1: 0 2: 100 3: 0 4: 0 ", false, IDOK, ""},
      {INSTALLMESSAGE_PROGRESS, "1: 2 2: 10 3: 0 4: 0 ", false, IDOK, ""},
      {INSTALLMESSAGE_PROGRESS, "1: 2 2: 10 3: 0 4: 0 ", true, IDCANCEL, ""},
      {INSTALLMESSAGE_ACTIONDATA, "File: a.dll", true, IDOK, ""},
      {INSTALLMESSAGE_ACTIONSTART, "Action 12:00:00: InstallFiles. Copying. New files", false,
       IDOK, "New files"},
      {INSTALLMESSAGE_ACTIONSTART, "Action 12:00:01: CostFinalize", false, IDOK, ""},
  };
  for (const auto& c : cases) {
    params.stop = c.stop;
    owner.detail = "?";
    EXPECT_EQ(c.answer, InstallerUiHandler(&params, c.type, c.text)) << c.text << c.stop;
    EXPECT_EQ(c.type == INSTALLMESSAGE_ACTIONSTART ? c.detail : "?", owner.detail) << c.text;
  }
  // The worker the handler serves: a TEMP for the redistributable it cannot make fails it before anything runs.
  DeleteLog();
  params.programPath = DemoRedist(), params.tempFolder = TempDir() + "no-such-folder\\temp";
  FrameworkInstallWorker(&params);
  EXPECT_TRUE(params.failed && ReadLog().find("Unpacking .net setup") == std::string::npos) << ReadLog();
}

// The worker itself, its time-out shortened from the wizard's minute and its
// first pause from 2 s: a server that stops sending, or sends less than
// 1 KiB per time-out, fails the download after three retries; one announcing
// more than the bound fails it at once, before any file is made; a proxy
// that asks for credentials where no window can ask fails it with a record
// of what it offered. Cancel ends it within 2 s whatever it waits for (a
// host that says nothing, a stalled body, the pause of a Retry-After of
// 30 s), with no error record.
TEST_F(Guard, DownloadWorkerFailsAfterItsRetriesOrEndsAtCancel) {
  const struct { const char* serve; const char* cancelAt; int requests; const char* record; } cases[] = {
      {"--mode_silent", "asked", 1, nullptr},
      {"--mode_stall", "body", 1, nullptr},
      {"--status_503_--retry-after_30", "pause", 1, nullptr},
      {"--mode_stall", nullptr, 4, "Attempt 3 of 4 failed (error 12002)"},
      {"--mode_slow_--piece_1_--pause_250", nullptr, 4, "Attempt 3 of 4 failed (error 12002)"},
      {"--mode_huge", nullptr, 1, "status=\"223\""},
      {"--auth_raven:s3cret", nullptr, 1, "credentials (Basic) and no window can ask for them"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.serve) + (c.cancelAt ? ", cancelled" : ""));
    DeleteLog();
    CSessionLog log("Ravenstock", "BootStrap");
    QuietOwner owner(&log);
    proxy_.reset();  // the old proxy setting goes before the new one
    Do(Row(), std::string("serve:") + c.serve);
    DownloadParams params;
    params.host = "downloads.ravenstock.invalid";
    params.objectPath = "/downloads/framework.net.1.1.exe";
    params.localFile = TempDir() + "harden-download.exe";
    params.owner = &owner;
    params.timeoutMs = 2000;
    params.retryPauseMs = 100;
    HANDLE thread = CreateThread(nullptr, 0, DownloadWorker, &params, 0, nullptr);
    if (c.cancelAt != nullptr) {
      const std::string at = c.cancelAt;
      EXPECT_TRUE(WaitFor([&] {
        return at == "asked" ? CountOf(server_.RequestLog(), "GET ") == 1
               : at == "body" ? PathExists(params.localFile)
                              : ReadLog().find("Attempt 1 of 4 failed") != std::string::npos;
      }));
      CancelDownload(params);
      EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 2000));
    }
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 30000));
    server_.Stop();  // a worker still reading ends now, before params go
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    const std::string logged = ReadLog();
    EXPECT_EQ(c.cancelAt == nullptr, bool(params.failed));
    EXPECT_TRUE(c.cancelAt != nullptr || !PathExists(params.localFile));
    EXPECT_EQ(c.cancelAt == nullptr, logged.find("<error ") != std::string::npos) << logged;
    EXPECT_TRUE(c.record == nullptr || logged.find(c.record) != std::string::npos) << logged;
    EXPECT_EQ(1, CountOf(logged, "Terminating .net download thread"));
    DeleteFileA(params.localFile.c_str());
  }
}

// At 120 and 144 DPI (Wine's LogPixels) the picture spans the dialog's height and its band to the text column (7 of the
// title's 198 units before it); at 96, last as the prefix's own, the bitmap as it is. Screenshots beside the test logs.
TEST_F(Guard, PictureFillsItsBandAtEveryDpi) {
  for (DWORD dpi : {120, 144, 96}) {
    ASSERT_EQ(0, SHSetValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", REG_DWORD, &dpi, 4));
    bootstrapper_ = Process(exe_ = VariantExe("wizard"), "");
    HWND w = WaitForWizard(bootstrapper_.Id());
    RECT client = {}, picture = {}, title = {};  // filled below
    GetClientRect(w, &client), GetWindowRect(GetDlgItem(w, -1), &picture), GetWindowRect(GetDlgItem(w, IDC_TITLE), &title);
    EXPECT_TRUE(dpi == 96 ? picture.right - picture.left == 165 && picture.bottom - picture.top == 312
                          : picture.bottom - picture.top >= client.bottom &&
                                picture.right >= title.left - (title.right - title.left) * 7 / 198 - 1) << dpi;
    RedrawWindow(w, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    Screenshot(BuildDir() + "\\test-logs\\wizard-" + std::to_string(dpi) + "dpi.bmp", w);
    Click(w, IDCANCEL), bootstrapper_.Wait();
  }
}

// Both marks, or the framework is missing: the value alone, the folder
// alone or a file in the folder's place is not the framework.
TEST(Detection, OnlyBothMarksMeanInstalled) {
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  const std::string folder = std::string(windows) + "\\Microsoft.NET\\Framework\\v1.1.4322";
  const char* key = "SOFTWARE\\Microsoft\\.NETFramework\\policy\\v1.1";
  for (int marks : {0, 1, 2, 3, 5}) {  // 1: the value, 2: the folder, 4: a file in its place
    SetFrameworkInstalled(true);
    if (!(marks & 1)) SHDeleteValueA(HKEY_LOCAL_MACHINE, key, "4322");
    if (!(marks & 2)) RemoveDirectoryA(folder.c_str());
    if (marks & 4) WriteFileText(folder, "not a folder");
    EXPECT_EQ(marks != 3, IsFrameworkMissing()) << marks;
    DeleteFileA(folder.c_str());
  }
  SetFrameworkInstalled(false);
}

}  // namespace
