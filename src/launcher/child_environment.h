// The environment the programs an elevated run starts (the redistributable
// and the setup program) get: ours without the runtime's hooks.
#ifndef RAVEN_LAUNCHER_CHILD_ENVIRONMENT_H
#define RAVEN_LAUNCHER_CHILD_ENVIRONMENT_H

#include <string>

class CSessionLog;

class ChildEnvironment {
 public:
  // Reads this process's environment as it is now (TEMP included as a
  // caller set it). Elevated, with any hook in it, an info record in
  // section "BootStrap" names what was taken out.
  explicit ChildEnvironment(CSessionLog* log);

  // For CreateProcessA with CreationFlags(): null when the program may
  // inherit our environment as it is.
  void* Block();
  // CREATE_UNICODE_ENVIRONMENT when Block() is not null: the block is read
  // in its wide form, as an ANSI one would lose what the code page cannot
  // write (a user's profile path, say).
  unsigned long CreationFlags() const;

 private:
  std::wstring block_;
  bool filtered_ = false;
};

#endif
