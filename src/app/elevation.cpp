#include "app/elevation.h"

#include <shellapi.h>

#include <vector>

#include "app/bootstrap_command_line.h"
#include "appkit/ansi_path.h"

// The shell checks the size field to tell the structure's versions apart:
// 60 bytes in 32-bit programs (112 in the x86-64 test build).
static_assert(sizeof(SHELLEXECUTEINFOW) == (sizeof(void*) == 4 ? 60 : 112),
              "SHELLEXECUTEINFOW layout");

// SEE_MASK_NOZONECHECKS: the shell knows it from XP on, Windows 2000's
// does not, so it is set only where it is known.
const ULONG kNoZoneChecks = 0x00800000;
static_assert(kNoZoneChecks == SEE_MASK_NOZONECHECKS, "SEE_MASK_NOZONECHECKS");

bool IsAdministrator() {
  SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &administrators))
    return false;
  BOOL member = FALSE;
  // A null token tests the caller's own (impersonation or process) token.
  if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
  FreeSid(administrators);
  return member != FALSE;
}

// The relaunch goes by the wide path: in ANSI, a folder name the code page
// cannot write would name nothing, or another program.
RelaunchResult RelaunchElevated(HINSTANCE instance, const std::string& commandTail,
                                bool zoneChecksKnown) {
  RelaunchResult result;
  const std::wstring path = ModulePathW(instance);
  const std::string tail = RelaunchParameters(commandTail);
  std::vector<wchar_t> parameters(tail.size() + 1);
  MultiByteToWideChar(CP_ACP, 0, tail.c_str(), -1, parameters.data(),
                      static_cast<int>(parameters.size()));

  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  // The process handle is what the wait needs; DDEWAIT lets the shell
  // finish its work before this call returns.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT;
  if (zoneChecksKnown) info.fMask |= kNoZoneChecks;
  info.lpVerb = L"runas";
  info.lpFile = path.c_str();
  info.lpParameters = parameters.data();
  info.nShow = SW_SHOWNORMAL;
  if (path.empty()) {
    result.error = ERROR_FILE_NOT_FOUND;
    return result;
  }
  if (!ShellExecuteExW(&info)) {
    result.error = GetLastError();
    return result;
  }
  // Started, but through a route that gives no process to wait for: its
  // outcome cannot be known, and cannot be called a success.
  if (info.hProcess == nullptr) {
    result.error = ERROR_INVALID_HANDLE;
    return result;
  }
  result.started = true;
  WaitForSingleObject(info.hProcess, INFINITE);
  if (!GetExitCodeProcess(info.hProcess, &result.exitCode)) result.exitCode = ERROR_INSTALL_FAILURE;
  CloseHandle(info.hProcess);
  return result;
}
