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

void DeleteWorkFolder(const std::string& path, CSessionLog& log) {
  log.WriteInfo(kSection, StrFormat("Deleting temp folder \"%s\"", path.c_str()));
  std::string folder = path;
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  // The shell takes a list of paths ended by an empty one.
  std::vector<char> list(folder.begin(), folder.end());
  list.push_back('\0');
  list.push_back('\0');
  SHFILEOPSTRUCTA op = {};
  op.hwnd = nullptr;
  op.wFunc = FO_DELETE;
  op.pFrom = list.data();
  op.pTo = nullptr;
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
  // The shell reports its failure in the result; GetLastError() is stale
  // after it (often 0, which would record a failed deletion as "success").
  const int result = SHFileOperationA(&op);
  if (result != 0) {
    log.WriteError(kSection, "An error occured while deleting temp folder",
                   static_cast<unsigned long>(result));
  } else {
    log.WriteInfo(kSection, "Temp folder successfully deleted");
  }
}
