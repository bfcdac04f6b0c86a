// Helpers for programs that drive the real exe under Wine from outside. No
// test framework in here: the demo driver and a benchmark link it too.
#ifndef RAVEN_TESTS_WIN_SUPPORT_E2E_H
#define RAVEN_TESTS_WIN_SUPPORT_E2E_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace e2e {

std::string BuildDir();  // RAVEN_BUILD in Windows form, without trailing "\"
std::string VariantExe(const std::string& variant);  // <build>\e2e-<tree>\<variant>\...exe
std::string FixtureExe(const std::string& name);     // <build>\<tree>\tests\fixtures\<name>

// Polls pred every 20 ms until it holds or timeoutMs passes.
bool WaitFor(const std::function<bool()>& pred, DWORD timeoutMs = 20000);

std::wstring Wide(const std::string& text, UINT codePage = CP_UTF8);  // ASCII stays as it is

class Process {  // UTF-8; commandTail follows the quoted program path after one blank
 public:
  Process() = default;
  Process(const std::string& exe, const std::string& commandTail,
          const std::string& currentDir = std::string());
  ~Process();
  Process(Process&& o) noexcept;
  Process& operator=(Process&& o) noexcept;
  bool Started() const { return process_ != nullptr; }
  DWORD Id() const { return pid_; }
  bool Wait(DWORD timeoutMs = 30000);  // true when it ended in time
  DWORD ExitCode() const;  // STILL_ACTIVE while it runs
  void Kill();  // it and every process it started, and theirs

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

// An unowned top-level window of the process; the wizard's is "Ravenstock Setup".
HWND FindTopWindow(DWORD pid, const char* title, bool visibleOnly = true);
HWND WaitForWizard(DWORD pid, DWORD timeoutMs = 60000);
HWND FindMessageBox(DWORD pid);
std::string ControlText(HWND dialog, int id);
bool ControlVisible(HWND dialog, int id);
bool ControlEnabled(HWND dialog, int id);
bool ButtonChecked(HWND dialog, int id);
void Click(HWND dialog, int id);  // posted: a sent one would block on a box it opens

// The session log, whose records the program drops while someone else holds
// it: read it once the program has ended, never to wait for something.
std::string LogPath();
std::string ReadLog();
void DeleteLog();
int CountOf(const std::string& haystack, const std::string& needle);
bool InOrder(const std::string& text, const std::vector<std::string>& needles);

void SetFrameworkInstalled(bool installed);  // its registry value and folder

// A file another process may hold without sharing (waited for up to 10 s);
// "" when missing.
std::string ReadFileText(const std::string& path);
bool WriteFileText(const std::string& path, const std::string& data);
bool PathExists(const std::string& path);
void RemoveTree(const std::string& folder);  // and all below it, quietly
std::string TempDir();                   // ends in "\"
std::string WindowsTempDir();            // the Windows folder's Temp, ends in "\"
std::vector<std::string> WorkFolders();  // folders named Rav* in both

}  // namespace e2e

#endif
