// Reads the program's own payload archive and licence text resources.
#ifndef RAVEN_PAYLOAD_RESOURCE_MANAGER_H
#define RAVEN_PAYLOAD_RESOURCE_MANAGER_H

#include <string>

class CSessionLog;

class ResourceManager {
 public:
  explicit ResourceManager(CSessionLog& log) : log_(log) {}

  // Writes every archive entry below folder (which ends in a backslash) and
  // remembers the launch entry's name. Throws CResourceException for a
  // missing or invalid archive, CFileException for a file it cannot write.
  void ExtractResources(const std::string& folder);
  // The licence text, cut at its first zero byte; empty when absent.
  std::string RetrieveLicenseAgreement();
  // The launch entry's name as stored (with "/"); empty until an
  // extraction has run to its end.
  std::string SetupProgramName() const { return setupProgramName_; }

 private:
  CSessionLog& log_;
  std::string setupProgramName_;
};

#endif
