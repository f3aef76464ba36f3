// FileAccess: the owner of one file handle, with integer results.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/handle.h"

class FileAccess {
 public:
  enum Mode : int32_t {
    ModeWrite = 0,  // created, or truncated if it exists; others may read it
    ModeRead = 1,   // must exist; others may read it too
  };
  // Results of Open.
  enum OpenResult : int32_t {
    Opened = 0,
    NoPath = 1,      // the path is null: nothing is opened
    OpenFailed = 2,  // CreateFile failed; its error stays in GetLastError()
  };
  // Results of Read, Write and Seek besides a count or position.
  static constexpr int32_t NotOpen = -1;
  static constexpr int32_t ReadFailed = -2;
  static constexpr int32_t WriteFailed = -1;  // as NotOpen: callers only need "no bytes"

  FileAccess() = default;
  virtual ~FileAccess() = default;
  FileAccess(FileAccess&&) = default;
  FileAccess& operator=(FileAccess&&) = default;

  // Closes any open handle, then opens path: ModeRead reads an existing file,
  // any other mode creates or truncates it for writing. A failed open leaves
  // the object not open.
  OpenResult Open(const char* path, int32_t mode);
  // The same for a path in UTF-16, which names files that no ANSI path names.
  OpenResult Open(const wchar_t* path, int32_t mode);
  // Bytes read (0 at the end of the file), NotOpen or ReadFailed.
  int32_t Read(void* buffer, int32_t count);
  // Bytes written, NotOpen, or WriteFailed (WriteFile's error stays in
  // GetLastError()).
  int32_t Write(const void* buffer, int32_t count);
  // SetFilePointer with no high part: the new position or
  // INVALID_SET_FILE_POINTER as a signed value; NotOpen when not open.
  int32_t Seek(int32_t distance, DWORD origin);
  // Low 32 bits of the size (INVALID_FILE_SIZE on failure); 0 when not open.
  uint32_t Size();
  // Closes the handle if there is one; always 0. Leaves GetLastError() as it
  // was, so that a caller can report the error of a failed write after
  // closing the file.
  int32_t Close();

  bool IsOpen() const { return handle.IsValid(); }

 private:
  // Holds what CreateFile returned when it is a file; the result Open reports.
  OpenResult Keep(HANDLE opened);

  FileHandle handle;
};
