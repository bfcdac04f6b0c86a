// The framework's application object: one global instance, whose
// InitInstance is the program. WinMain lives in the framework.
#ifndef RAVEN_APPKIT_APP_H
#define RAVEN_APPKIT_APP_H

#include <windows.h>

#include <string>
#include <vector>

#include "appkit/command_line.h"

class CDialog;

class CWinApp {
 public:
  // A null name makes the title of framework message boxes the executable's
  // file name without its extension.
  explicit CWinApp(const char* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // Returns FALSE to end the process without a message loop.
  virtual BOOL InitInstance();
  // The framework's message loop; the bootstrapper never reaches it.
  virtual int Run();
  // The process's exit code when InitInstance returned FALSE.
  virtual int ExitInstance();

  void ParseCommandLine(CCommandLineInfo& info);

  HINSTANCE m_hInstance = nullptr;
  const char* m_lpCmdLine = "";  // the command-line tail after the program
  int m_nCmdShow = SW_SHOWNORMAL;
  CCommandLineInfo* m_pCmdInfo = nullptr;
  CDialog* m_pMainWnd = nullptr;
  std::string m_appTitle;  // caption of framework message boxes
  std::vector<std::string> m_args;  // arguments after the program name
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
// A message box with a string-table text and the application's title.
// MB_ICONEXCLAMATION is added when type names no icon.
int AfxMessageBox(unsigned stringId, unsigned type = MB_OK);
int AfxMessageBox(const std::string& text, unsigned type = MB_OK);
// A string-table text converted to the thread's ANSI code page; empty when
// the id is missing.
std::string LoadResString(unsigned id);

// The framework's entry, called by WinMain. Exposed for tests that need a
// started application object.
int AfxWinMain(HINSTANCE instance, const char* cmdLine, int cmdShow);

#endif
