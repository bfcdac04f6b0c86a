#include "support/e2e.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <utility>

namespace e2e {

std::string BuildDir() {  // Wine maps / to Z:\ .
  const char* b = std::getenv("RAVEN_BUILD");
  std::string dir = "Z:" + std::string(b != nullptr && *b ? b : RAVEN_BUILD_DIR);
  for (char& c : dir) c = c == '/' ? '\\' : c;
  while (!dir.empty() && dir.back() == '\\') dir.pop_back();
  return dir;
}

std::string VariantExe(const std::string& variant) {
  return BuildDir() + "\\e2e-" RAVEN_WIN_TREE "\\" + variant + "\\Ravenstock_Setup.exe";
}
std::string FixtureExe(const std::string& name) {
  return BuildDir() + "\\" RAVEN_WIN_TREE "\\tests\\fixtures\\" + name;
}

bool WaitFor(const std::function<bool()>& pred, DWORD timeoutMs) {
  for (DWORD start = GetTickCount(); !pred(); Sleep(20))
    if (GetTickCount() - start >= timeoutMs) return pred();
  return true;
}

std::wstring Wide(const std::string& text, UINT codePage) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], static_cast<int>(wide.size())));
  return wide;
}

Process::Process(const std::string& exe, const std::string& commandTail, const std::string& currentDir) {
  std::wstring cmd = Wide("\"" + exe + "\"" + (commandTail.empty() ? "" : " " + commandTail));
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (CreateProcessW(Wide(exe).c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                     currentDir.empty() ? nullptr : Wide(currentDir).c_str(), &si, &pi)) {
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
  }
}

Process::~Process() { if (process_ != nullptr) CloseHandle(process_); }

Process::Process(Process&& o) noexcept { *this = std::move(o); }

Process& Process::operator=(Process&& o) noexcept {  // o closes what was here
  std::swap(process_, o.process_);
  std::swap(pid_, o.pid_);
  return *this;
}

bool Process::Wait(DWORD timeoutMs) {
  return process_ != nullptr && WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD Process::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  return process_ != nullptr && GetExitCodeProcess(process_, &code) ? code : STILL_ACTIVE;
}

// Wine starts its own services (the desktop's explorer, plugplay, ...) on
// demand as children of the program that first needed them: those stay.
bool SystemProgram(const char* name) {
  char windows[MAX_PATH] = {};
  const std::string folder(windows, GetWindowsDirectoryA(windows, MAX_PATH));
  return PathExists(folder + "\\" + name) || PathExists(folder + "\\system32\\" + name);
}

// Its descendants are found before anything ends: a child still names its
// ended parent, but a later snapshot may not reach it through that parent.
void Process::Kill() {
  if (process_ == nullptr) return;
  std::vector<DWORD> tree = {pid_};
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 e = {};
  e.dwSize = sizeof e;
  for (size_t i = 0; i < tree.size(); ++i)
    for (BOOL ok = Process32First(snap, &e); ok; ok = Process32Next(snap, &e))
      if (e.th32ParentProcessID == tree[i] && e.th32ProcessID != pid_ && !SystemProgram(e.szExeFile))
        tree.push_back(e.th32ProcessID);
  CloseHandle(snap);
  for (DWORD id : tree) {
    HANDLE h = id == pid_ ? process_ : OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (h != nullptr && TerminateProcess(h, 1)) WaitForSingleObject(h, 5000);
    if (h != nullptr && h != process_) CloseHandle(h);
  }
}

HWND FindTopWindow(DWORD pid, const char* title, bool visibleOnly) {
  for (HWND h = GetTopWindow(nullptr); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
    DWORD p = 0;
    GetWindowThreadProcessId(h, &p);
    char text[256] = {};
    GetWindowTextA(h, text, sizeof text);
    if ((pid == 0 || p == pid) && (!visibleOnly || IsWindowVisible(h)) &&
        GetWindow(h, GW_OWNER) == nullptr && (!title || std::strcmp(text, title) == 0))
      return h;
  }
  return nullptr;
}

HWND WaitForWizard(DWORD pid, DWORD timeoutMs) {
  HWND w = nullptr;
  WaitFor([&] { return (w = FindTopWindow(pid, "Ravenstock Setup")) != nullptr; }, timeoutMs);
  return w;
}

HWND FindMessageBox(DWORD pid) {
  // The wizard is a #32770 too: a message box is the one with static 65535.
  for (HWND h = nullptr; (h = FindWindowExA(nullptr, h, "#32770", nullptr)) != nullptr;) {
    DWORD p = 0;
    GetWindowThreadProcessId(h, &p);
    if ((pid == 0 || p == pid) && IsWindowVisible(h) && GetDlgItem(h, 0xFFFF) != nullptr)
      return h;
  }
  return nullptr;
}

