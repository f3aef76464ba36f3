#include "bundle/format/bundle_index.h"

#include <cstring>

namespace bundle {

bool BundleIndex::ListEntries() {
  if (source_ == nullptr) {
    lastScan_ = ScanDiagnosis();
    lastScan_.status = ScanStatus::NoBundle;
    lastScan_.reason = "file cannot be opened";
  } else {
    lastScan_ = ScanBundle(*source_, entries_);
  }
  if (lastScan_.status != ScanStatus::Ok) {
    entries_.clear();
    entries_.shrink_to_fit();
  }
  listed_ = true;
  return lastScan_.status == ScanStatus::Ok;
}

const BundleEntry* BundleIndex::Find(const char* name) {
  if (!listed_) ListEntries();
  for (const BundleEntry& entry : entries_) {
    if (std::strcmp(entry.name, name) == 0) return &entry;
  }
  return nullptr;
}

int32_t BundleIndex::EntrySize(const char* name) {
  const BundleEntry* entry = Find(name);
  return entry != nullptr ? entry->dataSize : 0;
}

int32_t BundleIndex::ReadPiece(const BundleEntry& entry, int32_t copied, uint8_t* into) {
  const int32_t want = entry.dataSize - copied < COPY_PIECE ? entry.dataSize - copied : COPY_PIECE;
  const int32_t got = source_->ReadAt(uint32_t(entry.dataStart + copied), into, want);
  return got > want ? -1 : got;
}

bool BundleIndex::ReadEntry(const char* name, void* buffer, int32_t capacity, int32_t* bytesRead) {
  int32_t copied = 0;
  const BundleEntry* entry = Find(name);
  const bool fits = entry != nullptr && capacity >= entry->dataSize;
  if (fits) {
    uint8_t* target = static_cast<uint8_t*>(buffer);
    while (copied < entry->dataSize) {
      const int32_t got = ReadPiece(*entry, copied, target + copied);
      if (got <= 0) break;
      copied += got;
    }
  }
  if (bytesRead != nullptr) *bytesRead = copied;
  return fits && copied == entry->dataSize;
}

bool BundleIndex::CopyEntry(const BundleEntry& entry, PieceSink& sink) {
  if (source_ == nullptr) return false;
  uint8_t piece[COPY_PIECE];
  int32_t copied = 0;
  while (copied < entry.dataSize) {
    const int32_t got = ReadPiece(entry, copied, piece);
    if (got <= 0 || !sink.Write(piece, got)) return false;
    copied += got;
  }
  return true;
}

}  // namespace bundle
