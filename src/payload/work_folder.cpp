#include "payload/work_folder.h"

#include <windows.h>
#include <sddl.h>
#include <wincrypt.h>

#include <cstdint>
#include <vector>

#include "app/elevation.h"
#include "appkit/ansi_path.h"
#include "appkit/exceptions.h"
#include "appkit/handle.h"
#include "appkit/strings.h"
#include "appkit/system_library.h"
#include "appkit/user_sid.h"
#include "launcher/setup_command.h"
#include "log/session_log.h"
#include "payload/work_folder_rules.h"

namespace {

const char kSection[] = "BootStrap";
const char kCreateError[] = "Fail to create temp folder";

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

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  DWORD error_ = ERROR_INVALID_SECURITY_DESCR;
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
// The hold lists the folder only, so nobody is kept from reading or
// writing inside; no delete sharing, so nobody can rename or remove it.
const DWORD kHoldSharing = 0x00000003;
static_assert(kHoldSharing == (FILE_SHARE_READ | FILE_SHARE_WRITE), "hold sharing");

// A DACL means nothing on a volume that keeps none (FAT, exFAT, RAM disks)
// or on one that is not ours (a network share, a removable disk).
bool KeepsAcls(const std::string& root) {
  if (root.empty() || GetDriveTypeA(root.c_str()) != kFixedDrive) return false;
  DWORD flags = 0;
  return GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, &flags,
                               nullptr, 0) &&
         (flags & kPersistentAcls) != 0;
}

// The temporary folder for the ANSI calls here: as Windows names it, or in
// its short form. Returns 0, or the error code (ERROR_NO_UNICODE_TRANSLATION:
// the code page can write neither).
DWORD TempFolderForAnsi(std::string* path) {
  wchar_t wide[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, wide);
  if (n == 0 || n > MAX_PATH) return n == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
  *path = AnsiPathOf(wide);
  if (path->empty()) return ERROR_NO_UNICODE_TRANSLATION;
  return path->size() < MAX_PATH ? 0 : ERROR_FILENAME_EXCED_RANGE;
}

// The Windows folder's Temp (the system's, not a Terminal Server user's
// own), ending in a backslash; empty on failure, with the error recorded.
std::string WindowsTemp(CSessionLog& log) {
  char path[MAX_PATH] = {};
  const DWORD length = GetSystemWindowsDirectoryA(path, MAX_PATH);
  if (length == 0 || length + 6 >= MAX_PATH) {
    log.WriteError(kSection, kCreateError, length == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW);
    return std::string();
  }
  std::string parent(path, length);
  if (parent.back() != '\\') parent += '\\';
  return parent + "Temp\\";
}

// The parent the folder is made in, ending in a backslash. An
// administrator's run makes it in the Windows folder's Temp: there users
// may make folders of their own but cannot rename or delete one an
// administrator made, while in the user's temporary folder any program of
// the user may rename whatever lies in it. An unelevated run (update mode
// started by a user) holds no rights worth taking and keeps the user's
// temporary folder where a DACL protects. Empty on failure, with the
// error recorded.
std::string ParentFolder(CSessionLog& log) {
  if (IsAdministrator()) return WindowsTemp(log);
  std::string userTemp;
  const DWORD error = TempFolderForAnsi(&userTemp);
  if (error != 0) {
    log.WriteError(kSection, kCreateError, error);
    if (error == ERROR_NO_UNICODE_TRANSLATION) throw CFileException(error, std::string());
    return std::string();
  }
  if (KeepsAcls(DriveRootOf(userTemp))) return userTemp;
  const std::string parent = WindowsTemp(log);
  if (!parent.empty())
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

// NtCreateFile and what it needs, from ntdll.dll (on every Windows from
// 2000 on and under Wine), looked up at run time: the import table names
// only what the loader takes from the system folder anyway.
struct NtUnicodeString {
  USHORT length;
  USHORT maximumLength;
  PWSTR buffer;
};
struct NtObjectAttributes {
  ULONG length;
  HANDLE rootDirectory;
  NtUnicodeString* objectName;
  ULONG attributes;
  PVOID securityDescriptor;
  PVOID securityQualityOfService;
};
struct NtIoStatusBlock {
  union {
    LONG status;
    PVOID pointer;
  };
  ULONG_PTR information;
};
using NtCreateFileFunction = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, NtObjectAttributes*,
                                           NtIoStatusBlock*, LARGE_INTEGER*, ULONG, ULONG,
                                           ULONG, ULONG, PVOID, ULONG);
using NtStatusToErrorFunction = ULONG(WINAPI*)(LONG);
static_assert(sizeof(NtObjectAttributes) == (sizeof(void*) == 4 ? 24 : 48),
              "OBJECT_ATTRIBUTES layout");
