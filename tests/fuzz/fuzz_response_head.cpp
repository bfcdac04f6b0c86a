// Response heads come from the network: whatever the bytes, the parser
// reads within them, and a range it accepts is well formed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "framework/download_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ResponseHead head = ParseResponseHead(std::string(reinterpret_cast<const char*>(data), size));
  if (head.hasRange && (head.rangeLast < head.rangeFirst ||
                        (head.rangeTotalKnown && head.rangeLast >= head.rangeTotal)))
    std::abort();
  if (head.status >= 1000) std::abort();
  if (ContinuesAt(head, head.rangeFirst, head.rangeTotal) && head.rangeLast + 1 != head.rangeTotal)
    std::abort();
  return 0;
}
