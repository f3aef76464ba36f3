// FileAccess: the owner of one file handle, with integer results.
#pragma once

#include <windows.h>

#include <cstdint>

class FileAccess {
 public:
  enum Mode : int32_t {
    ModeWrite = 0,  // created, or truncated if it exists; others may read it
    ModeRead = 1,   // must exist; others may read it too
  };

  FileAccess() = default;
  virtual ~FileAccess();
  FileAccess(const FileAccess&) = delete;
  FileAccess& operator=(const FileAccess&) = delete;

  // Closes any open handle, then opens path: ModeRead reads an existing file,
  // any other mode creates or truncates it for writing. 0 when open, 2 when
  // CreateFileA failed, 1 when path is null (nothing is opened). A failed open
  // keeps the invalid handle, so later calls reach the platform and fail there
  // until Close or the next Open.
  int32_t Open(const char* path, int32_t mode);
  // The same for a path in UTF-16, which names files that no ANSI path names.
  int32_t Open(const wchar_t* path, int32_t mode);
  // Bytes read (0 at the end of the file), -1 when not open, -2 on failure.
  int32_t Read(void* buffer, int32_t count);
  // Bytes written, or -1 when not open or when WriteFile fails (its error
  // stays in GetLastError()).
  int32_t Write(const void* buffer, int32_t count);
  // SetFilePointer with no high part: the new position or
  // INVALID_SET_FILE_POINTER as a signed value; -1 when not open.
  int32_t Seek(int32_t distance, DWORD origin);
  // Low 32 bits of the size (INVALID_FILE_SIZE on failure); 0 when not open.
  uint32_t Size();
  // Closes the handle if there is one; always 0. Leaves GetLastError() as it
  // was, so that a caller can report the error of a failed write after
  // closing the file.
  int32_t Close();

  bool IsOpen() const { return handle != nullptr; }

 private:
  // Keeps what CreateFile returned; the result Open reports for it.
  int32_t Opened(HANDLE opened);

  HANDLE handle = nullptr;
};
