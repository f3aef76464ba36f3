#include "bundle/bundle_reader.h"

#include "common/module.h"
#include "common/paths.h"

namespace {

// Opens the program's own executable file by its path in UTF-16: its ANSI
// form is a best-fit look-alike when a folder's name holds a character the
// code page lacks, and names another file or none. A path that filled the
// buffer was cut (and is not NUL-terminated on older systems): opening it
// could open another file, so nothing is opened then.
FileAccess::OpenResult OpenOwnFile(FileAccess& file) {
  wchar_t path[PATH_CAPACITY];
  const DWORD length = GetModuleFileNameW(ModuleInstance(), path, PATH_CAPACITY);
  if (length == 0 || length >= PATH_CAPACITY) return FileAccess::NoPath;
  return file.Open(path, FileAccess::ModeRead);
}

// Writes pieces to a file. A short write is continued: Wine may write part of
// a piece and report success when the medium fills, failing only on the next
// call, which then carries the real error (ERROR_DISK_FULL).
class FileSink : public bundle::PieceSink {
 public:
  explicit FileSink(FileAccess& file) : file(file) {}
  bool Write(const uint8_t* data, int32_t size) override {
    for (int32_t written = 0; written < size;) {
      const int32_t wrote = file.Write(data + written, size - written);
      if (wrote <= 0) return false;
      written += wrote;
    }
    return true;
  }

 private:
  FileAccess& file;
};

}  // namespace

BundleReader::BundleReader()
    : openResult(OpenOwnFile(bundleFile)), index(openResult == FileAccess::Opened ? this : nullptr) {}

BundleReader::BundleReader(const char* path)
    : openResult(bundleFile.Open(path, FileAccess::ModeRead)),
      index(openResult == FileAccess::Opened ? this : nullptr) {}

BundleReader::~BundleReader() = default;

uint32_t BundleReader::Size() { return bundleFile.Size(); }

int32_t BundleReader::ReadAt(uint32_t position, void* buffer, int32_t count) {
  if (filePosition != int64_t(position)) {
    filePosition = -1;
    if (bundleFile.Seek(int32_t(position), FILE_BEGIN) != int32_t(position)) return -1;
  }
  const int32_t got = bundleFile.Read(buffer, count);
  filePosition = got >= 0 ? int64_t(position) + got : -1;
  return got;
}

bool BundleReader::CopyEntryToFile(std::string name, std::string destination) {
  const BundleEntry* entry = index.Find(name.c_str());
  if (entry == nullptr) return false;
  if (!destination.empty() && FindLastBackslash(destination.c_str()) == &destination.back()) {
    destination += entry->name;
  }
  // A destination that cannot be created fails here, with CreateFileA's
  // error, also for an entry of no bytes, which would otherwise report a file
  // that does not exist as written. On every later way out the destination's
  // Close keeps GetLastError() as the failed read or write left it.
  FileAccess file;
  if (file.Open(destination.c_str(), FileAccess::ModeWrite) != FileAccess::Opened) return false;
  FileSink sink(file);
  switch (index.CopyEntry(*entry, sink)) {
    case bundle::CopyResult::Copied:
      return true;
    case bundle::CopyResult::SourceEnded:
    case bundle::CopyResult::CheckFailed:
      SetLastError(ERROR_FILE_CORRUPT);
      return false;
    case bundle::CopyResult::ReadFailed:
    case bundle::CopyResult::SinkRefused:
      break;  // the failed call's error stands
  }
  return false;
}
