#include "bundle/format/crc32.h"

#include "bundle/format/bundle_layout.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <emmintrin.h>
#include <wmmintrin.h>
#define BUNDLE_CRC32_CARRYLESS 1
#endif

namespace bundle {

namespace {

constexpr uint32_t POLYNOMIAL = 0xEDB88320u;  // x^32 + x^26 + ... + 1, bit-reflected

// table[0] is the classic byte-at-a-time table; table[k][n] is the register
// contribution of byte n followed by k zero bytes, so eight bytes fold into
// the register with eight independent lookups. Built when the program
// starts (a few microseconds), not at compile time: as data they would be
// 8 KiB of every launcher's file.
struct SlicingTables {
  uint32_t table[8][256];
  SlicingTables() {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? POLYNOMIAL ^ (c >> 1) : c >> 1;
      table[0][n] = c;
    }
    for (int k = 1; k < 8; ++k) {
      for (uint32_t n = 0; n < 256; ++n) table[k][n] = (table[k - 1][n] >> 8) ^ table[0][table[k - 1][n] & 0xFF];
    }
  }
};
const SlicingTables TABLES;

// Both paths work on the register: the CRC inverted.
uint32_t SliceRegister(const uint8_t* p, size_t n, uint32_t c) {
  const auto& t = TABLES.table;
  for (; n >= 8; p += 8, n -= 8) {
    const uint32_t a = LoadLe32(p) ^ c;
    const uint32_t b = LoadLe32(p + 4);
    c = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^ t[3][b & 0xFF] ^
        t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
  }
  for (; n > 0; ++p, --n) c = t[0][(c ^ *p) & 0xFF] ^ (c >> 8);
  return c;
}

#ifdef BUNDLE_CRC32_CARRYLESS

bool DetectCarryless() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  return __get_cpuid(1, &a, &b, &c, &d) != 0 && (c & bit_PCLMUL) != 0 && (d & bit_SSE2) != 0;
}
const bool HAS_CARRYLESS = DetectCarryless();

// Folding with carry-less multiplies (Gopal et al., "Fast CRC Computation for
// Generic Polynomials Using PCLMULQDQ Instruction", Intel, 2009), in the
// bit-reflected domain of this CRC. Four 128-bit accumulators take 64 bytes
// per step: each is multiplied, in its two 64-bit halves, by the powers of x
// mod P that carry it 512 bits on (k1, k2) and the next 16 input bytes are
// added in; then
// the four fold into one with k3, k4 (128 bits apart), further 16-byte
// blocks fold in the same way, and the 128 bits reduce to 64 (k4), to 32
// (k5) and, by Barrett reduction with P' and mu, to the register.
// Preconditions: length >= 64 and a multiple of 16. Where the processor
// calls in with a stack aligned to 4 bytes only (32-bit Windows threads), the
// attribute realigns it for the 16-byte spills.
#define CARRYLESS_CODE __attribute__((target("pclmul,sse2")))

CARRYLESS_CODE inline __attribute__((always_inline)) __m128i Load(const uint8_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// x times its fold constants k, plus the next block.
CARRYLESS_CODE inline __attribute__((always_inline)) __m128i Fold(__m128i x, __m128i k, __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
  const __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

CARRYLESS_CODE __attribute__((force_align_arg_pointer)) uint32_t FoldRegister(const uint8_t* p, size_t n,
                                                                            uint32_t c) {
  const __m128i k1k2 = _mm_set_epi32(0x00000001, int(0xC6E41596), 0x00000001, 0x54442BD4);
  const __m128i k3k4 = _mm_set_epi32(0x00000000, int(0xCCAA009E), 0x00000001, 0x751997D0);
  const __m128i k5 = _mm_set_epi32(0, 0, 0x00000001, 0x63CD6124);
  const __m128i poly = _mm_set_epi32(0x00000001, int(0xF7011641), 0x00000001, int(0xDB710641));
  const __m128i low32 = _mm_set_epi32(0, -1, 0, -1);

  __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(int(c)));
  __m128i x2 = Load(p + 16);
  __m128i x3 = Load(p + 32);
  __m128i x4 = Load(p + 48);
  p += 64;
  n -= 64;
  for (; n >= 64; p += 64, n -= 64) {
    x1 = Fold(x1, k1k2, Load(p));
    x2 = Fold(x2, k1k2, Load(p + 16));
    x3 = Fold(x3, k1k2, Load(p + 32));
    x4 = Fold(x4, k1k2, Load(p + 48));
  }
  x1 = Fold(x1, k3k4, x2);
  x1 = Fold(x1, k3k4, x3);
  x1 = Fold(x1, k3k4, x4);
  for (; n >= 16; p += 16, n -= 16) x1 = Fold(x1, k3k4, Load(p));

  // 128 bits to 64.
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
  // 64 to 32.
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 4), _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00));
  // Barrett reduction.
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
  x1 = _mm_xor_si128(x1, t);
  return uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(x1, 4)));
}

uint32_t FoldThenSlice(const uint8_t* p, size_t n, uint32_t c) {
  if (n >= 64) {
    const size_t folded = n & ~size_t(15);
    c = FoldRegister(p, folded, c);
    p += folded;
    n -= folded;
  }
  return SliceRegister(p, n, c);
}

#endif

}  // namespace

uint32_t Crc32(const void* data, size_t length, uint32_t crc) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
#ifdef BUNDLE_CRC32_CARRYLESS
  if (HAS_CARRYLESS) return ~FoldThenSlice(p, length, ~crc);
#endif
  return ~SliceRegister(p, length, ~crc);
}

namespace crc32_paths {

uint32_t SlicingBy8(const void* data, size_t length, uint32_t crc) {
  return ~SliceRegister(static_cast<const uint8_t*>(data), length, ~crc);
}

bool CarrylessAvailable() {
#ifdef BUNDLE_CRC32_CARRYLESS
  return HAS_CARRYLESS;
#else
  return false;
#endif
}

uint32_t CarrylessFold(const void* data, size_t length, uint32_t crc) {
#ifdef BUNDLE_CRC32_CARRYLESS
  if (HAS_CARRYLESS) return ~FoldThenSlice(static_cast<const uint8_t*>(data), length, ~crc);
#endif
  return SlicingBy8(data, length, crc);
}

}  // namespace crc32_paths

}  // namespace bundle
