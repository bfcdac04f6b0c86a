// The SHA-256 of the framework redistributable that a download must match,
// pinned into the program at build time (RCDATA resource IDR_REDIST_SHA256).
#ifndef RAVEN_FRAMEWORK_REDIST_HASH_H
#define RAVEN_FRAMEWORK_REDIST_HASH_H

#include <windows.h>

#include <string>

// 64 lower-case hex characters, or an empty string when the module carries
// no usable pin (no resource, an empty one, or anything but 64 hex digits).
// An empty result makes every download fail: nothing unverified is run.
std::string LoadPinnedRedistHash(HMODULE module);
// The same for the program's own module.
std::string LoadPinnedRedistHash();

#endif
