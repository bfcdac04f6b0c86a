#include "app/single_instance.h"

#include <windows.h>

#include "appkit/app.h"
#include "resource_ids.h"

namespace {

// In the global namespace, so that copies in other sessions (fast user
// switching, a deployment agent's service session) see it too.
const char kMutexName[] = "Global\\Ravenstock_Setup_Running_7E4C1B2D";

}  // namespace

bool AnotherCopyIsRunning() {
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, kMutexName);
  if (mutex != nullptr) {
    CloseHandle(mutex);
    return true;
  }
  // An elevated copy's mutex carries its token's default DACL, which lets
  // no unelevated copy open it.
  return GetLastError() == ERROR_ACCESS_DENIED;
}

bool TakeInstanceMutex() {
  // Never closed: the process's end releases it.
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
  const DWORD error = GetLastError();
  if (mutex == nullptr) return error != ERROR_ACCESS_DENIED;
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  return true;
}

void BringFirstCopyForward() {
  HWND wizard = FindWindowA("#32770", LoadResString(IDS_WINDOW_TITLE).c_str());
  // A wizard hidden while the setup program runs stays hidden: the setup
  // program's window is the one the user works in.
  if (wizard == nullptr || !IsWindowVisible(wizard)) return;
  if (IsIconic(wizard)) ShowWindowAsync(wizard, SW_RESTORE);
  SetForegroundWindow(GetLastActivePopup(wizard));
}
