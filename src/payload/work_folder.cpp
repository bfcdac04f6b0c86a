#include "payload/work_folder.h"

#include <windows.h>
#include <sddl.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <cstdint>
#include <vector>

#include "app/elevation.h"
#include "appkit/ansi_path.h"
#include "appkit/exceptions.h"
#include "appkit/handle.h"
#include "appkit/strings.h"
#include "launcher/setup_command.h"
#include "log/session_log.h"
#include "payload/work_folder_rules.h"

namespace {

const char kSection[] = "BootStrap";
const char kCreateError[] = "Fail to create temp folder";

// The SID of the process's user in string form, empty when it cannot be had.
std::string UserSidString() {
  ScopedKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
    return std::string();
  std::vector<char> buffer(256);
  DWORD size = 0;
  if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(),
                           static_cast<DWORD>(buffer.size()), &size)) {
    if (size <= buffer.size()) return std::string();
    buffer.resize(size);
    if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size))
      return std::string();
  }
  char* text = nullptr;
  if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid,
                              &text))
    return std::string();
  std::string sid = text;
  LocalFree(text);
  return sid;
}

// The security descriptor the folder is created with (WorkFolderSddl).
class FolderSecurity {
 public:
  FolderSecurity() {
    const bool administrator = IsAdministrator();
    const std::string user = administrator ? std::string() : UserSidString();
    if (!administrator && user.empty()) {
      error_ = GetLastError() != 0 ? GetLastError() : ERROR_INVALID_SID;
      return;
    }
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            WorkFolderSddl(administrator, user).c_str(), SDDL_REVISION_1, &descriptor_,
            nullptr))
      error_ = GetLastError();
  }
  ~FolderSecurity() {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
  }
  FolderSecurity(const FolderSecurity&) = delete;
  FolderSecurity& operator=(const FolderSecurity&) = delete;

  DWORD Error() const { return descriptor_ != nullptr ? 0 : error_; }
  PSECURITY_DESCRIPTOR Descriptor() const { return descriptor_; }
  SECURITY_ATTRIBUTES* Attributes() {
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = descriptor_;
    attributes_.bInheritHandle = FALSE;
    return &attributes_;
  }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  DWORD error_ = ERROR_INVALID_SECURITY_DESCR;
  SECURITY_ATTRIBUTES attributes_ = {};
};

// Names from the system's cryptographic generator: a name that can be
// foreseen can be taken before we get to it.
class CryptoRandom {
 public:
  CryptoRandom() {
    if (!CryptAcquireContextA(&provider_, nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT)) {
      error_ = GetLastError();
      provider_ = 0;
    }
  }
  ~CryptoRandom() {
    if (provider_ != 0) CryptReleaseContext(provider_, 0);
  }
  CryptoRandom(const CryptoRandom&) = delete;
  CryptoRandom& operator=(const CryptoRandom&) = delete;

  DWORD Error() const { return provider_ != 0 ? 0 : error_; }
  // 0 with the value in *out, or the generator's error: no name is better
  // than a foreseeable one.
  DWORD Next(unsigned long long* out) {
    BYTE bytes[8] = {};
    if (!CryptGenRandom(provider_, sizeof bytes, bytes)) return GetLastError();
    *out = 0;
    for (BYTE b : bytes) *out = (*out << 8) | b;
    return 0;
  }

 private:
  HCRYPTPROV provider_ = 0;
  DWORD error_ = 0;
};

// FILE_PERSISTENT_ACLS and DRIVE_FIXED as every Windows knows them.
const DWORD kPersistentAcls = 0x00000008;
static_assert(kPersistentAcls == FILE_PERSISTENT_ACLS, "volume flag");
const UINT kFixedDrive = 3;
static_assert(kFixedDrive == DRIVE_FIXED, "drive type");
// Opened with FILE_LIST_DIRECTORY only, so nobody is kept from reading or
// writing inside; no delete sharing, so nobody can rename or remove it.
const DWORD kHoldAccess = 0x0001;
const DWORD kHoldSharing = 0x00000003;
const DWORD kHoldFlags = 0x02000000;
static_assert(kHoldAccess == FILE_LIST_DIRECTORY &&
                  kHoldSharing == (FILE_SHARE_READ | FILE_SHARE_WRITE) &&
                  kHoldFlags == FILE_FLAG_BACKUP_SEMANTICS,
              "directory handle flags");

