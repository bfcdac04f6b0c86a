#include "framework/detection.h"

#include <windows.h>

#include <vector>

#include "appkit/ansi_path.h"
#include "appkit/app.h"
#include "appkit/exceptions.h"
#include "appkit/handle.h"
#include "appkit/strings.h"
#include "framework/sha256.h"
#include "log/session_log.h"

const char kRedistributableName[] = "dotnetfx.exe";

namespace {

// The marks an installed framework leaves: a value under its policy key and
// its folder under the Windows folder. Both names are put together from the
// version and build at run time, so one pair of constants names the release.
const char kPolicyKeyPrefix[] = "SOFTWARE\\Microsoft\\.NETFramework\\policy\\";
const char kFrameworkVersion[] = "v1.1";
const char kFrameworkBuild[] = "4322";
const char kFrameworkFolderStem[] = "\\Microsoft.Net\\Framework\\";
const char kVersionBuildSeparator[] = ".";

bool PolicyValuePresent() {
  std::string keyPath = std::string(kPolicyKeyPrefix) + kFrameworkVersion;
  ScopedRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ,
                    key.Receive()) != ERROR_SUCCESS)
    return false;
  // Only a readable value counts; its type and data say nothing more.
  BYTE data[256];
  DWORD size = sizeof data;
  return RegQueryValueExA(key.Get(), kFrameworkBuild, nullptr, nullptr, data,
                          &size) == ERROR_SUCCESS;
}

std::string WindowsFolder() {
  char buffer[MAX_PATH] = {};
  UINT n = GetWindowsDirectoryA(buffer, MAX_PATH);
  // A result of MAX_PATH or more is the size the path would need: it did
  // not fit, and the buffer holds nothing usable.
  if (n == 0 || n >= MAX_PATH) throw CUserException();
  return std::string(buffer, n);
}

bool FrameworkFolderPresent() {
  std::string folder = WindowsFolder() + kFrameworkFolderStem +
                       kFrameworkVersion + kVersionBuildSeparator +
                       kFrameworkBuild;
  DWORD attributes = GetFileAttributesA(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Position of the last backslash, walking by characters of the ANSI code
// page so the trail byte of a double-byte character (which may be 0x5C) is
// never taken for one. npos when there is none.
size_t LastBackslash(const char* path) {
  size_t found = std::string::npos;
  for (const char* p = path; *p != '\0'; p = CharNextA(p)) {
    if (*p == '\\') found = static_cast<size_t>(p - path);
  }
  return found;
}

}  // namespace

bool IsFrameworkMissing() {
  // The folder is looked at only once the registry says the framework is
  // there: both marks must be present.
  if (!PolicyValuePresent()) return true;
  return !FrameworkFolderPresent();
}

std::string GetProgramFolder() {
  // In ANSI a folder name the code page cannot write would name nothing,
  // or another folder: the exact or short form, or no folder at all.
  const std::string path = AnsiPathOf(ModulePathW(AfxGetInstanceHandle()));
  if (path.empty() || path.size() >= MAX_PATH) throw CUserException();
  size_t slash = LastBackslash(path.c_str());
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool FileExists(const std::string& path) {
  ScopedKernelHandle file(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
  return file.IsValid();
}

std::string RedistributableBesideProgram() {
  return GetProgramFolder() + "\\" + kRedistributableName;
}

namespace {

// Copies source's bytes into a file made new at target, hashing them on the
// way: nothing of the source's attributes comes along (a read-only copy
// could not be deleted when it proves wrong), and what is hashed is what
// was written. The hex digest, or empty with *error set and target gone.
std::string CopyAndHash(const std::string& source, const std::string& target, DWORD* error) {
  // Others may read the source meanwhile, nobody may change it.
  ScopedKernelHandle in(CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  if (!in.IsValid()) {
    *error = GetLastError();
    return std::string();
  }
  ScopedKernelHandle out(CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.IsValid()) {
    *error = GetLastError();
    return std::string();
  }
  Sha256 sha;
  std::vector<char> buffer(65536);
  unsigned long total = 0;
  for (;;) {
    DWORD got = 0, written = 0;
    if (!ReadFile(in.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      *error = GetLastError();
      break;
    }
    if (got == 0) {
      out.Reset();
      return sha.FinalHex();
    }
    if (got > kMaxRedistributableBytes - total) {
      *error = ERROR_FILE_TOO_LARGE;
      break;
    }
    total += got;
    if (!WriteFile(out.Get(), buffer.data(), got, &written, nullptr) || written != got) {
      *error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
      break;
    }
    sha.Update(buffer.data(), got);
  }
  out.Reset();
  DeleteFileA(target.c_str());
  return std::string();
}

}  // namespace

bool TakeRedistributableBesideProgram(const std::string& target,
                                      const std::string& pins, CSessionLog& log) {
  std::string beside;
  try {
    beside = RedistributableBesideProgram();
  } catch (const CUserException&) {
    return false;  // no folder that can be named: no copy beside it either
  }
  if (GetFileAttributesA(beside.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  const char kSection[] = "BootStrap";
  // Whatever lies beside the program may change at any time: only a copy
  // inside the work folder, which nobody else may touch, is checked and run.
  DWORD error = 0;
  const std::string digest = CopyAndHash(beside, target, &error);
  if (digest.empty()) {
    log.WriteInfo(kSection, StrFormat("Ignoring %s : it cannot be copied to %s (error %lu)",
                                      beside.c_str(), target.c_str(), error));
    return false;
  }
  if (!DigestMatchesAnyPin(digest, pins)) {
    log.WriteInfo(kSection, StrFormat("Ignoring %s : its SHA-256 %s matches no pinned hash",
                                      beside.c_str(), digest.c_str()));
    // The download that follows writes the same name.
    if (!DeleteFileA(target.c_str()))
      log.WriteError(kSection, StrFormat("Cannot delete %s", target.c_str()),
                     GetLastError());
    return false;
  }
  log.WriteInfo(kSection, StrFormat("Using %s, copied to %s", beside.c_str(), target.c_str()));
  return true;
}
