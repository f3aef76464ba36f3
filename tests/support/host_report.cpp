#include "host_report.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace testing_support {

namespace {
FILE* report = nullptr;
CRITICAL_SECTION noting;
// A failed assert in a host (a GUI program) prints and aborts rather than
// opening a box that nobody answers: the test sees the host end at once.
const int assertsReportTo = _set_error_mode(_OUT_TO_STDERR);
}  // namespace

bool OpenHostReport(const char* path) {
  report = fopen(path, "wb");
  if (report == nullptr) return false;
  InitializeCriticalSection(&noting);
  return true;
}

void Note(const char* format, ...) {
  EnterCriticalSection(&noting);
  va_list arguments;
  va_start(arguments, format);
  vfprintf(report, format, arguments);
  va_end(arguments);
  fputc('\n', report);
  fflush(report);
  LeaveCriticalSection(&noting);
}

void CloseHostReport() {
  EnterCriticalSection(&noting);
  fclose(report);
  report = nullptr;
  LeaveCriticalSection(&noting);
}

}  // namespace testing_support
