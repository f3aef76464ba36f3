#include "bundle/bundle_reader.h"

#include <cstring>
#include <memory>

#include "common/module.h"
#include "common/paths.h"

namespace {

// Opens the program's own executable file by its path in UTF-16: its ANSI
// form is a best-fit look-alike when a folder's name holds a character the
// code page lacks, and names another file or none. A path that filled the
// buffer was cut (and is not NUL-terminated on older systems): opening it
// could open another file, so nothing is opened then.
FileAccess::Opening OpenOwnFile(FileAccess& file) {
  wchar_t path[PATH_CAPACITY];
  const DWORD length = GetModuleFileNameW(ModuleInstance(), path, PATH_CAPACITY);
  if (length == 0) return {FileAccess::OpenResult::NoPath, GetLastError()};
  if (length >= PATH_CAPACITY) return {FileAccess::OpenResult::NoPath, ERROR_FILENAME_EXCED_RANGE};
  return file.Open(path, FileAccess::ModeRead);
}

// Writes pieces to a file. A short write is continued: Wine may write part of
// a piece and report success when the medium fills, failing only on the next
// call, which then carries the real error (ERROR_DISK_FULL). A refused
// piece leaves the failed write's error in `error`.
class FileSink : public bundle::PieceSink {
 public:
  explicit FileSink(FileAccess& file) : file(file) {}
  bool Write(const uint8_t* data, int32_t size) override {
    for (int32_t written = 0; written < size;) {
      const FileAccess::Transfer wrote = file.Write(data + written, size - written);
      if (!wrote.Done() || wrote.bytes == 0) {
        // A refused write gives its error; one that took nothing and said
        // nothing, or one that names no error, must still end the copy.
        error = !wrote.Done() && wrote.error != ERROR_SUCCESS ? wrote.error : ERROR_WRITE_FAULT;
        return false;
      }
      written += wrote.bytes;
    }
    return true;
  }

  DWORD error = ERROR_SUCCESS;

 private:
  FileAccess& file;
};

}  // namespace

BundleReader::BundleReader() : opening(OpenOwnFile(bundleFile)), index(opening.Opened() ? this : nullptr) {}

BundleReader::BundleReader(const char* path)
    : opening(bundleFile.Open(path, FileAccess::ModeRead)), index(opening.Opened() ? this : nullptr) {}

BundleReader::~BundleReader() = default;

uint32_t BundleReader::Size() { return bundleFile.Size(); }

int32_t BundleReader::ReadAt(uint32_t position, void* buffer, int32_t count) {
  if (filePosition != int64_t(position)) {
    filePosition = -1;
    const FileAccess::Transfer moved = bundleFile.Seek(int32_t(position), FILE_BEGIN);
    if (!moved.Done() || moved.bytes != int32_t(position)) {
      readError = moved.Done() ? ERROR_SEEK : moved.error;
      return -1;
    }
  }
  const FileAccess::Transfer got = bundleFile.Read(buffer, count);
  if (!got.Done()) {
    readError = got.error;
    return -1;
  }
  filePosition = int64_t(position) + got.bytes;
  return got.bytes;
}

const BundleEntry* BundleReader::Lookup(const char* name, ReaderResult* fault) {
  const BundleEntry* entry = index.Find(name);
  if (entry != nullptr) return entry;
  if (!opening.Opened()) {
    *fault = {ReaderFault::Unreadable, opening.error};
  } else if (index.LastScan().status == bundle::ScanStatus::Ok) {
    *fault = {ReaderFault::Missing, ERROR_SUCCESS};
  } else if (index.LastScan().status == bundle::ScanStatus::Unreadable) {
    *fault = {ReaderFault::Unreadable, readError};
  } else {
    *fault = {ReaderFault::Damaged, ERROR_SUCCESS};
  }
  return nullptr;
}

ReaderResult BundleReader::ReadEntry(const char* name, void* buffer, int32_t capacity, int32_t* bytesRead) {
  if (bytesRead != nullptr) *bytesRead = 0;
  ReaderResult result;
  const BundleEntry* entry = Lookup(name, &result);
  if (entry == nullptr) return result;
  if (capacity < entry->dataSize) return {ReaderFault::NoRoom, ERROR_SUCCESS};
  readError = ERROR_SUCCESS;
  if (index.ReadEntry(name, buffer, capacity, bytesRead)) return result;
  // A read that failed left its error; else the file ended early.
  if (readError != ERROR_SUCCESS) return {ReaderFault::ReadFailed, readError};
  return {ReaderFault::Damaged, ERROR_SUCCESS};
}

ReaderResult BundleReader::CopyEntryToFile(const char* name, const char* destination) {
  ReaderResult result;
  const BundleEntry* entry = Lookup(name, &result);
  if (entry == nullptr) return result;
  // A folder's path and the entry's name, joined on the heap: no length of
  // either is refused here that the file system would take.
  std::unique_ptr<char[]> joined;
  const size_t length = std::strlen(destination);
  if (length > 0 && FindLastBackslash(destination) == destination + length - 1) {
    const size_t nameSize = std::strlen(entry->name) + 1;
    joined.reset(new char[length + nameSize]);
    std::memcpy(joined.get(), destination, length);
    std::memcpy(joined.get() + length, entry->name, nameSize);
    destination = joined.get();
  }
  // A destination that cannot be created fails here, also for an entry of no
  // bytes, which would otherwise report a file that does not exist as written.
  FileAccess file;
  const FileAccess::Opening created = file.Open(destination, FileAccess::ModeWrite);
  if (!created.Opened()) return {ReaderFault::CreateFailed, created.error};
  FileSink sink(file);
  readError = ERROR_SUCCESS;
  switch (index.CopyEntry(*entry, sink)) {
    case bundle::CopyResult::Copied: return result;
    case bundle::CopyResult::SourceEnded:
    case bundle::CopyResult::CheckFailed: return {ReaderFault::Damaged, ERROR_SUCCESS};
    case bundle::CopyResult::ReadFailed: return {ReaderFault::ReadFailed, readError};
    case bundle::CopyResult::SinkRefused: return {ReaderFault::WriteFailed, sink.error};
  }
  return {ReaderFault::ReadFailed, readError};
}