// A DACL means nothing on a volume that keeps none (FAT, exFAT, RAM disks)
// or on one that is not ours (a network share, a removable disk).
bool KeepsAcls(const std::string& root) {
  if (root.empty() || GetDriveTypeA(root.c_str()) != kFixedDrive) return false;
  DWORD flags = 0;
  return GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, &flags,
                               nullptr, 0) &&
         (flags & kPersistentAcls) != 0;
}

// The parent the folder is made in, ending in a backslash: the user's
// temporary folder where a DACL protects, else the Windows folder's Temp
// (the system's, not a Terminal Server user's own). Empty on failure, with
// the error recorded.
// The temporary folder for the ANSI calls here: as Windows names it, or in
// its short form. When the code page can write neither, an elevated run
// takes the Windows folder's Temp, where only administrators may write.
// Returns 0, or the error code (ERROR_NO_UNICODE_TRANSLATION: no name).
DWORD TempFolderForAnsi(CSessionLog& log, std::string* path) {
  wchar_t wide[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, wide);
  if (n == 0 || n > MAX_PATH) return n == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
  *path = AnsiPathOf(wide);
  if (path->empty() && IsAdministrator()) {
    wchar_t windows[MAX_PATH + 1] = {};
    const UINT w = GetWindowsDirectoryW(windows, MAX_PATH + 1);
    if (w != 0 && w <= MAX_PATH) *path = AnsiPathOf(std::wstring(windows) + L"\\Temp\\");
    if (!path->empty())
      log.WriteInfo(kSection, StrFormat("The temporary folder has no name in the system's code "
                                        "page: using %s", path->c_str()));
  }
  if (path->empty()) return ERROR_NO_UNICODE_TRANSLATION;
  return path->size() < MAX_PATH ? 0 : ERROR_FILENAME_EXCED_RANGE;
}

std::string ParentFolder(CSessionLog& log) {
  std::string userTemp;
  const DWORD error = TempFolderForAnsi(log, &userTemp);
  if (error != 0) {
    log.WriteError(kSection, kCreateError, error);
    if (error == ERROR_NO_UNICODE_TRANSLATION) throw CFileException(error, std::string());
    return std::string();
  }
  if (KeepsAcls(DriveRootOf(userTemp))) return userTemp;
  char path[MAX_PATH] = {};
  const DWORD length = GetSystemWindowsDirectoryA(path, MAX_PATH);
  if (length == 0 || length + 6 >= MAX_PATH) {
    log.WriteError(kSection, kCreateError, length == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW);
    return std::string();
  }
  std::string parent(path, length);
  if (parent.back() != '\\') parent += '\\';
  parent += "Temp\\";
  log.WriteInfo(kSection, StrFormat("\"%s\" keeps no access rights: using \"%s\"",
                                    userTemp.c_str(), parent.c_str()));
  return parent;
}

// A junction or symbolic link anywhere on the path could lead our files to
// a place its maker chooses, at any time: refused, with the reason recorded.
bool IsSafePath(const std::string& path, CSessionLog& log) {
  const std::string unsafe = FirstUnsafeFolder(path, IsAnsiLeadByte, [](const std::string& f) {
    return static_cast<std::uint32_t>(GetFileAttributesA(f.c_str()));
  });
  if (unsafe.empty()) return true;
  log.WriteInfo(kSection, StrFormat("\"%s\" is a link or cannot be read", unsafe.c_str()));
  log.WriteError(kSection, kCreateError, ERROR_CANT_ACCESS_FILE);
  return false;
}

