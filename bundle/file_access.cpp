#include "bundle/file_access.h"

#include "common/last_error.h"

FileAccess::~FileAccess() { Close(); }

namespace {

DWORD AccessFor(int32_t mode) { return mode == FileAccess::ModeRead ? GENERIC_READ : GENERIC_WRITE; }
DWORD DispositionFor(int32_t mode) { return mode == FileAccess::ModeRead ? OPEN_EXISTING : CREATE_ALWAYS; }

}  // namespace

int32_t FileAccess::Open(const char* path, int32_t mode) {
  Close();
  if (path == nullptr) return 1;
  return Opened(CreateFileA(path, AccessFor(mode), FILE_SHARE_READ, nullptr, DispositionFor(mode),
                            FILE_ATTRIBUTE_NORMAL, nullptr));
}

int32_t FileAccess::Open(const wchar_t* path, int32_t mode) {
  Close();
  if (path == nullptr) return 1;
  return Opened(CreateFileW(path, AccessFor(mode), FILE_SHARE_READ, nullptr, DispositionFor(mode),
                            FILE_ATTRIBUTE_NORMAL, nullptr));
}

int32_t FileAccess::Opened(HANDLE opened) {
  handle = opened;
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
