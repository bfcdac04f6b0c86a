#include "appkit/app.h"

#include <shlwapi.h>
#include <stdlib.h>

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp(const char* appName) {
  if (appName != nullptr) m_appTitle = appName;
  g_app = this;
}

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

int CWinApp::Run() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info) {
  ::ParseCommandLine(m_args, info);
}

CWinApp* AfxGetApp() { return g_app; }

HINSTANCE AfxGetInstanceHandle() {
  return g_app != nullptr && g_app->m_hInstance != nullptr
             ? g_app->m_hInstance
             : GetModuleHandleA(nullptr);
}

std::string LoadResString(unsigned id) {
  wchar_t wide[4096];
  int n = LoadStringW(AfxGetInstanceHandle(), id, wide, 4096);
  if (n <= 0) return std::string();
  int size = WideCharToMultiByte(CP_THREAD_ACP, 0, wide, n, nullptr, 0,
                                 nullptr, nullptr);
  std::string text(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_THREAD_ACP, 0, wide, n, &text[0], size, nullptr,
                      nullptr);
  return text;
}

int AfxMessageBox(const std::string& text, unsigned type) {
  if ((type & MB_ICONMASK) == 0) type |= MB_ICONEXCLAMATION;
  std::string title = g_app != nullptr ? g_app->m_appTitle : std::string();
  // Owned by this thread's active window (the wizard, when one is up), so
  // the window cannot be used behind the box.
  HWND owner = GetActiveWindow();
  return MessageBoxA(owner, text.c_str(), title.c_str(), type);
}

int AfxMessageBox(unsigned stringId, unsigned type) {
  return AfxMessageBox(LoadResString(stringId), type);
}

namespace {

std::string ExeTitle() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  // The shell's walk knows the code page: a character's second byte may be 0x5C.
  const char* name = PathFindFileNameA(path);
  return std::string(name, static_cast<size_t>(PathFindExtensionA(name) - name));
}

}  // namespace

int AfxWinMain(HINSTANCE instance, const char* cmdLine, int cmdShow) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return -1;
  app->m_hInstance = instance;
  app->m_lpCmdLine = cmdLine != nullptr ? cmdLine : "";
  app->m_nCmdShow = cmdShow;
  if (app->m_appTitle.empty()) app->m_appTitle = ExeTitle();
  app->m_args.clear();
  for (int i = 1; i < __argc; ++i) app->m_args.push_back(__argv[i]);
  if (!app->InitInstance()) return app->ExitInstance();
  return app->Run();
}
