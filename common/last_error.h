// Keeps the thread's last error across clean-up code. The extraction job
// reports a full disk by the error of the write that failed, read after the
// route has closed its files and freed its buffers; every owner that releases
// a handle on such a path holds one of these for the duration.
#pragma once

#include <windows.h>

class PreserveLastError {
 public:
  PreserveLastError() : error(GetLastError()) {}
  ~PreserveLastError() { SetLastError(error); }
  PreserveLastError(const PreserveLastError&) = delete;
  PreserveLastError& operator=(const PreserveLastError&) = delete;

 private:
  DWORD error;
};
