#include "payload/work_folder.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <vector>

#include "appkit/strings.h"
#include "log/session_log.h"

namespace {

const char kSection[] = "BootStrap";

// GetTempFileNameA creates a file when the number is 0, and uses only the
// low 16 bits of any other: keep the number in 1..0xFFFF.
unsigned NonZeroUnique(unsigned drawn) {
  unsigned number = drawn & 0xFFFFu;
  return number == 0 ? 1 : number;
}

// One attempt: forms the name for number and tries to make the folder.
// Returns the error code (0 on success); *name receives the formed name.
DWORD TryCreate(const char* tempPath, const std::string& prefix, unsigned number,
                CSessionLog& log, std::string* name) {
  char formed[MAX_PATH] = {};
  if (GetTempFileNameA(tempPath, prefix.c_str(), number, formed) == 0) {
    DWORD error = GetLastError();
    log.WriteError(kSection, "Fail to create temp folder", error);
    return error == 0 ? ERROR_INVALID_NAME : error;
  }
  *name = formed;
  log.WriteInfo(kSection, StrFormat("Creating temp folder \"%s\"", formed));
  if (!CreateDirectoryA(formed, nullptr)) {
    DWORD error = GetLastError();
    log.WriteError(kSection, "Fail to create temp folder", error);
    return error == 0 ? ERROR_CANNOT_MAKE : error;
  }
  log.WriteInfo(kSection, "Temp folder successfully created");
  return 0;
}

}  // namespace

std::string CreateWorkFolder(const std::string& prefix, CSessionLog& log,
                             bool* created) {
  srand(GetTickCount());
  return CreateWorkFolder(prefix, log, created,
                          [] { return static_cast<unsigned>(rand()); });
}

std::string CreateWorkFolder(const std::string& prefix, CSessionLog& log,
                             bool* created, const std::function<unsigned()>& draw) {
  if (created != nullptr) *created = false;
  char tempPath[MAX_PATH] = {};
  DWORD length = GetTempPathA(MAX_PATH, tempPath);
  if (length == 0 || length >= MAX_PATH) {
    log.WriteError(kSection, "Fail to create temp folder", GetLastError());
    return std::string();
  }
  std::string name;
  // A taken name is drawn again; any other failure will not go away by
  // trying another name.
  for (int attempt = 0; attempt < kWorkFolderAttempts; ++attempt) {
    DWORD error = TryCreate(tempPath, prefix, NonZeroUnique(draw()), log, &name);
    if (error == 0) {
      if (created != nullptr) *created = true;
      break;
    }
    if (error != ERROR_ALREADY_EXISTS) break;
  }
  return name.empty() ? std::string() : name + "\\";
}

namespace {

// The shell's delete: for good (no Recycle Bin), without progress,
// confirmation or error boxes. An error box would be modal and ownerless
// once the wizard is gone, and a silent run from a deployment tool would
// wait for a click that never comes; the failure is logged instead.
const FILEOP_FLAGS kDeleteFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
static_assert(kDeleteFlags == 0x0414, "flags Windows 2000 knows");
// The shell packs its structures on 1 byte in 32-bit programs.
static_assert(sizeof(void*) != 4 || sizeof(SHFILEOPSTRUCTA) == 30,
              "SHFILEOPSTRUCTA must have its 32-bit layout");

// While a just-ended setup program's image or a virus scanner still holds
// a file, the deletion fails for a moment: retried this long.
const DWORD kDeleteRetryMs = 2000;
const DWORD kDeleteRetryPauseMs = 100;

// SHFileOperationA returns either a Windows error code or one of its own
// older codes (0x71..0x88, 0xB7, 0x402, 0x10000 and up), which collide with
// unrelated Windows codes and texts. The log gets the Windows code that
// says what happened.
DWORD WindowsErrorOfShellResult(int result) {
  switch (result) {
    case 0x74:  // the root folder
    case 0x78:  // access denied at the source
      return ERROR_ACCESS_DENIED;
    case 0x75:  // cancelled
      return ERROR_CANCELLED;
    case 0x79:  // path too deep
    case 0x81:  // name too long
    case 0xB7:  // beyond MAX_PATH
      return ERROR_FILENAME_EXCED_RANGE;
    case 0x7C:  // invalid paths
      return ERROR_INVALID_NAME;
    case 0x86: case 0x87: case 0x88:  // a read-only medium
      return ERROR_WRITE_PROTECT;
    case 0x402:  // "unknown error", typically a path that does not exist
      return ERROR_PATH_NOT_FOUND;
    default:
      break;
  }
  if ((result >= 0x71 && result <= 0x88) || result >= 0x10000)
    return ERROR_GEN_FAILURE;
  return static_cast<DWORD>(result);
}

bool IsTransient(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

}  // namespace

void DeleteWorkFolder(const std::string& path, CSessionLog& log) {
  log.WriteInfo(kSection, StrFormat("Deleting temp folder \"%s\"", path.c_str()));
  std::string folder = path;
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  // The shell takes a list of paths ended by an empty one.
  std::vector<char> list(folder.begin(), folder.end());
  list.push_back('\0');
  list.push_back('\0');
  // The shell reports its failure in the result; GetLastError() is stale
  // after it (often 0, which would record a failed deletion as "success").
  DWORD error = 0;
  const DWORD start = GetTickCount();
  for (;;) {
    SHFILEOPSTRUCTA op = {};
    op.hwnd = nullptr;
    op.wFunc = FO_DELETE;
    op.pFrom = list.data();
    op.pTo = nullptr;
    op.fFlags = kDeleteFlags;
    error = WindowsErrorOfShellResult(SHFileOperationA(&op));
    if (!IsTransient(error) || GetTickCount() - start >= kDeleteRetryMs) break;
    Sleep(kDeleteRetryPauseMs);
  }
  if (error != 0) {
    log.WriteError(kSection, "An error occured while deleting temp folder", error);
  } else {
    log.WriteInfo(kSection, "Temp folder successfully deleted");
  }
}