static_assert(sizeof(NtIoStatusBlock) == 2 * sizeof(void*), "IO_STATUS_BLOCK layout");

// FILE_CREATE (never an existing name), FILE_DIRECTORY_FILE,
// FILE_SYNCHRONOUS_IO_NONALERT, OBJ_CASE_INSENSITIVE; the hold's access
// adds what CreateFileA would have added to FILE_LIST_DIRECTORY.
const ULONG kFileCreate = 2;
const ULONG kDirectoryOptions = 0x00000001 | 0x00000020;
const ULONG kCaseInsensitive = 0x00000040;
const ACCESS_MASK kHoldNtAccess = 0x0001 | 0x0080 | 0x00100000;
static_assert(kHoldNtAccess == (FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE),
              "hold access");
const LONG kNameCollision = static_cast<LONG>(0xC0000035);  // STATUS_OBJECT_NAME_COLLISION

// Makes the folder name names and opens it in the same call, so that the
// folder held is by construction the one made: between a creation and an
// open by name, a program of the user could rename the new folder away and
// put its own in its place. 0 with the folder in *hold, or the error code
// (ERROR_ALREADY_EXISTS for a name taken).
DWORD CreateHeld(const std::string& name, PSECURITY_DESCRIPTOR descriptor,
                 ScopedKernelHandle* hold) {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  NtCreateFileFunction create = nullptr;
  NtStatusToErrorFunction toError = nullptr;
  if (!ResolveFunction(ntdll, "NtCreateFile", &create) ||
      !ResolveFunction(ntdll, "RtlNtStatusToDosError", &toError))
    return ERROR_PROC_NOT_FOUND;
  // Only drive-letter paths get here (IsSafePath refuses the rest).
  const int n = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
  if (n <= 0) return ERROR_NO_UNICODE_TRANSLATION;
  std::vector<wchar_t> wide(4 + static_cast<size_t>(n));
  wcscpy(wide.data(), L"\\??\\");
  MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide.data() + 4, n);
  const size_t bytes = (wide.size() - 1) * sizeof(wchar_t);
  if (bytes > 0xFFF0) return ERROR_FILENAME_EXCED_RANGE;
  NtUnicodeString text = {static_cast<USHORT>(bytes), static_cast<USHORT>(bytes),
                          wide.data()};
  NtObjectAttributes attributes = {sizeof attributes, nullptr, &text, kCaseInsensitive,
                                   descriptor, nullptr};
  NtIoStatusBlock io = {};
  HANDLE handle = nullptr;
  if (g_workFolderCreationHookForTesting != nullptr)
    g_workFolderCreationHookForTesting(false, name);
  const LONG status = create(&handle, kHoldNtAccess, &attributes, &io, nullptr,
                             FILE_ATTRIBUTE_NORMAL, kHoldSharing, kFileCreate,
                             kDirectoryOptions, nullptr, 0);
  if (status < 0) {
    if (status == kNameCollision) return ERROR_ALREADY_EXISTS;
    const DWORD error = toError(status);
    return error != 0 ? error : ERROR_CANNOT_MAKE;
  }
  hold->Reset(handle);
  if (g_workFolderCreationHookForTesting != nullptr)
    g_workFolderCreationHookForTesting(true, name);
  return 0;
}

// One attempt: makes the folder name names, held. Returns the error code
// (0 on success).
DWORD TryCreate(const std::string& name, PSECURITY_DESCRIPTOR descriptor,
                ScopedKernelHandle* hold, CSessionLog& log) {
  log.WriteInfo(kSection, StrFormat("Creating temp folder \"%s\"", name.c_str()));
  const DWORD error = CreateHeld(name, descriptor, hold);
  if (error != 0) {
    log.WriteError(kSection, kCreateError, error);
    return error;
  }
  log.WriteInfo(kSection, "Temp folder successfully created");
  return 0;
}

// Checks, now that neither the folder nor any folder above it can be
// renamed, that the path leads only through folders.
bool CheckHeld(const std::string& name, ScopedKernelHandle* hold, CSessionLog& log) {
  if (IsSafePath(name, log)) return true;
  hold->Reset();
  RemoveDirectoryA(name.c_str());
  return false;
}

}  // namespace

