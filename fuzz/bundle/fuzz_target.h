// What each fuzz target provides: the libFuzzer entry point, which checks
// its properties with FuzzCheck.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Stops the run when a checked property fails; the input that caused it is
// then printed by the plain driver, or saved by libFuzzer.
inline void FuzzCheck(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::abort();
}
