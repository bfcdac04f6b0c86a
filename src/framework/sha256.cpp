#include "framework/sha256.h"

#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define RAVEN_SHA_X86 1
#endif

namespace {

const uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1,
    0x923f82a4, 0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3,
    0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786,
    0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147,
    0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13,
    0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a,
    0x5b9cca4f, 0x682e6ff3, 0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208,
    0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotr(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) |
         (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The schedule is kept as a ring of 16 words and the rounds are unrolled by
// eight with the working variables renamed instead of shifted: on a 32-bit
// x86 with few registers this about halves the time of the plain loop, and
// a download is hashed as fast as it arrives.
#define RAVEN_SHA_ROUND(a, b, c, d, e, f, g, h, k, w)                        \
  do {                                                                      \
    uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) +            \
                  (g ^ (e & (f ^ g))) + (k) + (w);                          \
    d += t1;                                                                \
    h = t1 + (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) +                     \
        ((a & b) | (c & (a | b)));                                          \
  } while (0)

#define RAVEN_SHA_EIGHT(i, W)                                         \
  RAVEN_SHA_ROUND(a, b, c, d, e, f, g, h, kRoundConstants[i], W(i));         \
  RAVEN_SHA_ROUND(h, a, b, c, d, e, f, g, kRoundConstants[i + 1], W(i + 1)); \
  RAVEN_SHA_ROUND(g, h, a, b, c, d, e, f, kRoundConstants[i + 2], W(i + 2)); \
  RAVEN_SHA_ROUND(f, g, h, a, b, c, d, e, kRoundConstants[i + 3], W(i + 3)); \
  RAVEN_SHA_ROUND(e, f, g, h, a, b, c, d, kRoundConstants[i + 4], W(i + 4)); \
  RAVEN_SHA_ROUND(d, e, f, g, h, a, b, c, kRoundConstants[i + 5], W(i + 5)); \
  RAVEN_SHA_ROUND(c, d, e, f, g, h, a, b, kRoundConstants[i + 6], W(i + 6)); \
  RAVEN_SHA_ROUND(b, c, d, e, f, g, h, a, kRoundConstants[i + 7], W(i + 7))

void CompressPortable(uint32_t* state_, const uint8_t* block) {
  uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian(block + 4 * i);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
#define RAVEN_SHA_LOADED(i) w[(i)&15]
#define RAVEN_SHA_EXPANDED(i)                                               \
  (w[(i)&15] += (Rotr(w[((i)-2) & 15], 17) ^ Rotr(w[((i)-2) & 15], 19) ^   \
                 (w[((i)-2) & 15] >> 10)) +                                 \
                w[((i)-7) & 15] +                                           \
                (Rotr(w[((i)-15) & 15], 7) ^ Rotr(w[((i)-15) & 15], 18) ^   \
                 (w[((i)-15) & 15] >> 3)))
  for (int i = 0; i < 16; i += 8) {
    RAVEN_SHA_EIGHT(i, RAVEN_SHA_LOADED);
  }
  for (int i = 16; i < 64; i += 8) {
    RAVEN_SHA_EIGHT(i, RAVEN_SHA_EXPANDED);
  }
#undef RAVEN_SHA_LOADED
#undef RAVEN_SHA_EXPANDED
  state_[0] += a; state_[1] += b; state_[2] += c; state_[3] += d;
  state_[4] += e; state_[5] += f; state_[6] += g; state_[7] += h;
}

#undef RAVEN_SHA_EIGHT
#undef RAVEN_SHA_ROUND

void PortableBlocks(uint32_t state[8], const uint8_t* blocks, size_t count) {
  for (; count > 0; --count, blocks += 64) CompressPortable(state, blocks);
}

#ifdef RAVEN_SHA_X86
// Four rounds per step, the state kept as ABEF and CDGH as the
// instructions want it. 32-bit Windows aligns thread stacks on 4 bytes
// only, and the vector spills need 16: the entry realigns.
#if defined(__i386__)
__attribute__((force_align_arg_pointer))
#endif
__attribute__((target("sha,sse4.1,ssse3"))) void ProcessorBlocks(uint32_t state[8],
                                                               const uint8_t* blocks,
                                                               size_t count) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i cdab = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
  __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
  for (; count > 0; --count, blocks += 64) {
    const __m128i abefKept = abef, cdghKept = cdgh;
    __m128i w[4];
#pragma GCC unroll 16
    for (int g = 0; g < 16; ++g) {
      __m128i& slot = w[g & 3];
      if (g < 4) {
        slot = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * g)), byteSwap);
      } else {
        // W[g] from W[g-4] (the slot), W[g-3], W[g-2] and W[g-1].
        const __m128i previous = w[(g - 1) & 3];
        slot = _mm_sha256msg2_epu32(
            _mm_add_epi32(_mm_sha256msg1_epu32(slot, w[(g - 3) & 3]),
                          _mm_alignr_epi8(previous, w[(g - 2) & 3], 4)),
            previous);
      }
      const __m128i k = _mm_add_epi32(
          slot, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * g)));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, k);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(k, 0x0E));
    }
    abef = _mm_add_epi32(abef, abefKept);
    cdgh = _mm_add_epi32(cdgh, cdghKept);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

