// The backward scan that lists a bundle's entries, over any source of bytes:
// the launcher runs it over its own file, the host tools over a file or a
// buffer, the fuzzers over arbitrary input.
//
// A well-formed bundle is read record trailer by record trailer from its end,
// which is the end of the file or, in a file signed after packing, the start
// of the certificate table, less the zero padding that signing puts before
// the table and that removing the signature leaves (signed_file.h): the last four
// bytes hold an entry marker (or the start marker,
// for a bundle without entries); a record's trailer gives its name length and
// data size; four bytes before its data sits the previous record's entry
// marker or the start marker. The scan checks every length it reads before it
// uses it: it reads nothing outside the source, never more than
// MAX_NAME_LENGTH name bytes, and at most one record per 13 bytes of source,
// so it ends in time proportional to the number of records. It never reads an
// entry's data.
#pragma once

#include <cstdint>
#include <vector>

#include "bundle/format/bundle_layout.h"

namespace bundle {

// One entry as the scan found it. A plain value, copied whole.
struct BundleEntry {
  int32_t dataStart;             // file position of the first data byte
  int32_t dataEnd;               // just past the data, where the name begins
  int32_t dataSize;              // dataEnd - dataStart, never negative
  char name[MAX_NAME_LENGTH];    // the stored name bytes, NUL included; the
                                 // rest of the array is zero
};

// Random-access bytes of a bundle file.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Total size in bytes. The scan reads nothing at or past it.
  virtual uint32_t Size() = 0;
  // Reads count bytes at position into buffer. Returns the number of bytes
  // read (fewer only at the end of the source) or a negative value on failure.
  // The scan asks only for ranges that lie inside [0, Size()).
  virtual int32_t ReadAt(uint32_t position, void* buffer, int32_t count) = 0;
};

// True when all count bytes at position were read.
inline bool ReadExactly(ByteSource& source, uint32_t position, void* buffer, int32_t count) {
  return source.ReadAt(position, buffer, count) == count;
}

// A ByteSource over bytes in memory (host tools, tests, fuzzers).
class MemorySource : public ByteSource {
 public:
  MemorySource(const void* data, uint32_t size) : bytes(static_cast<const uint8_t*>(data)), length(size) {}
  uint32_t Size() override { return length; }
  int32_t ReadAt(uint32_t position, void* buffer, int32_t count) override;

 private:
  const uint8_t* bytes;
  uint32_t length;
};

enum class ScanStatus {
  Ok,          // every record down to the start marker was read
  NoBundle,    // the source is too short, or the bundle's last four bytes are no marker
  Damaged,     // a record trailer or the place of a marker does not fit
  Unreadable,  // a read failed, or there is no source: nothing is known about the bundle
};

// How a scan ended. reason is a short English phrase (static storage, empty
// when Ok) and position the file position where the problem was found, for a
// tool to print. The signature fields say where the scan started; they are
// set whatever the status. The launcher only looks at status.
struct ScanDiagnosis {
  ScanStatus status = ScanStatus::Ok;
  const char* reason = "";
  uint32_t position = 0;
  uint32_t bundleEnd = 0;       // where the last record ends; up to 7 zero
                                // bytes may follow it, signed or not
  bool signature = false;       // a certificate table runs to the end of the file
  uint32_t signatureStart = 0;  // its start, when signature
};

// Replaces entries with the bundle's entries in scan order: the record stored
// last comes first. On Ok the list is complete. Otherwise it holds the records
// read before the problem (each of them consistent in itself); a caller that
// must not use a damaged bundle discards them.
ScanDiagnosis ScanBundle(ByteSource& source, std::vector<BundleEntry>& entries);

}  // namespace bundle
