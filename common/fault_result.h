// A failure as a value: what failed, and the error of the platform call that
// failed, taken right after it (the step's own code where no call failed).
// Fault is a scoped enum whose None means that nothing failed.
#pragma once

#include <windows.h>

template <typename Fault>
struct FaultResult {
  Fault fault = Fault::None;
  DWORD error = ERROR_SUCCESS;

  bool Ok() const { return fault == Fault::None; }
  static FaultResult Failed(Fault fault, DWORD error) { return FaultResult{fault, error}; }
};
