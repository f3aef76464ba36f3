#include "bundle/bundle_reader.h"

#include <cstring>

#include "launcher/launcher.h"
#include "launcher/paths.h"

namespace {

// Pieces in which entry data moves: constant memory for entries of any size.
constexpr int32_t COPY_PIECE = 4096;

}  // namespace

BundleReader::BundleReader() {
  char path[PATH_CAPACITY];
  const DWORD length = GetModuleFileNameA(ModuleInstance(), path, sizeof path);
  // A path that filled the buffer was cut (and is not NUL-terminated on older
  // systems): opening it could open another file, so open nothing.
  if (length > 0 && length < sizeof path) openResult = bundleFile.Open(path, FileAccess::ModeRead);
}

BundleReader::BundleReader(const char* path) { openResult = bundleFile.Open(path, FileAccess::ModeRead); }

BundleReader::~BundleReader() = default;

uint32_t BundleReader::Size() { return bundleFile.Size(); }

int32_t BundleReader::ReadAt(uint32_t position, void* buffer, int32_t count) {
  if (bundleFile.Seek(int32_t(position), FILE_BEGIN) != int32_t(position)) return -1;
  return bundleFile.Read(buffer, count);
}

bool BundleReader::ListEntries() {
  if (openResult != 0) {
    entries.clear();
    entries.shrink_to_fit();
    lastScan = bundle::ScanDiagnosis();
    lastScan.status = bundle::ScanStatus::NoBundle;
    lastScan.reason = "file cannot be opened";
  } else {
    lastScan = bundle::ScanBundle(*this, entries);
    if (lastScan.status != bundle::ScanStatus::Ok) {
      entries.clear();
      entries.shrink_to_fit();
    }
  }
  listed = true;
  return lastScan.status == bundle::ScanStatus::Ok;
}

const BundleEntry* BundleReader::Find(const std::string& name) {
  if (!listed) ListEntries();
  for (const BundleEntry& entry : entries) {
    if (std::strcmp(entry.name, name.c_str()) == 0) return &entry;
  }
  return nullptr;
}

int32_t BundleReader::EntrySize(std::string name) {
  const BundleEntry* entry = Find(name);
  return entry != nullptr ? entry->dataSize : 0;
}

bool BundleReader::ReadEntry(std::string name, void* buffer, int32_t capacity, int32_t* bytesRead) {
  int32_t copied = 0;
  bool complete = false;
  const BundleEntry* entry = Find(name);
  if (entry != nullptr && capacity >= entry->dataSize &&
      bundleFile.Seek(entry->dataStart, FILE_BEGIN) == entry->dataStart) {
    uint8_t* target = static_cast<uint8_t*>(buffer);
    // Reads go straight into the caller's buffer, never more than the entry
    // has left, so nothing past dataSize is touched.
    while (copied < entry->dataSize) {
      const int32_t want = entry->dataSize - copied < COPY_PIECE ? entry->dataSize - copied : COPY_PIECE;
      const int32_t got = bundleFile.Read(target + copied, want);
      if (got <= 0) break;
      copied += got;
    }
    complete = copied == entry->dataSize;
  }
  if (bytesRead != nullptr) *bytesRead = copied;
  return complete;
}

bool BundleReader::CopyEntryToFile(std::string name, std::string destination) {
  const BundleEntry* entry = Find(name);
  if (entry == nullptr) return false;
  if (!destination.empty() && FindLastBackslash(destination.c_str()) == &destination.back()) {
    destination += entry->name;
  }

  // A destination that cannot be created fails here, with CreateFileA's
  // error, also for an entry of no bytes, which would otherwise report a file
  // that does not exist as written.
  FileAccess file;
  if (file.Open(destination.c_str(), FileAccess::ModeWrite) != 0) return false;
  if (bundleFile.Seek(entry->dataStart, FILE_BEGIN) != entry->dataStart) return false;

  uint8_t piece[COPY_PIECE];
  int32_t copied = 0;
  while (copied < entry->dataSize) {
    const int32_t want = entry->dataSize - copied < COPY_PIECE ? entry->dataSize - copied : COPY_PIECE;
    const int32_t got = bundleFile.Read(piece, want);
    // On every way out the destination's Close keeps GetLastError() as the
    // failed read or write left it.
    if (got <= 0) return false;
    // A short write is continued: Wine may write part of a piece and report
    // success when the medium fills, failing only on the next call, which
    // then carries the real error (ERROR_DISK_FULL).
    for (int32_t written = 0; written < got;) {
      const int32_t wrote = file.Write(piece + written, got - written);
      if (wrote <= 0) return false;
      written += wrote;
    }
    copied += got;
  }
  return true;
}