// One attempt: makes the folder name names. Returns the error code (0 on
// success).
DWORD TryCreate(const std::string& name, SECURITY_ATTRIBUTES* security, CSessionLog& log) {
  log.WriteInfo(kSection, StrFormat("Creating temp folder \"%s\"", name.c_str()));
  if (!CreateDirectoryA(name.c_str(), security)) {
    DWORD error = GetLastError();
    log.WriteError(kSection, kCreateError, error);
    return error == 0 ? ERROR_CANNOT_MAKE : error;
  }
  log.WriteInfo(kSection, "Temp folder successfully created");
  return 0;
}

// Opens the folder just made and checks, now that neither it nor any folder
// above it can be renamed, that the path still leads only through folders.
bool Hold(const std::string& name, ScopedKernelHandle* hold, CSessionLog& log) {
  hold->Reset(CreateFileA(name.c_str(), kHoldAccess, kHoldSharing, nullptr, OPEN_EXISTING,
                          kHoldFlags, nullptr));
  if (!hold->IsValid()) {
    log.WriteError(kSection, kCreateError, GetLastError());
  } else if (IsSafePath(name, log)) {
    return true;
  }
  hold->Reset();
  RemoveDirectoryA(name.c_str());
  return false;
}

}  // namespace

std::string CreateWorkFolder(const std::string& prefix, CSessionLog& log, bool* created,
                             ScopedKernelHandle* hold) {
  *created = false;
  CryptoRandom random;
  if (random.Error() != 0) {
    log.WriteError(kSection, kCreateError, random.Error());
    return std::string();
  }
  const std::string parent = ParentFolder(log);
  if (parent.empty() || !IsSafePath(parent.substr(0, parent.size() - 1), log))
    return std::string();
  FolderSecurity security;
  if (security.Error() != 0) {
    log.WriteError(kSection, kCreateError, security.Error());
    return std::string();
  }
  std::string name;
  // A taken name is drawn again; any other failure will not go away by
  // trying another name.
  for (int attempt = 0; attempt < kWorkFolderAttempts; ++attempt) {
    unsigned long long number = 0;
    DWORD error = random.Next(&number);
    if (error != 0) {
      log.WriteError(kSection, kCreateError, error);
      break;
    }
    name = parent + WorkFolderName(prefix, number);
    error = TryCreate(name, security.Attributes(), log);
    if (error == 0) {
      *created = Hold(name, hold, log);
      break;
    }
    if (error != ERROR_ALREADY_EXISTS) break;
  }
  return name.empty() ? std::string() : name + "\\";
}

std::string WorkFolderSecurityText() {
  FolderSecurity security;
  char* text = nullptr;
  if (security.Error() != 0 ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorA(
          security.Descriptor(), SDDL_REVISION_1,
          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
    return std::string();
  std::string sddl = text;
  LocalFree(text);
  return sddl;
}

namespace {

// The shell's delete: for good (no Recycle Bin), without progress,
// confirmation or error boxes. An error box would be modal and ownerless
// once the wizard is gone, and a silent run from a deployment tool would
// wait for a click that never comes; the failure is logged instead.
const FILEOP_FLAGS kDeleteFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
static_assert(kDeleteFlags == 0x0414, "flags Windows 2000 knows");
// The shell packs its structures on 1 byte in 32-bit programs (30 bytes;
// 56 in the x86-64 test build, packed on 8).
static_assert(sizeof(SHFILEOPSTRUCTA) == (sizeof(void*) == 4 ? 30 : 56),
              "SHFILEOPSTRUCTA layout");

// While a just-ended setup program's image or a virus scanner still holds
// a file, the deletion fails for a moment: retried this long (an on-access
// scan of a large self-extractor on a slow disk takes seconds). A file held
// with delete sharing is only marked for deletion and fails the folder's
// removal with yet another code, so every failure but "not found" is
// retried.
const DWORD kDeleteRetryMs = 10000;
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
  return error != 0 && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

}  // namespace

void DeleteWorkFolder(const std::string& path, CSessionLog& log, ScopedKernelHandle* hold) {
  if (hold != nullptr) hold->Reset();
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
