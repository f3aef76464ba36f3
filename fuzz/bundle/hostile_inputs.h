// Hostile inputs made from seed files, shared by the plain fuzz driver (host)
// and the Windows run of the same inputs under Wine: the seed files of the
// given folders, then mutations of them, each a few byte flips, marker-like
// or length-like values written over four bytes, insertions, deletions or
// truncations. The same seeds and random seed give the same inputs on every
// machine. Header-only; no platform calls.
#pragma once

#include <cstdint>
#include <vector>

#include "lzss_test_codec.h"

namespace hostile {

using Bytes = std::vector<uint8_t>;
using test_codec::Random;

inline void Mutate(Bytes& bytes, Random& rng) {
  static const uint32_t values[] = {0, 1, 2, 3, 12, 13, 19, 20, 255, 256, 260, 261, 4095, 4096, 4078,
                                    1977, 1978, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFEu};
  for (uint32_t n = 1 + rng.Below(4); n > 0; --n) {
    const uint32_t at = rng.Below(uint32_t(bytes.size()) + 1);
    switch (rng.Below(6)) {
      case 0:
        if (at < bytes.size()) bytes[at] ^= uint8_t(1u << rng.Below(8));
        break;
      case 1:
        if (at < bytes.size()) bytes[at] = uint8_t(rng.Next());
        break;
      case 2:
        if (at + 4 <= bytes.size()) {
          uint32_t v = values[rng.Below(sizeof values / sizeof values[0])];
          if (rng.Below(4) == 0) v = uint32_t(bytes.size()) - rng.Below(32);
          for (int k = 0; k < 4; ++k) bytes[at + k] = uint8_t(v >> (8 * k));
        }
        break;
      case 3:
        bytes.insert(bytes.begin() + at, uint8_t(rng.Next()));
        break;
      case 4:
        if (at < bytes.size()) bytes.erase(bytes.begin() + at);
        break;
      default:
        bytes.resize(at);
        break;
    }
  }
}

// Calls run(input) for every seed, then for `mutations` mutated copies of
// randomly chosen seeds. Returns the number of inputs run.
template <typename Run>
long RunHostileInputs(const std::vector<Bytes>& seeds, long mutations, uint64_t seed, Run run) {
  long runs = 0;
  for (const Bytes& input : seeds) {
    run(input);
    ++runs;
  }
  if (seeds.empty()) return runs;
  Random rng(seed);
  for (long i = 0; i < mutations; ++i) {
    Bytes input = seeds[rng.Below(uint32_t(seeds.size()))];
    Mutate(input, rng);
    run(input);
    ++runs;
  }
  return runs;
}

}  // namespace hostile
