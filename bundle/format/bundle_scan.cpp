#include "bundle/format/bundle_scan.h"

#include <cassert>
#include <cstring>

#include "bundle/format/signed_file.h"

namespace bundle {

static_assert(sizeof(BundleEntry) == 3 * sizeof(int32_t) + MAX_NAME_LENGTH,
              "BundleEntry is a plain record without padding");

int32_t MemorySource::ReadAt(uint32_t position, void* buffer, int32_t count) {
  if (count < 0) return -1;
  if (position >= length) return 0;
  uint32_t available = length - position;
  uint32_t n = uint32_t(count) < available ? uint32_t(count) : available;
  std::memcpy(buffer, bytes + position, n);
  return int32_t(n);
}

namespace {

// Sets the outcome on what is known of the file's end.
ScanDiagnosis Problem(ScanDiagnosis d, ScanStatus status, const char* reason, int64_t position) {
  d.status = status;
  d.reason = reason;
  d.position = position < 0 ? 0 : uint32_t(position);
  return d;
}

}  // namespace

// Invariant of the loop: marker is the position where the layout puts a
// marker (the bundle's end minus four, then four bytes before each data block
// found), and 0 <= marker <= end - 4. It falls by at least one record's
// minimum length (13 bytes) per round, so the loop ends.
ScanDiagnosis ScanBundle(ByteSource& source, std::vector<BundleEntry>& entries) {
  entries.clear();
  entries.shrink_to_fit();

  ScanDiagnosis known;
  const uint32_t size = source.Size();
  known.bundleEnd = size;
  if (size < 4) return Problem(known, ScanStatus::NoBundle, "file is shorter than a marker", 0);
  if (size > MAX_FILE_SIZE) return Problem(known, ScanStatus::NoBundle, "file is 2 GiB or larger", 0);
  const BundleEnd end = LocateBundleEnd(source, size);
  known.bundleEnd = end.end;
  known.signature = end.signature;
  known.signatureStart = end.signatureStart;
  if (end.readFailed) return Problem(known, ScanStatus::Unreadable, "read failed", 0);
  if (end.end < 4) return Problem(known, ScanStatus::NoBundle, "no room for a marker before the signature", 0);

  int64_t marker = int64_t(end.end) - 4;
  for (;;) {
    assert(marker >= 0 && marker <= int64_t(end.end) - 4);
    // The marker and, when there is room, the two integers before it.
    uint8_t trailer[RECORD_TRAILER_SIZE];
    const bool roomForTrailer = marker >= 8;
    if (roomForTrailer ? !ReadExactly(source, uint32_t(marker - 8), trailer, RECORD_TRAILER_SIZE)
                       : !ReadExactly(source, uint32_t(marker), trailer + 8, 4)) {
      return Problem(known, ScanStatus::Unreadable, "read failed", marker);
    }
    const int32_t value = int32_t(LoadLe32(trailer + 8));
    if (value == START_MARKER) return known;
    if (value != ENTRY_MARKER) {
      if (entries.empty()) {
        return Problem(known, ScanStatus::NoBundle,
                       end.signature ? "no entry marker or start marker before the signature"
                                     : "no entry marker or start marker at the end of the file",
                       marker);
      }
      return Problem(known, ScanStatus::Damaged, "no marker before the data of the entry", marker);
    }
    if (!roomForTrailer) {
      return Problem(known, ScanStatus::Damaged, "entry marker too near the start of the file", marker);
    }

    const int64_t nameLength = int32_t(LoadLe32(trailer));
    const int64_t dataSize = int32_t(LoadLe32(trailer + 4));
    if (nameLength < 1 || nameLength > MAX_NAME_LENGTH) {
      return Problem(known, ScanStatus::Damaged, "name length out of range", marker - 8);
    }
    const int64_t nameStart = marker - 8 - nameLength;
    // Four bytes for the start marker at least must precede any data.
    if (nameStart < 4) {
      return Problem(known, ScanStatus::Damaged, "name reaches before the start marker", marker - 8);
    }
    const int64_t dataStart = nameStart - dataSize;
    if (dataSize < 0 || dataStart < 4) {
      return Problem(known, ScanStatus::Damaged, "data size reaches before the start marker", marker - 4);
    }
    if (entries.size() >= size_t(MAX_ENTRY_COUNT)) {
      return Problem(known, ScanStatus::Damaged, "too many entries", marker);
    }

    BundleEntry entry;
    std::memset(&entry, 0, sizeof entry);
    if (!ReadExactly(source, uint32_t(nameStart), entry.name, int32_t(nameLength))) {
      return Problem(known, ScanStatus::Unreadable, "read failed", nameStart);
    }
    if (entry.name[nameLength - 1] != '\0') {
      return Problem(known, ScanStatus::Damaged, "name is not NUL-terminated", nameStart);
    }
    entry.dataStart = int32_t(dataStart);
    entry.dataEnd = int32_t(nameStart);
    entry.dataSize = int32_t(dataSize);
    entries.push_back(entry);
    assert(dataStart - 4 <= marker - 13);
    marker = dataStart - 4;
  }
}

}  // namespace bundle