bool ProcessorHasShaExtensions() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = (c & (1u << 9)) != 0, sse41 = (c & (1u << 19)) != 0;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, a, b, c, d);
  return ssse3 && sse41 && (b & (1u << 29)) != 0;
}
#endif

// Chosen once, at the first hash.
Sha256Blocks ChosenBlocks() {
  static const Sha256Blocks chosen =
      ProcessorSha256Blocks() != nullptr ? ProcessorSha256Blocks() : PortableBlocks;
  return chosen;
}

}  // namespace

Sha256Blocks PortableSha256Blocks() { return PortableBlocks; }

Sha256Blocks ProcessorSha256Blocks() {
#ifdef RAVEN_SHA_X86
  static const bool has = ProcessorHasShaExtensions();
  return has ? ProcessorBlocks : nullptr;
#else
  return nullptr;
#endif
}

Sha256::Sha256() { Reset(); }

void Sha256::Reset() {
  static const uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372,
                                       0xa54ff53a, 0x510e527f, 0x9b05688c,
                                       0x1f83d9ab, 0x5be0cd19};
  std::memcpy(state_, kInitial, sizeof state_);
  length_ = 0;
  filled_ = 0;
}


void Sha256::Update(const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  // An empty piece may come with no buffer at all (an empty file's data).
  if (size == 0) return;
  length_ += size;
  if (filled_ > 0) {
    size_t take = size < 64 - filled_ ? size : 64 - filled_;
    std::memcpy(block_ + filled_, p, take);
    filled_ += take;
    p += take;
    size -= take;
    if (filled_ < 64) return;
    ChosenBlocks()(state_, block_, 1);
    filled_ = 0;
  }
  // Whole blocks straight from the caller's buffer: no copy for the bulk of
  // a download chunk.
  const size_t whole = size / 64;
  if (whole > 0) ChosenBlocks()(state_, p, whole);
  p += whole * 64;
  size -= whole * 64;
  std::memcpy(block_, p, size);
  filled_ = size;
}

std::string Sha256::FinalHex() {
  uint64_t bits = length_ * 8;
  uint8_t pad[72] = {0x80};
  size_t padLength = (filled_ < 56 ? 56 : 120) - filled_;
  for (int i = 0; i < 8; ++i) pad[padLength + i] = uint8_t(bits >> (56 - 8 * i));
  Update(pad, padLength + 8);
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(64);
  for (uint32_t word : state_) {
    for (int shift = 28; shift >= 0; shift -= 4) hex += kDigits[(word >> shift) & 15];
  }
  Reset();
  return hex;
}

std::string Sha256Hex(const void* data, size_t size) {
  Sha256 sha;
  sha.Update(data, size);
  return sha.FinalHex();
}

bool DigestMatchesPin(const std::string& digestHex, const std::string& pinnedHex) {
  if (pinnedHex.size() != 64 || digestHex.size() != 64) return false;
  for (size_t i = 0; i < 64; ++i) {
    int pinned = HexValue(pinnedHex[i]);
    if (pinned < 0 || pinned != HexValue(digestHex[i])) return false;
  }
  return true;
}

std::vector<std::string> ParsePins(const std::string& text) {
  std::vector<std::string> pins;
  size_t at = 0;
  for (;;) {
    at = text.find_first_not_of(" \t\r\n", at);
    if (at == std::string::npos) return pins;
    size_t end = text.find_first_of(" \t\r\n", at);
    if (end == std::string::npos) end = text.size();
    std::string pin = text.substr(at, end - at);
    if (pin.size() != 64) return {};
    for (char& c : pin) {
      int v = HexValue(c);
      if (v < 0) return {};
      c = "0123456789abcdef"[v];
    }
    pins.push_back(pin);
    at = end;
  }
}

bool DigestMatchesAnyPin(const std::string& digestHex, const std::string& pinList) {
  for (const std::string& pin : ParsePins(pinList))
    if (DigestMatchesPin(digestHex, pin)) return true;
  return false;
}
