#include "payload/resource_manager.h"

#include <shlwapi.h>

#include <algorithm>
#include <new>
#include <vector>

#include "appkit/exceptions.h"
#include "appkit/file.h"
#include "appkit/strings.h"
#include "log/session_log.h"
#include "payload/archive_format.h"
#include "resource_ids.h"

namespace {

const char kSection[] = "ResourceManager";

// A locked resource; FreeResource is called on every way out.
struct LockedResource {
  HGLOBAL handle = nullptr;
  const void* bytes = nullptr;
  DWORD size = 0;
  ~LockedResource() {
    if (handle != nullptr) FreeResource(handle);
  }
};

bool LockResourceOf(HMODULE module, HRSRC found, LockedResource* r) {
  r->handle = LoadResource(module, found);
  if (r->handle == nullptr) return false;
  r->bytes = LockResource(r->handle);
  r->size = SizeofResource(module, found);
  return r->bytes != nullptr;
}

struct TargetPath {
  std::string path;
  std::string parent;  // up to, not including, the last backslash
};

// Joins folder and the stored name, then turns "/" into "\". The walk goes
// by ANSI characters so a double-byte character whose trail byte is 0x2F or
// 0x5C is neither converted nor taken for a separator.
TargetPath MakeTargetPath(const std::string& folder, const std::string& name) {
  std::vector<char> buffer(std::max<size_t>(MAX_PATH, folder.size() + name.size() + 2));
  std::copy(folder.begin(), folder.end(), buffer.begin());
  if (!PathAppendA(buffer.data(), name.c_str()))
    throw CFileException(ERROR_FILENAME_EXCED_RANGE, folder + name);
  char* lastSeparator = nullptr;
  for (char* p = buffer.data(); *p != '\0'; p = CharNextA(p)) {
    if (*p == '/') *p = '\\';
    if (*p == '\\') lastSeparator = p;
  }
  TargetPath target;
  target.path = buffer.data();
  if (lastSeparator != nullptr)
    target.parent.assign(buffer.data(), lastSeparator - buffer.data());
  return target;
}

}  // namespace

HMODULE ResourceManager::Module() const {
  return module_ != nullptr ? module_ : GetModuleHandleA(nullptr);
}

void ResourceManager::ExtractResources(const std::string& folder) {
  log_.WriteInfo(kSection, StrFormat("Extracting resources in %s", folder.c_str()));
  // A relative folder (the work folder could not even be named) would put
  // the payload into whatever the current folder is.
  if (folder.empty() || PathIsRelativeA(folder.c_str()))
    throw CFileException(ERROR_PATH_NOT_FOUND, folder);
  HMODULE module = Module();
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDR_STORAGE), "ZCS_FILE");
  if (found == nullptr) ThrowResourceMissing();
  log_.WriteInfo(kSection, "Loading resource : IDR_STORAGE");
  LockedResource resource;
  if (!LockResourceOf(module, found, &resource)) ThrowResourceMissing();
  Unpack(folder, resource.bytes, resource.size);
  log_.WriteInfo(kSection, "Resources extracted");
}

void ResourceManager::ThrowResourceMissing() {
  DWORD error = GetLastError();
  log_.WriteError(kSection,
                  "An error occurred while extracting resources (resource cannot be found)",
                  error);
  throw CResourceException();
}

void ResourceManager::ReadTable(const void* bytes, DWORD size,
                                archive::Inflated* inflated, archive::Table* table) {
  archive::Verdict verdict;
  try {
    verdict = archive::ReadArchive(bytes, size, inflated, table);
  } catch (const std::bad_alloc&) {
    throw CMemoryException();
  }
  if (!verdict.ok()) {
    log_.WriteInfo(kSection, "Resource File Format is invalid");
    throw CResourceException();
  }
}

// The whole table is checked before the first file is written, so a damaged
// or hostile archive leaves nothing behind.
void ResourceManager::Unpack(const std::string& folder, const void* bytes, DWORD size) {
  archive::Inflated inflated;
  archive::Table table;
  ReadTable(bytes, size, &inflated, &table);
  for (const archive::Entry& entry : table.entries) {
    log_.WriteInfo(kSection, "Creating file : " + entry.name);
    WriteEntry(folder, entry.name, inflated.bytes.get() + entry.offset, entry.size);
    log_.WriteInfo(kSection, "File created");
  }
  setupProgramName_ = table.entries[table.launchIndex].name;
}

void ResourceManager::WriteEntry(const std::string& folder, const std::string& name,
                                 const unsigned char* data, DWORD size) {
  TargetPath target = MakeTargetPath(folder, name);
  // Only the immediate parent is made; it usually exists already, so the
  // result says nothing and the file creation below reports real trouble.
  CreateDirectoryA(target.parent.c_str(), nullptr);
  // The folder is new: a file that exists already was not put there by
  // this extraction and must not be written through.
  CFile file(target.path, CFile::modeCreate | CFile::modeCreateNew | CFile::modeWrite);
  file.Write(data, size);
  file.Flush();
  file.Close();
}

std::string ResourceManager::RetrieveLicenseAgreement() {
  log_.WriteInfo(kSection, "Retrieving license agreement");
  std::string text;
  HMODULE module = Module();
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDR_LICENSE_TEXT), "TEXT_FILE");
  LockedResource resource;
  if (found != nullptr && LockResourceOf(module, found, &resource)) {
    const char* chars = static_cast<const char*>(resource.bytes);
    text.assign(chars, std::find(chars, chars + resource.size, '\0'));
  }
  log_.WriteInfo(kSection, "License agreement retrieved");
  return text;
}