std::string ControlText(HWND dialog, int id) {
  HWND c = GetDlgItem(dialog, id);
  DWORD_PTR len = 0, got = 0;
  if (!SendMessageTimeoutA(c, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &len)) return "";
  std::string text(len + 1, '\0');
  SendMessageTimeoutA(c, WM_GETTEXT, len + 1, reinterpret_cast<LPARAM>(&text[0]),
                      SMTO_ABORTIFHUNG, 5000, &got);
  text.resize(got);
  return text;
}

bool ControlVisible(HWND dialog, int id) {
  return (GetWindowLongA(GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

bool ControlEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)); }

bool ButtonChecked(HWND dialog, int id) {
  DWORD_PTR r = 0;
  return SendMessageTimeoutA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000,
                             &r) && r == BST_CHECKED;
}

void Click(HWND dialog, int id) {
  // Never with a null window: that would post to this thread instead.
  if (HWND c = GetDlgItem(dialog, id)) PostMessageA(c, BM_CLICK, 0, 0);
}

std::string LogPath() {
  char dir[MAX_PATH] = {};
  GetWindowsDirectoryA(dir, MAX_PATH);
  return std::string(dir) + "\\Ravenstock_Setup.log.tmp";
}

std::string ReadFileText(const std::string& path) {
  HANDLE h = INVALID_HANDLE_VALUE;
  // Writers hold their files without sharing only for the moment of a
  // write: wait that moment out.
  WaitFor([&] {
    h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION;
  }, 10000);
  std::string text;
  char buffer[65536];
  DWORD got = 0;
  while (h != INVALID_HANDLE_VALUE && ::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0)
    text.append(buffer, got);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return text;
}

bool WriteFileText(const std::string& path, const std::string& data) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  return bool(file << data) && bool(file.flush());
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& folder) {
  const std::string list = folder.substr(0, folder.find_last_not_of('\\') + 1) + '\0';
  SHFILEOPSTRUCTA op = {nullptr, FO_DELETE, list.c_str(), nullptr,
                        FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI, 0, nullptr, nullptr};
  SHFileOperationA(&op);
}

std::string ReadLog() { return ReadFileText(LogPath()); }
void DeleteLog() { DeleteFileA(LogPath().c_str()); }

int CountOf(const std::string& haystack, const std::string& needle) {
  int n = 0;
  for (size_t pos = haystack.find(needle); pos != std::string::npos;
       pos = haystack.find(needle, pos + needle.size()))
    ++n;
  return n;
}

bool InOrder(const std::string& text, const std::vector<std::string>& needles) {
  size_t pos = 0;
  for (const std::string& n : needles) {
    if ((pos = text.find(n, pos)) == std::string::npos) return false;
    pos += n.size();
  }
  return true;
}

void SetFrameworkInstalled(bool installed) {
  const char* key = "SOFTWARE\\Microsoft\\.NETFramework\\policy\\v1.1";
  char windows[MAX_PATH] = {};
  const std::string version = std::string(windows, GetWindowsDirectoryA(windows, MAX_PATH)) +
                              "\\Microsoft.NET\\Framework\\v1.1.4322";
  if (!installed) SHDeleteValueA(HKEY_LOCAL_MACHINE, key, "4322"), RemoveDirectoryA(version.c_str());
  else SHSetValueA(HKEY_LOCAL_MACHINE, key, "4322", REG_SZ, "3706-4322", 10),
       SHCreateDirectoryExA(nullptr, version.c_str(), nullptr);
}

std::string TempDir() {  // the one at the start: tests change TEMP for the programs they start
  static const std::string dir = [] { char b[MAX_PATH] = {}; return std::string(b, GetTempPathA(MAX_PATH, b)); }();
  return dir;
}

std::string WindowsTempDir() {
  char b[MAX_PATH] = {};
  return std::string(b, GetSystemWindowsDirectoryA(b, MAX_PATH)) + "\\Temp\\";
}

std::vector<std::string> WorkFolders() {
  std::vector<std::string> result;
  for (const std::string& parent : {TempDir(), WindowsTempDir()}) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((parent + "Rav*").c_str(), &fd);
    for (BOOL ok = h != INVALID_HANDLE_VALUE; ok; ok = FindNextFileA(h, &fd))
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) result.push_back(parent + fd.cFileName);
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
  }
  return result;
}

}  // namespace e2e
