// SHA-256 (FIPS 180-4), fed in pieces so a download can be hashed while it
// is written, without reading the file back. Platform-free; where the
// processor has the SHA extensions (found at run time) they do the work.
#ifndef RAVEN_FRAMEWORK_SHA256_H
#define RAVEN_FRAMEWORK_SHA256_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class Sha256 {
 public:
  Sha256();
  void Update(const void* data, size_t size);
  // The digest as 64 lower-case hex characters. Ends the computation: a
  // further Update or FinalHex starts over from the empty message.
  std::string FinalHex();

 private:
  void Reset();

  uint32_t state_[8];
  uint64_t length_;  // bytes fed so far
  uint8_t block_[64];
  size_t filled_;  // bytes waiting in block_
};

std::string Sha256Hex(const void* data, size_t size);

// The compression of `count` whole 64-byte blocks into state.
using Sha256Blocks = void (*)(uint32_t state[8], const uint8_t* blocks, size_t count);
Sha256Blocks PortableSha256Blocks();
// With the processor's SHA extensions; null where the processor (or the
// build's target) has none.
Sha256Blocks ProcessorSha256Blocks();

// True when digestHex equals pinnedHex. A pin that is not exactly 64 hex
// digits (an empty one above all) matches nothing, so a build without a
// pinned hash refuses every download instead of trusting it.
bool DigestMatchesPin(const std::string& digestHex, const std::string& pinnedHex);

// The pins of a list: 64-hex-digit tokens separated by blanks, tabs or line
// ends, returned in lower case. One malformed token makes the whole list
// unusable (empty result): a damaged list must not pass a subset of itself.
std::vector<std::string> ParsePins(const std::string& text);
// True when digestHex equals any pin of the list.
bool DigestMatchesAnyPin(const std::string& digestHex, const std::string& pinList);

#endif
