#include "bundle/format/bundle_index.h"

#include <algorithm>
#include <cstring>

#include "bundle/format/check_record.h"
#include "bundle/format/crc32.h"

namespace bundle {

namespace {

bool IsCheckRecord(const BundleEntry& entry) { return std::strcmp(entry.name, CHECK_RECORD_NAME) == 0; }

}  // namespace

bool BundleIndex::ListEntries() {
  crcs.clear();
  hasCrc.clear();
  recordChecked = false;
  if (source == nullptr) {
    lastScan = ScanDiagnosis();
    lastScan.status = ScanStatus::Unreadable;
    lastScan.reason = "file cannot be opened";
  } else {
    lastScan = ScanBundle(*source, entries);
    if (lastScan.status == ScanStatus::Ok) LoadChecks();
  }
  if (lastScan.status != ScanStatus::Ok) {
    entries.clear();
    entries.shrink_to_fit();
    crcs.clear();
    hasCrc.clear();
    recordChecked = false;
  }
  listed = true;
  return lastScan.status == ScanStatus::Ok;
}

bool BundleIndex::LoadChecks() {
  const auto fail = [this](ScanStatus status, const char* reason, int32_t position) {
    lastScan.status = status;
    lastScan.reason = reason;
    lastScan.position = uint32_t(position);
    return false;
  };
  // The record a lookup would find: the one stored last.
  const auto found = std::find_if(entries.begin(), entries.end(), IsCheckRecord);
  if (found == entries.end()) return true;
  const BundleEntry record = *found;
  if (uint32_t(record.dataSize) > MAX_CHECK_RECORD_SIZE) {
    return fail(ScanStatus::Damaged, "check record is longer than any this reader takes", record.dataStart);
  }
  std::vector<uint8_t> data(size_t(record.dataSize));
  for (int32_t copied = 0; copied < record.dataSize;) {
    const int32_t got = ReadPiece(record, copied, data.data() + copied);
    if (got < 0) return fail(ScanStatus::Unreadable, "read failed", record.dataStart + copied);
    if (got == 0) return fail(ScanStatus::Damaged, "file ends inside the check record", record.dataStart + copied);
    copied += got;
  }
  const CheckRecord parsed = ParseCheckRecord(data.data(), data.size());
  if (parsed.status == CheckRecordStatus::OtherVersion) return true;
  if (parsed.status != CheckRecordStatus::Ok) return fail(ScanStatus::Damaged, parsed.reason, record.dataStart);

  // Every entry must be named: a binary search over the items, which the
  // parser hands back sorted by name. A name's CRC is that of the entry a
  // lookup finds, the first of the name in the list; an entry it shadows
  // is named too, but has no CRC of its own.
  const auto less = [](const CheckedName& item, const char* name) { return std::strcmp(item.name, name) < 0; };
  crcs.assign(entries.size(), 0);
  hasCrc.assign(entries.size(), 0);
  std::vector<uint8_t> taken(parsed.items.size(), 0);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (IsCheckRecord(entries[i])) continue;
    const char* name = entries[i].name;
    const auto at = std::lower_bound(parsed.items.begin(), parsed.items.end(), name, less);
    if (at == parsed.items.end() || std::strcmp(at->name, name) != 0) {
      return fail(ScanStatus::Damaged, "an entry is not named in the check record", entries[i].dataEnd);
    }
    const size_t item = size_t(at - parsed.items.begin());
    if (taken[item]) continue;
    taken[item] = 1;
    crcs[i] = at->crc;
    hasCrc[i] = 1;
  }
  recordChecked = true;
  return true;
}

const BundleEntry* BundleIndex::Find(const char* name) {
  if (!listed) ListEntries();
  for (const BundleEntry& entry : entries) {
    if (std::strcmp(entry.name, name) == 0) return &entry;
  }
  return nullptr;
}

int32_t BundleIndex::EntrySize(const char* name) {
  const BundleEntry* entry = Find(name);
  return entry != nullptr ? entry->dataSize : 0;
}

// An entry is known by where its data starts: records follow each other, so
// no two share it, and the list holds them from the last to the first.
bool BundleIndex::ExpectedCrc(const BundleEntry& entry, uint32_t* crc) const {
  if (!recordChecked || IsCheckRecord(entry)) return false;
  const auto at = std::lower_bound(entries.begin(), entries.end(), entry.dataStart,
                                   [](const BundleEntry& e, int32_t start) { return e.dataStart > start; });
  if (at == entries.end() || at->dataStart != entry.dataStart || at->dataSize != entry.dataSize) return false;
  const size_t i = size_t(at - entries.begin());
  if (!hasCrc[i]) return false;
  *crc = crcs[i];
  return true;
}

int32_t BundleIndex::ReadPiece(const BundleEntry& entry, int32_t copied, uint8_t* into) {
  const int32_t want = entry.dataSize - copied < COPY_PIECE ? entry.dataSize - copied : COPY_PIECE;
  const int32_t got = source->ReadAt(uint32_t(entry.dataStart + copied), into, want);
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

CopyResult BundleIndex::CopyEntry(const BundleEntry& entry, PieceSink& sink) {
  if (source == nullptr) return CopyResult::ReadFailed;
  uint32_t expected = 0;
  const bool checked = ExpectedCrc(entry, &expected);
  uint8_t piece[COPY_PIECE];
  uint32_t crc = 0;
  int32_t copied = 0;
  while (copied < entry.dataSize) {
    const int32_t got = ReadPiece(entry, copied, piece);
    if (got < 0) return CopyResult::ReadFailed;
    if (got == 0) return CopyResult::SourceEnded;
    if (!sink.Write(piece, got)) return CopyResult::SinkRefused;
    if (checked) crc = Crc32(piece, size_t(got), crc);
    copied += got;
  }
  return checked && crc != expected ? CopyResult::CheckFailed : CopyResult::Copied;
}

}  // namespace bundle
