// FileAccess: the owner of one file handle. Every call reports what it did as
// a value: what failed, and the error of the platform call that failed, taken
// right after that call.
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
  enum class OpenResult : int32_t {
    Opened = 0,
    NoPath = 1,      // the path is null: nothing is opened
    OpenFailed = 2,  // CreateFile failed
  };
  struct Opening {
    OpenResult result;
    DWORD error;  // CreateFile's, for OpenFailed; else ERROR_SUCCESS
    bool Opened() const { return result == OpenResult::Opened; }
  };
  enum class IoStatus : int32_t {
    Done = 0,
    NotOpen = -1,  // no call made
    Failed = -2,   // the platform call failed
  };
  // What Read, Write or Seek did.
  struct Transfer {
    IoStatus status;
    int32_t bytes;  // moved by Read or Write (0 at the end of the file); Seek's new position
    DWORD error;    // the failed call's, for Failed; else ERROR_SUCCESS
    bool Done() const { return status == IoStatus::Done; }
  };

  FileAccess() = default;
  virtual ~FileAccess() = default;
  FileAccess(FileAccess&&) = default;
  FileAccess& operator=(FileAccess&&) = default;

  // Closes any open handle, then opens path: ModeRead reads an existing file,
  // any other mode creates or truncates it for writing. A failed open leaves
  // the object not open.
  Opening Open(const char* path, int32_t mode);
  // The same for a path in UTF-16, which names files that no ANSI path names.
  Opening Open(const wchar_t* path, int32_t mode);
  Transfer Read(void* buffer, int32_t count);
  // One WriteFile: it may take fewer than count bytes.
  Transfer Write(const void* buffer, int32_t count);
  // SetFilePointer with no high part, to a position below 2 GiB.
  Transfer Seek(int32_t distance, DWORD origin);
  // Low 32 bits of the size (INVALID_FILE_SIZE on failure); 0 when not open.
  uint32_t Size();
  // Closes the handle if there is one; always 0. Leaves GetLastError() as it
  // was.
  int32_t Close();

  bool IsOpen() const { return handle.IsValid(); }

 private:
  // Holds what CreateFile returned when it is a file; the result Open reports.
  Opening Keep(HANDLE opened);

  FileHandle handle;
};
