#include "bundle/file_access.h"

namespace {

DWORD AccessFor(int32_t mode) { return mode == FileAccess::ModeRead ? GENERIC_READ : GENERIC_WRITE; }
DWORD DispositionFor(int32_t mode) { return mode == FileAccess::ModeRead ? OPEN_EXISTING : CREATE_ALWAYS; }

}  // namespace

FileAccess::OpenResult FileAccess::Open(const char* path, int32_t mode) {
  Close();
  if (path == nullptr) return NoPath;
  return Keep(CreateFileA(path, AccessFor(mode), FILE_SHARE_READ, nullptr, DispositionFor(mode),
                            FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileAccess::OpenResult FileAccess::Open(const wchar_t* path, int32_t mode) {
  Close();
  if (path == nullptr) return NoPath;
  return Keep(CreateFileW(path, AccessFor(mode), FILE_SHARE_READ, nullptr, DispositionFor(mode),
                            FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileAccess::OpenResult FileAccess::Keep(HANDLE opened) {
  handle.Reset(opened);
  return handle.IsValid() ? Opened : OpenFailed;
}

int32_t FileAccess::Read(void* buffer, int32_t count) {
  if (!IsOpen()) return NotOpen;
  DWORD done = 0;
  if (!ReadFile(handle.Get(), buffer, DWORD(count), &done, nullptr)) return ReadFailed;
  return int32_t(done);
}

int32_t FileAccess::Write(const void* buffer, int32_t count) {
  if (!IsOpen()) return NotOpen;
  DWORD done = 0;
  if (!WriteFile(handle.Get(), buffer, DWORD(count), &done, nullptr)) return WriteFailed;
  return int32_t(done);
}

int32_t FileAccess::Seek(int32_t distance, DWORD origin) {
  if (!IsOpen()) return NotOpen;
  return int32_t(SetFilePointer(handle.Get(), distance, nullptr, origin));
}

uint32_t FileAccess::Size() {
  if (!IsOpen()) return 0;
  return GetFileSize(handle.Get(), nullptr);
}

int32_t FileAccess::Close() {
  handle.Close();
  return 0;
}
