#include "appkit/desktop_shell.h"

#include <windows.h>
#include <exdisp.h>
#include <shldisp.h>
#include <shobjidl.h>

#include <vector>

#include "appkit/handle.h"
#include "appkit/system_library.h"

namespace {

// TokenElevationType and TokenElevationTypeFull, which Windows 2000 and XP
// do not know (the query then fails: no split token).
const int kTokenElevationType = 18;
const DWORD kElevationTypeFull = 2;
const GUID kShellWindowsClass = {0x9BA05972, 0xF6A8, 0x11CF,
                                 {0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39}};
const GUID kTopLevelBrowserService = {0x4C96BE40, 0x915C, 0x11CF,
                                      {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};
// CLSCTX_LOCAL_SERVER, SWC_DESKTOP, SWFO_NEEDDISPATCH, SVGIO_BACKGROUND.
const DWORD kLocalServer = 0x4;
const int kDesktopWindow = 0x8;
const int kNeedDispatch = 0x1;
const UINT kViewBackground = 0;
static_assert(kLocalServer == CLSCTX_LOCAL_SERVER && kDesktopWindow == SWC_DESKTOP &&
                  kNeedDispatch == SWFO_NEEDDISPATCH && kViewBackground == SVGIO_BACKGROUND,
              "shell values");

// COM, from the system folder at first use (appkit/system_library.h).
struct ComApi {
  bool ok = false;
  decltype(&::CoInitializeEx) initialize = nullptr;
  decltype(&::CoUninitialize) uninitialize = nullptr;
  decltype(&::CoCreateInstance) create = nullptr;
  decltype(&::SysAllocStringLen) allocString = nullptr;
  decltype(&::SysFreeString) freeString = nullptr;
};

const ComApi& Com() {
  static const ComApi api = [] {
    ComApi a;
    HMODULE ole = LoadSystemLibrary("ole32.dll"), automation = LoadSystemLibrary("oleaut32.dll");
    a.ok = ResolveFunction(ole, "CoInitializeEx", &a.initialize) &&
           ResolveFunction(ole, "CoUninitialize", &a.uninitialize) &&
           ResolveFunction(ole, "CoCreateInstance", &a.create) &&
           ResolveFunction(automation, "SysAllocStringLen", &a.allocString) &&
           ResolveFunction(automation, "SysFreeString", &a.freeString);
    return a;
  }();
  return api;
}

// One reference of a COM interface, released on every way out.
template <typename T>
struct Ref {
  T* p = nullptr;
  ~Ref() {
    if (p != nullptr) p->Release();
  }
  void** Out() { return reinterpret_cast<void**>(&p); }
};

// The desktop's folder view, its Application object, and its ShellExecute,
// which runs in the shell's process.
bool ShellExecuteInShell(BSTR target) {
  const ComApi& com = Com();
  Ref<IShellWindows> windows;
  if (FAILED(com.create(kShellWindowsClass, nullptr, kLocalServer, __uuidof(IShellWindows),
                        windows.Out())))
    return false;
  VARIANT none;
  ZeroMemory(&none, sizeof none);  // VT_EMPTY
  long window = 0;
  Ref<IDispatch> desktop;
  if (windows.p->FindWindowSW(&none, &none, kDesktopWindow, &window, kNeedDispatch,
                              &desktop.p) != S_OK || desktop.p == nullptr)
    return false;
  Ref<IServiceProvider> services;
  Ref<IShellBrowser> browser;
  Ref<IShellView> view;
  Ref<IDispatch> background;
  Ref<IShellFolderViewDual> folderView;
  Ref<IDispatch> application;
  Ref<IShellDispatch2> shell;
  return SUCCEEDED(desktop.p->QueryInterface(__uuidof(IServiceProvider), services.Out())) &&
         SUCCEEDED(services.p->QueryService(kTopLevelBrowserService, __uuidof(IShellBrowser),
                                            browser.Out())) &&
         SUCCEEDED(browser.p->QueryActiveShellView(&view.p)) && view.p != nullptr &&
         SUCCEEDED(view.p->GetItemObject(kViewBackground, __uuidof(IDispatch),
                                         background.Out())) &&
         SUCCEEDED(background.p->QueryInterface(__uuidof(IShellFolderViewDual),
                                                folderView.Out())) &&
         SUCCEEDED(folderView.p->get_Application(&application.p)) && application.p != nullptr &&
         SUCCEEDED(application.p->QueryInterface(__uuidof(IShellDispatch2), shell.Out())) &&
         SUCCEEDED(shell.p->ShellExecute(target, none, none, none, none));
}

}  // namespace

bool IsElevatedWithSplitToken() {
  ScopedKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
  DWORD type = 0, size = 0;
  return GetTokenInformation(token.Get(), static_cast<TOKEN_INFORMATION_CLASS>(kTokenElevationType),
                             &type, sizeof type, &size) &&
         type == kElevationTypeFull;
}

bool OpenThroughDesktopShell(const std::string& target) {
  const ComApi& com = Com();
  if (!com.ok) return false;
  std::vector<wchar_t> wide(target.size() + 1);
  const int n = MultiByteToWideChar(CP_ACP, 0, target.c_str(), -1, wide.data(),
                                    static_cast<int>(wide.size()));
  if (n <= 0) return false;
  const HRESULT initialized = com.initialize(nullptr, COINIT_APARTMENTTHREADED);
  BSTR text = com.allocString(wide.data(), static_cast<UINT>(n - 1));
  const bool done = text != nullptr && ShellExecuteInShell(text);
  if (text != nullptr) com.freeString(text);
  if (SUCCEEDED(initialized)) com.uninitialize();
  return done;
}
