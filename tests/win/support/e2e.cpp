#include "support/e2e.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace e2e {

std::string WinPath(const std::string& unixPath) {
  std::string p = "Z:" + unixPath;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

std::string BuildDir() {
  const char* b = std::getenv("RAVEN_BUILD");
  std::string dir = b != nullptr && *b ? WinPath(b) : std::string(RAVEN_BUILD_DIR);
  for (char& c : dir)
    if (c == '/') c = '\\';
  while (!dir.empty() && dir.back() == '\\') dir.pop_back();
  return dir;
}

std::string VariantExe(const std::string& variant) {
  return BuildDir() + "\\e2e\\" + variant + "\\Ravenstock_Setup.exe";
}

std::string FixtureExe(const std::string& name) {
  return BuildDir() + "\\win32\\tests\\fixtures\\" + name;
}

bool WaitFor(const std::function<bool()>& pred, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (pred()) return true;
    if (GetTickCount() - start >= timeoutMs) return pred();
    Sleep(20);
  }
}

Process::Process(const std::string& exe, const std::string& commandTail,
                 const std::string& currentDir) {
  std::string cmd = "\"" + exe + "\"";
  if (!commandTail.empty()) cmd += " " + commandTail;
  std::vector<char> buf(cmd.begin(), cmd.end());
  buf.push_back('\0');
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (CreateProcessA(exe.c_str(), buf.data(), nullptr, nullptr, FALSE, 0,
                     nullptr, currentDir.empty() ? nullptr : currentDir.c_str(),
                     &si, &pi)) {
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
  }
}

Process::~Process() {
  if (process_ != nullptr) CloseHandle(process_);
}

Process::Process(Process&& o) noexcept : process_(o.process_), pid_(o.pid_) {
  o.process_ = nullptr;
  o.pid_ = 0;
}

Process& Process::operator=(Process&& o) noexcept {
  if (this != &o) {
    if (process_ != nullptr) CloseHandle(process_);
    process_ = o.process_;
    pid_ = o.pid_;
    o.process_ = nullptr;
    o.pid_ = 0;
  }
  return *this;
}

bool Process::Wait(DWORD timeoutMs) {
  return process_ != nullptr &&
         WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD Process::ExitCode() const {
  DWORD code = 0;
  if (process_ != nullptr) GetExitCodeProcess(process_, &code);
  return code;
}

void Process::Kill() {
  if (process_ != nullptr && WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 5000);
  }
}

namespace {

struct FindData {
  DWORD pid;
  const char* title;
  bool visibleOnly;
  HWND found;
};

// An unowned top-level window of the process with the given title.
BOOL CALLBACK FindProc(HWND hwnd, LPARAM lp) {
  FindData* d = reinterpret_cast<FindData*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  char text[256] = {};
  GetWindowTextA(hwnd, text, sizeof text);
  if ((d->pid != 0 && pid != d->pid) || (d->visibleOnly && !IsWindowVisible(hwnd)) ||
      GetWindow(hwnd, GW_OWNER) != nullptr ||
      (d->title != nullptr && std::strcmp(text, d->title) != 0))
    return TRUE;
  d->found = hwnd;
  return FALSE;
}

}  // namespace

HWND FindTopWindow(DWORD pid, const char* title, bool visibleOnly) {
  FindData d = {pid, title, visibleOnly, nullptr};
  EnumWindows(FindProc, reinterpret_cast<LPARAM>(&d));
  return d.found;
}

HWND WaitForWizard(DWORD pid, DWORD timeoutMs) {
  HWND w = nullptr;
  WaitFor([&] { return (w = FindTopWindow(pid, "Ravenstock Setup")) != nullptr; },
          timeoutMs);
  return w;
}

HWND FindMessageBox(DWORD pid, HWND owner) {
  // The wizard is a #32770 too: a message box is the one with static 65535.
  HWND h = nullptr;
  while ((h = FindWindowExA(nullptr, h, "#32770", nullptr)) != nullptr) {
    DWORD p = 0;
    GetWindowThreadProcessId(h, &p);
    if (pid != 0 && p != pid) continue;
    if (owner != nullptr && GetWindow(h, GW_OWNER) != owner) continue;
    if (IsWindowVisible(h) && GetDlgItem(h, 0xFFFF) != nullptr) return h;
  }
  return nullptr;
}

std::string MessageBoxText(HWND box) { return ControlText(box, 0xFFFF); }

std::string ControlText(HWND dialog, int id) {
  HWND c = GetDlgItem(dialog, id);
  if (c == nullptr) return std::string();
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutA(c, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &len))
    return std::string();
  std::string text(len + 1, '\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutA(c, WM_GETTEXT, len + 1, reinterpret_cast<LPARAM>(&text[0]),
                      SMTO_ABORTIFHUNG, 5000, &got);
  text.resize(got);
  return text;
}

