// The manual-installation page, opened off the window's thread: the shell
// calls below are synchronous and cross-process, and a shell that hangs
// (or that a user program suspends) would freeze the wizard with them.
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <memory>

#include "appkit/app.h"
#include "appkit/desktop_shell.h"
#include "appkit/strings.h"
#include "log/session_log.h"
#include "resource_ids.h"
#include "wizard/setup_wizard_dlg.h"

namespace {

const char kSection[] = "BootStrap";
// How long the wizard waits for the page before it shows the address.
const UINT kManualPageWaitMs = 5000;

enum Outcome { kOpened, kNotOpened, kStillBusy };

struct PageRequest {
  HWND window;
  UINT id;
  std::string address;
};

// The page opens in the program registered for .htm files. Where no such
// program is registered with an executable (a packaged default browser), or
// that program does not start, the shell is handed the address itself and
// opens it as it opens any web address. Elevated with a split token, the
// classes merge in the user's own (any unelevated program can point them
// anywhere) and the browser would run with our rights: the user's shell
// opens the page with the user's, and nothing is started here when it
// cannot.
bool OpenPage(const std::string& address) {
  if (IsElevatedWithSplitToken()) return OpenThroughDesktopShell(address);
  char program[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  const HRESULT found = AssocQueryStringA(ASSOCF_INIT_DEFAULTTOSTAR | ASSOCF_REMAPRUNDLL,
                                          ASSOCSTR_EXECUTABLE, ".htm", "open", program, &size);
  // ShellExecuteA reports success as a value above 32.
  if (SUCCEEDED(found) && program[0] != '\0' &&
      reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, nullptr, program, address.c_str(),
                                              nullptr, SW_SHOWNORMAL)) > 32)
    return true;
  return reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, nullptr, address.c_str(), nullptr,
                                                 nullptr, SW_SHOWNORMAL)) > 32;
}

// The request is the thread's own: it may outlive the wizard (a hung shell
// never returns), and then its message finds no window.
DWORD WINAPI OpenPageThread(LPVOID argument) {
  std::unique_ptr<PageRequest> request(static_cast<PageRequest*>(argument));
  bool opened = false;
  try {
    opened = OpenPage(request->address);
  } catch (...) {
  }
  PostMessageA(request->window, CSetupWizardDlg::kManualPageDone, request->id,
               opened ? kOpened : kNotOpened);
  return 0;
}

}  // namespace

void CSetupWizardDlg::OpenManualInstallPage() {
  ++manualPageRequest_;
  // The outcome arrives as a message, after the step's layout is in place.
  if (manualPageThreadBusy_) {
    PostMessageA(m_hWnd, kManualPageDone, manualPageRequest_, kStillBusy);
    return;
  }
  PageRequest* request = new PageRequest{m_hWnd, manualPageRequest_, LoadResString(IDS_MANUAL_URL)};
  HANDLE thread = CreateThread(nullptr, 0, OpenPageThread, request, 0, nullptr);
  if (thread == nullptr) {
    delete request;
    PostMessageA(m_hWnd, kManualPageDone, manualPageRequest_, kNotOpened);
    return;
  }
  CloseHandle(thread);
  manualPageThreadBusy_ = true;
  SetTimer(m_hWnd, kManualPageTimer, kManualPageWaitMs, nullptr);
}

void CSetupWizardDlg::OnManualPageDone(UINT request, int outcome) {
  if (outcome != kStillBusy) manualPageThreadBusy_ = false;
  // Only the latest request speaks; one that timed out has already spoken.
  if (request != manualPageRequest_) return;
  KillTimer(m_hWnd, kManualPageTimer);
  const std::string address = LoadResString(IDS_MANUAL_URL);
  if (outcome == kOpened) return;
  ShowManualAddress(outcome == kStillBusy
                        ? "An earlier request to open " + address + " is still unanswered"
                        : "Cannot open " + address);
}

void CSetupWizardDlg::OnManualPageTimeout() {
  KillTimer(m_hWnd, kManualPageTimer);
  const std::string address = LoadResString(IDS_MANUAL_URL);
  ++manualPageRequest_;  // a late answer changes nothing
  ShowManualAddress(StrFormat("%s did not open within %u seconds", address.c_str(),
                              kManualPageWaitMs / 1000));
}

// The user can still type the address: the step is never a dead end.
void CSetupWizardDlg::ShowManualAddress(const std::string& why) {
  log->WriteInfo(kSection, why + ": the address is shown");
  if (step != kManualFrameworkInstall) return;
  SetWindowTextA(errorLabel, (LoadResString(IDS_MANUAL_CONTINUE) + "\r\n\r\n" +
                              LoadResString(IDS_MANUAL_URL)).c_str());
  ::ShowWindow(errorLabel, SW_SHOW);
}
