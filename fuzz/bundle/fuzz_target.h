// What each fuzz target provides: the libFuzzer entry point and, for the plain
// driver, the inputs its mutations start from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

std::vector<std::vector<uint8_t>> FuzzSeeds();

// Stops the run when a checked property fails; the input that caused it is
// then printed by the plain driver, or saved by libFuzzer.
inline void FuzzCheck(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::abort();
}
