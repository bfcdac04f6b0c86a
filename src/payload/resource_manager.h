// Reads the program's own payload archive and licence text resources.
#ifndef RAVEN_PAYLOAD_RESOURCE_MANAGER_H
#define RAVEN_PAYLOAD_RESOURCE_MANAGER_H

#include <windows.h>

#include <string>

class CSessionLog;

namespace archive {
struct Inflated;
struct Table;
}

class ResourceManager {
 public:
  // module: where the resources are looked up; null means the program's own
  // (tests pass another exe loaded as a data file).
  explicit ResourceManager(CSessionLog& log, HMODULE module = nullptr)
      : log_(log), module_(module) {}

  // Writes every archive entry below folder (which ends in a backslash) and
  // remembers the launch entry's name. Throws CResourceException for a
  // missing or invalid archive, CFileException for a file it cannot write,
  // CMemoryException when the table does not fit in memory.
  void ExtractResources(const std::string& folder);
  // The licence text, cut at its first zero byte; empty when absent.
  std::string RetrieveLicenseAgreement();
  // The launch entry's name as stored (with "/"); empty until an
  // extraction has run to its end.
  std::string SetupProgramName() const { return setupProgramName_; }

 private:
  HMODULE Module() const;
  [[noreturn]] void ThrowResourceMissing();
  void Unpack(const std::string& folder, const void* bytes, DWORD size);
  void ReadTable(const void* bytes, DWORD size, archive::Inflated* inflated,
                 archive::Table* table);
  void WriteEntry(const std::string& folder, const std::string& name,
                  const unsigned char* data, DWORD size);

  CSessionLog& log_;
  HMODULE module_;
  std::string setupProgramName_;
};

#endif
