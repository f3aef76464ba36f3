#include "bundle/file_access.h"

#include "ui/last_error.h"

FileAccess::~FileAccess() { Close(); }

int32_t FileAccess::Open(const char* path, int32_t mode) {
  Close();
  if (path == nullptr) return 1;
  const bool reading = mode == ModeRead;
  handle = CreateFileA(path, reading ? GENERIC_READ : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                       reading ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle == INVALID_HANDLE_VALUE ? 2 : 0;
}

int32_t FileAccess::Read(void* buffer, int32_t count) {
  if (handle == nullptr) return -1;
  DWORD done = 0;
  if (!ReadFile(handle, buffer, DWORD(count), &done, nullptr)) return -2;
  return int32_t(done);
}

int32_t FileAccess::Write(const void* buffer, int32_t count) {
  if (handle == nullptr) return -1;
  DWORD done = 0;
  if (!WriteFile(handle, buffer, DWORD(count), &done, nullptr)) return -1;
  return int32_t(done);
}

int32_t FileAccess::Seek(int32_t distance, DWORD origin) {
  if (handle == nullptr) return -1;
  return int32_t(SetFilePointer(handle, distance, nullptr, origin));
}

uint32_t FileAccess::Size() {
  if (handle == nullptr) return 0;
  return GetFileSize(handle, nullptr);
}

int32_t FileAccess::Close() {
  PreserveLastError keep;
  // A failed open left INVALID_HANDLE_VALUE, which names no handle of ours
  // (it is the current-process pseudo handle): forget it without a call.
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  handle = nullptr;
  return 0;
}