bool ControlVisible(HWND dialog, int id) {
  HWND c = GetDlgItem(dialog, id);
  return c != nullptr && (GetWindowLongA(c, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool ControlEnabled(HWND dialog, int id) {
  HWND c = GetDlgItem(dialog, id);
  return c != nullptr && IsWindowEnabled(c);
}

bool ButtonChecked(HWND dialog, int id) {
  HWND c = GetDlgItem(dialog, id);
  DWORD_PTR r = 0;
  return c != nullptr &&
         SendMessageTimeoutA(c, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &r) &&
         r == BST_CHECKED;
}

void Click(HWND dialog, int id) {
  HWND c = GetDlgItem(dialog, id);
  if (c != nullptr) PostMessageA(c, BM_CLICK, 0, 0);
}

std::string LogPath() {
  char dir[MAX_PATH] = {};
  GetWindowsDirectoryA(dir, MAX_PATH);
  return std::string(dir) + "\\Ravenstock_Setup.log.tmp";
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WriteFileText(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
  return static_cast<bool>(out);
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadLog() { return ReadFileText(LogPath()); }

void DeleteLog() { DeleteFileA(LogPath().c_str()); }

namespace {
std::string Unescape(std::string s) {
  const char* from[] = {"&lt;", "&gt;", "&quot;", "&apos;", "&amp;"};
  const char* to[] = {"<", ">", "\"", "'", "&"};
  for (int i = 0; i < 5; ++i) {
    size_t pos = 0;
    while ((pos = s.find(from[i], pos)) != std::string::npos) {
      s.replace(pos, std::strlen(from[i]), to[i]);
      pos += std::strlen(to[i]);
    }
  }
  return s;
}
}  // namespace

std::vector<std::string> LogInfoTexts(const std::string& log) {
  std::vector<std::string> texts;
  size_t pos = 0;
  while ((pos = log.find("<info ", pos)) != std::string::npos) {
    size_t start = log.find('>', pos);
    size_t end = log.find("</info>", start);
    if (start == std::string::npos || end == std::string::npos) break;
    texts.push_back(Unescape(log.substr(start + 1, end - start - 1)));
    pos = end;
  }
  return texts;
}

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
    size_t at = text.find(n, pos);
    if (at == std::string::npos) return false;
    pos = at + n.size();
  }
  return true;
}

void SetFrameworkInstalled(bool installed) {
  const char* key = "SOFTWARE\\Microsoft\\.NETFramework\\policy\\v1.1";
  char win[MAX_PATH] = {};
  GetWindowsDirectoryA(win, MAX_PATH);
  std::string net = std::string(win) + "\\Microsoft.NET";
  std::string fw = net + "\\Framework";
  std::string ver = fw + "\\v1.1.4322";
  if (installed) {
    HKEY k = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE,
                        nullptr, &k, nullptr) == ERROR_SUCCESS) {
      const char data[] = "3706-4322";
      RegSetValueExA(k, "4322", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(data), sizeof data);
      RegCloseKey(k);
    }
    CreateDirectoryA(net.c_str(), nullptr);
    CreateDirectoryA(fw.c_str(), nullptr);
    CreateDirectoryA(ver.c_str(), nullptr);
  } else {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_WRITE, &k) == ERROR_SUCCESS) {
      RegDeleteValueA(k, "4322");
      RegCloseKey(k);
    }
    RemoveDirectoryA(ver.c_str());
  }
}

std::string TempDir() {
  char buf[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, buf);
  return buf;
}

std::vector<std::string> WorkFolders() {
  std::vector<std::string> result;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((TempDir() + "Rav*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return result;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      result.push_back(TempDir() + fd.cFileName);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return result;
}

bool Screenshot(const std::string& bmpPath, HWND window) {
  RECT r;
  if (window != nullptr) {
    GetWindowRect(window, &r);
  } else {
    r.left = r.top = 0;
    r.right = GetSystemMetrics(SM_CXSCREEN);
    r.bottom = GetSystemMetrics(SM_CYSCREEN);
  }
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(mem, old);
  BITMAPINFOHEADER bi = {};
  bi.biSize = sizeof bi;
  bi.biWidth = w;
  bi.biHeight = h;
  bi.biPlanes = 1;
  bi.biBitCount = 24;
  bi.biCompression = BI_RGB;
  int stride = ((w * 3 + 3) / 4) * 4;
  std::vector<char> pixels(static_cast<size_t>(stride) * h);
  GetDIBits(mem, bmp, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&bi),
            DIB_RGB_COLORS);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  BITMAPFILEHEADER fh = {};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof bi;
  fh.bfSize = fh.bfOffBits + static_cast<DWORD>(pixels.size());
  std::string data(reinterpret_cast<char*>(&fh), sizeof fh);
  data.append(reinterpret_cast<char*>(&bi), sizeof bi);
  data.append(pixels.data(), pixels.size());
  return WriteFileText(bmpPath, data);
}

}  // namespace e2e
