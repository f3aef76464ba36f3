#include "bundle/file_access.h"

namespace {

DWORD AccessFor(int32_t mode) { return mode == FileAccess::ModeRead ? GENERIC_READ : GENERIC_WRITE; }
DWORD DispositionFor(int32_t mode) { return mode == FileAccess::ModeRead ? OPEN_EXISTING : CREATE_ALWAYS; }

constexpr FileAccess::Transfer NOT_OPEN{FileAccess::IoStatus::NotOpen, 0, ERROR_SUCCESS};

FileAccess::Transfer Done(DWORD bytes) { return {FileAccess::IoStatus::Done, int32_t(bytes), ERROR_SUCCESS}; }
FileAccess::Transfer Failed() { return {FileAccess::IoStatus::Failed, 0, GetLastError()}; }

}  // namespace

FileAccess::Opening FileAccess::Open(const char* path, int32_t mode) {
  Close();
  if (path == nullptr) return {OpenResult::NoPath, ERROR_SUCCESS};
  return Keep(CreateFileA(path, AccessFor(mode), FILE_SHARE_READ, nullptr, DispositionFor(mode),
                            FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileAccess::Opening FileAccess::Open(const wchar_t* path, int32_t mode) {
  Close();
  if (path == nullptr) return {OpenResult::NoPath, ERROR_SUCCESS};
  return Keep(CreateFileW(path, AccessFor(mode), FILE_SHARE_READ, nullptr, DispositionFor(mode),
                            FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileAccess::Opening FileAccess::Keep(HANDLE opened) {
  if (opened == INVALID_HANDLE_VALUE) return {OpenResult::OpenFailed, GetLastError()};
  handle.Reset(opened);
  return {OpenResult::Opened, ERROR_SUCCESS};
}

FileAccess::Transfer FileAccess::Read(void* buffer, int32_t count) {
  if (!IsOpen()) return NOT_OPEN;
  DWORD done = 0;
  if (!ReadFile(handle.Get(), buffer, DWORD(count), &done, nullptr)) return Failed();
  return Done(done);
}

FileAccess::Transfer FileAccess::Write(const void* buffer, int32_t count) {
  if (!IsOpen()) return NOT_OPEN;
  DWORD done = 0;
  if (!WriteFile(handle.Get(), buffer, DWORD(count), &done, nullptr)) return Failed();
  return Done(done);
}

FileAccess::Transfer FileAccess::Seek(int32_t distance, DWORD origin) {
  if (!IsOpen()) return NOT_OPEN;
  const DWORD position = SetFilePointer(handle.Get(), distance, nullptr, origin);
  // Without a high part the failure value is never a position below 2 GiB.
  if (position == INVALID_SET_FILE_POINTER) return Failed();
  return Done(position);
}

uint32_t FileAccess::Size() {
  if (!IsOpen()) return 0;
  return GetFileSize(handle.Get(), nullptr);
}

int32_t FileAccess::Close() {
  handle.Close();
  return 0;
}
