// fuzz_<target> [mutations] [seed]
//
// A plain driver for compilers without libFuzzer: runs every seed input, then
// the given number of random mutations of them (default 20000), each a few
// byte flips, marker-like or length-like values written over four bytes,
// insertions, deletions or truncations. Deterministic for a seed. A failed
// check or a sanitizer's abort prints the input in hex.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_target.h"

namespace {

std::vector<uint8_t> g_current;

struct Random {
  uint64_t state;
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return uint32_t(state >> 16);
  }
  uint32_t Below(uint32_t n) { return n == 0 ? 0 : Next() % n; }
};

void Mutate(std::vector<uint8_t>& bytes, Random& rng) {
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

void RunOne(const std::vector<uint8_t>& input) {
  g_current = input;
  // An exact-size heap copy, so that the sanitizers see a read past its end.
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(input.empty() ? 1 : input.size()));
  if (!input.empty()) std::memcpy(copy, input.data(), input.size());
  LLVMFuzzerTestOneInput(copy, input.size());
  std::free(copy);
}

}  // namespace

// Any abort, a failed check's or a sanitizer's, shows the input first.
static void PrintInputAndAbort(int) {
  std::fprintf(stderr, "input (%zu bytes):", g_current.size());
  for (size_t i = 0; i < g_current.size(); ++i) std::fprintf(stderr, "%s%02x", i % 32 ? " " : "\n", g_current[i]);
  std::fprintf(stderr, "\n");
  std::signal(SIGABRT, SIG_DFL);
  std::abort();
}

int main(int argc, char** argv) {
  std::signal(SIGABRT, PrintInputAndAbort);
  const long mutations = argc > 1 ? std::atol(argv[1]) : 20000;
  Random rng{argc > 2 ? uint64_t(std::atoll(argv[2])) * 2654435761u + 1 : 88172645463325252ull};
  const std::vector<std::vector<uint8_t>> seeds = FuzzSeeds();
  long runs = 0;
  for (const auto& seed : seeds) {
    RunOne(seed);
    ++runs;
  }
  for (long i = 0; i < mutations; ++i) {
    std::vector<uint8_t> input = seeds[rng.Below(uint32_t(seeds.size()))];
    Mutate(input, rng);
    RunOne(input);
    ++runs;
  }
  std::printf("%ld passed, 0 failed\n", runs);
  return 0;
}
