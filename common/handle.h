// Owners of kernel handles. Each handle has one owner that closes it in its
// destructor; owners cannot be copied, only moved, and each kind spells out
// the platform's own "no handle" value: null for events, mutexes, threads and
// processes, INVALID_HANDLE_VALUE for files (what CreateFile returns on
// failure). An owner never holds a handle that names nothing: a failed
// creation stores "no handle". Closing leaves GetLastError() as the caller
// had it, so a caller can report the error of the call that failed after
// releasing what it held (the disk-full report depends on it).
#pragma once

#include <windows.h>

#include "common/last_error.h"

template <typename Kind>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  // Takes what a creating call returned, failed or not.
  explicit UniqueHandle(HANDLE handle) : handle(handle) {}
  ~UniqueHandle() { Close(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  static HANDLE None() { return Kind::NONE(); }
  bool IsValid() const { return handle != Kind::NONE(); }
  HANDLE Get() const { return handle; }

  // Closes what is held, then holds handle.
  void Reset(HANDLE replacement) {
    Close();
    handle = replacement;
  }
  // Gives the handle up without closing it.
  HANDLE Release() {
    const HANDLE held = handle;
    handle = Kind::NONE();
    return held;
  }
  void Close() {
    if (!IsValid()) return;
    PreserveLastError keep;
    CloseHandle(handle);
    handle = Kind::NONE();
  }

 private:
  HANDLE handle = Kind::NONE();
};

// Events, mutexes, threads, processes: null when there is none.
struct KernelObjectKind {
  static HANDLE NONE() { return nullptr; }
};
// Files and folders opened with CreateFile: INVALID_HANDLE_VALUE when there is none.
struct FileKind {
  static HANDLE NONE() { return INVALID_HANDLE_VALUE; }
};

using KernelHandle = UniqueHandle<KernelObjectKind>;
using FileHandle = UniqueHandle<FileKind>;
