// Helpers for programs that start the real exe under Wine and drive it from
// outside: processes, waits, windows, the log, files the program may hold
// open, the framework's marks, screenshots. No test framework in here: the
// demo driver and the start-up benchmark link it too.
#ifndef RAVEN_TESTS_WIN_SUPPORT_E2E_H
#define RAVEN_TESTS_WIN_SUPPORT_E2E_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace e2e {

// Windows form of a Unix path (Wine maps / to Z:\).
std::string WinPath(const std::string& unixPath);
// The build folder (RAVEN_BUILD) in Windows form, without trailing "\".
std::string BuildDir();
// Z:\...\build\e2e\<variant>\Ravenstock_Setup.exe
std::string VariantExe(const std::string& variant);
// A fixture program of the win32 tree: build\win32\tests\fixtures\<name>.
std::string FixtureExe(const std::string& name);

// Polls pred every 20 ms until it holds or timeoutMs passes; pred is asked
// once more at the deadline, so a slow machine never loses a late success.
bool WaitFor(const std::function<bool()>& pred, DWORD timeoutMs = 20000);

class Process {
 public:
  Process() = default;
  // commandTail is appended after the quoted program path with one blank
  // (when not empty).
  Process(const std::string& exe, const std::string& commandTail,
          const std::string& currentDir = std::string());
  ~Process();
  Process(Process&& o) noexcept;
  Process& operator=(Process&& o) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return process_ != nullptr; }
  DWORD Id() const { return pid_; }
  HANDLE Handle() const { return process_; }
  bool Wait(DWORD timeoutMs = 30000);  // true when it ended in time
  DWORD ExitCode() const;
  void Kill();

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

// Top-level windows of a process; the wizard is the unowned visible one
// titled "Ravenstock Setup".
HWND FindTopWindow(DWORD pid, const char* title, bool visibleOnly = true);
HWND WaitForWizard(DWORD pid, DWORD timeoutMs = 30000);
// A message box (#32770 owned by owner, or any of pid's when owner null).
HWND FindMessageBox(DWORD pid, HWND owner = nullptr);
std::string MessageBoxText(HWND box);

std::string ControlText(HWND dialog, int id);
bool ControlVisible(HWND dialog, int id);
bool ControlEnabled(HWND dialog, int id);
bool ButtonChecked(HWND dialog, int id);
// Posts BM_CLICK (a sent one would block on a modal box it opens).
void Click(HWND dialog, int id);

// The session log in the Windows folder. The program opens it without
// sharing for every record, so reads retry (see TryReadFile).
std::string LogPath();
std::string ReadLog();
void DeleteLog();
// Until the log holds `needle`: the way to wait for a record before
// reading what precedes it.
bool WaitForLog(const std::string& needle, DWORD timeoutMs = 20000);
// The texts of the info records, in order, unescaped.
std::vector<std::string> LogInfoTexts(const std::string& log);
int CountOf(const std::string& haystack, const std::string& needle);
// True when each needle occurs after the previous one.
bool InOrder(const std::string& text, const std::vector<std::string>& needles);

// The marks of an installed framework (registry value and folder).
void SetFrameworkInstalled(bool installed);

// Reads a whole file that another process may hold open without sharing:
// a sharing violation is retried for up to timeoutMs. False only when the
// file is missing (or stayed locked); an empty file reads as "" and true.
bool TryReadFile(const std::string& path, std::string* text, DWORD timeoutMs = 10000);
// TryReadFile's text, "" when missing.
std::string ReadFileText(const std::string& path);
bool WriteFileText(const std::string& path, const std::string& data);
bool PathExists(const std::string& path);
// The user's temporary folder, ending in a backslash.
std::string TempDir();
// Folders under TempDir() whose names begin with "Rav".
std::vector<std::string> WorkFolders();

// Saves the screen (or one window when given) as a 24-bit BMP.
bool Screenshot(const std::string& bmpPath, HWND window = nullptr);

}  // namespace e2e

#endif