void (*g_workFolderCreationHookForTesting)(bool made, const std::string& name) = nullptr;

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
    name = parent + WorkFolderName(prefix, number, IsAnsiLeadByte);
    error = TryCreate(name, security.Descriptor(), hold, log);
    if (error == 0) {
      *created = CheckHeld(name, hold, log);
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

// While a just-ended setup program's image or a virus scanner still holds
// a file, the deletion fails for a moment: retried this long (an on-access
// scan of a large self-extractor on a slow disk takes seconds). A file held
// with delete sharing is only marked for deletion and fails the folder's
// removal with yet another code, so every failure but "not found" is
// retried.
const DWORD kDeleteRetryMs = 10000;
const DWORD kDeleteRetryPauseMs = 100;

bool IsTransient(DWORD error) {
  return error != 0 && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// True once GetTickCount() has reached deadline (across its wrap).
bool Passed(DWORD deadline) { return GetTickCount() - deadline < 0x80000000u; }

// FILE_ATTRIBUTE_READONLY and FILE_ATTRIBUTE_NORMAL as every Windows knows them.
const DWORD kReadOnly = 0x1;
const DWORD kNormal = 0x80;
static_assert(kReadOnly == FILE_ATTRIBUTE_READONLY && kNormal == FILE_ATTRIBUTE_NORMAL,
              "attributes");

// The work folder's content as the wide calls see it: the setup program may
// leave names the ANSI code page cannot write, and paths longer than
// MAX_PATH, which only the "\\?\" form reaches. Paths travel as UTF-8.
std::wstring LongPath(const std::string& utf8) {
  std::wstring wide(utf8.size() + 1, L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0],
                                    static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return L"\\\\?\\" + wide;
}

std::string Utf8OfAnsi(const std::string& ansi) {
  std::wstring wide(ansi.size() + 1, L'\0');
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &wide[0],
                                    static_cast<int>(wide.size()));
  return n > 0 ? NarrowOf(wide.c_str(), CP_UTF8) : std::string();
}

class WindowsFolderOperations : public FolderOperations {
 public:
  explicit WindowsFolderOperations(DWORD deadline) : deadline_(deadline) {}

  std::uint32_t List(const std::string& folder, std::vector<FolderEntry>* entries) override {
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((LongPath(folder) + L"\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES ? 0 : error;
    }
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..")
        entries->push_back(FolderEntry{NarrowOf(found.cFileName, CP_UTF8), found.dwFileAttributes});
    } while (FindNextFileW(h, &found));
    const DWORD error = GetLastError();
    FindClose(h);
    return error == ERROR_NO_MORE_FILES ? 0 : error;
  }

  // A link goes by the call that removes the link itself: RemoveDirectory
  // for one marked as a folder, DeleteFile for the others; neither touches
  // what it points to. A read-only file or folder loses the attribute first
  // (never a link's: setting it could reach the target).
  std::uint32_t Remove(const std::string& path, const FolderEntry& entry,
                       Removal removal) override {
    const std::wstring wide = LongPath(path);
    const bool folder = removal == Removal::kFolder ||
                        (removal == Removal::kLink && (entry.attributes & kDirectoryAttribute) != 0);
    if (removal != Removal::kLink && (entry.attributes & kReadOnly) != 0)
      SetFileAttributesW(wide.c_str(), kNormal);
    for (;;) {
      const BOOL removed = folder ? RemoveDirectoryW(wide.c_str()) : DeleteFileW(wide.c_str());
      const DWORD error = removed ? 0 : GetLastError();
      if (!IsTransient(error) || Passed(deadline_)) return error;
      Sleep(kDeleteRetryPauseMs);
    }
  }

 private:
  DWORD deadline_;
};

}  // namespace

// The content goes while the folder is still held, so that nobody can put
// a link in its place meanwhile; the shell's delete is not used, as on
// Windows 2000 and XP it descends into a junction's target. Then the hold
// is let go and the empty folder removed at once, with no record between.
void DeleteWorkFolder(const std::string& path, CSessionLog& log, ScopedKernelHandle* hold) {
  log.WriteInfo(kSection, StrFormat("Deleting temp folder \"%s\"", path.c_str()));
  std::string folder = path;
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  // Every entry is retried until the same moment: a folder full of held
  // files costs the bound once, not once per file.
  const DWORD deadline = GetTickCount() + kDeleteRetryMs;
  WindowsFolderOperations operations(deadline);
  const std::string utf8 = Utf8OfAnsi(folder);
  const std::wstring wide = LongPath(utf8);
  DWORD error = utf8.empty() ? ERROR_INVALID_NAME : EmptyFolder(utf8, operations);
  if (hold != nullptr) hold->Reset();
  DWORD removed = 0;
  for (;;) {
    removed = utf8.empty() || RemoveDirectoryW(wide.c_str()) ? 0 : GetLastError();
    if (!IsTransient(removed) || Passed(deadline)) break;
    Sleep(kDeleteRetryPauseMs);
  }
  if (error == 0) error = removed;
  if (error != 0) {
    log.WriteError(kSection, "An error occured while deleting temp folder", error);
  } else {
    log.WriteInfo(kSection, "Temp folder successfully deleted");
  }
}
