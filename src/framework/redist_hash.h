// The SHA-256 digests of the framework redistributables the program may run,
// pinned into it at build time (RCDATA resource IDR_REDIST_SHA256: one or
// more 64-hex-digit pins separated by white space).
#ifndef RAVEN_FRAMEWORK_REDIST_HASH_H
#define RAVEN_FRAMEWORK_REDIST_HASH_H

#include <windows.h>

#include <string>

// The pins in lower case, one per line without a final line end (a single
// pin is just its 64 characters), or an empty string when the module
// carries no usable list (no resource, an empty one, or any token that is
// not 64 hex digits). An empty result makes every download and every copy
// beside the program fail the check: nothing unverified is run.
std::string LoadPinnedRedistHash(HMODULE module);
// The same for the program's own module.
std::string LoadPinnedRedistHash();

#endif
