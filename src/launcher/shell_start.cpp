#include "launcher/shell_start.h"

#include <shellapi.h>

#include <cstring>

// The shell tells the structure's versions apart by its size: 60 bytes in
// 32-bit programs (112 in the x86-64 test build).
static_assert(sizeof(SHELLEXECUTEINFOA) == (sizeof(void*) == 4 ? 60 : 112),
              "SHELLEXECUTEINFOA layout");

bool StartThroughShell(const char* program, const char* parameters, const char* folder,
                       PROCESS_INFORMATION* process) {
  SHELLEXECUTEINFOA info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = program;
  info.lpParameters = parameters;
  info.lpDirectory = folder != nullptr && *folder != '\0' ? folder : nullptr;
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExA(&info)) return false;
  if (info.hProcess == nullptr) {
    // Nothing to wait for: the work folder would go from under it.
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  std::memset(process, 0, sizeof *process);
  process->hProcess = info.hProcess;
  return true;
}
