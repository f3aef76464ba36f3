// The lookups over a bundle's list: the list itself, built by the backward
// scan (bundle_scan.h) and checked against the bundle's check record
// (check_record.h), the name lookup, and the copy loops that hand out an
// entry's data. No Windows calls: the launcher's BundleReader runs this code
// over its own file, the fuzzers over arbitrary bytes.
//
// A damaged bundle yields an empty list, so every lookup then fails as for a
// missing name: the launcher installs from a complete bundle or not at all.
// Damaged here means what the scan finds damaged and, in a bundle with a
// check record, a record that does not parse or does not name every entry.
// Lookups walk the list from its start, which holds the record stored last,
// and take the first entry whose name equals the requested one byte for byte
// (case-sensitive), so of two entries with the same name the later one wins.
#pragma once

#include <cstdint>
#include <vector>

#include "bundle/format/bundle_scan.h"

namespace bundle {

// Pieces in which entry data moves: constant memory for entries of any size.
constexpr int32_t COPY_PIECE = 4096;

// Where CopyEntry delivers an entry's data, piece by piece.
class PieceSink {
 public:
  virtual ~PieceSink() = default;
  // Takes all size bytes; false when they could not be taken.
  virtual bool Write(const uint8_t* data, int32_t size) = 0;
};

enum class CopyResult {
  Copied,       // every byte was delivered (and, when checked, matched)
  ReadFailed,   // a read of the source failed
  SourceEnded,  // the source ended before the entry was complete
  SinkRefused,  // the sink did not take a piece
  CheckFailed,  // every byte was delivered, but their CRC-32 is not the record's
};

class BundleIndex {
 public:
  // source may be null for a file that could not be opened: every listing is
  // then empty. The source must outlive the index.
  explicit BundleIndex(ByteSource* source) : source(source) {}

  // Rebuilds the list from scratch. True when the bundle was listed down to
  // its start marker and its check record, when it has one, holds; false,
  // with an empty list, otherwise (LastScan() says why).
  bool ListEntries();

  // The named entry, listing first when not yet listed; null when none.
  const BundleEntry* Find(const char* name);

  // The named entry's data size; 0 when there is no such entry.
  int32_t EntrySize(const char* name);

  // Copies the named entry's data into buffer (capacity bytes), reading
  // straight into it, never past the entry's size. False, with nothing
  // copied, when the name is not found or the data does not fit; false too
  // when a read fails or the source ends before the entry is complete.
  // bytesRead, when given, receives the number of bytes copied. The bytes
  // are not checked: the record's CRC is over the decoded content, which is
  // the caller's business (ExpectedCrc).
  bool ReadEntry(const char* name, void* buffer, int32_t capacity, int32_t* bytesRead);

  // Hands the entry's data to sink in pieces of at most COPY_PIECE bytes,
  // through one staging buffer. An entry with an expected CRC is checked
  // over the pieces as they pass; a mismatch shows only after the last
  // piece, so the sink must be able to discard what it took.
  CopyResult CopyEntry(const BundleEntry& entry, PieceSink& sink);

  // True with *crc set when the bundle's check record gives entry (one of
  // Entries(), or a copy of one) a CRC-32; false in a bundle without a
  // record, for the record itself, for an entry not in the list, and for an
  // entry shadowed by a later one of its name: the record's CRC for a name
  // is that of the entry lookups find.
  bool ExpectedCrc(const BundleEntry& entry, uint32_t* crc) const;
  // True when the list was checked against a check record.
  bool Checked() const { return recordChecked; }

  const std::vector<BundleEntry>& Entries() const { return entries; }
  const ScanDiagnosis& LastScan() const { return lastScan; }

 private:
  // Reads the piece of entry's data that follows its first `copied` bytes,
  // at most COPY_PIECE of them, into `into`: the bytes read, or 0 or less
  // when the source ends or fails.
  int32_t ReadPiece(const BundleEntry& entry, int32_t copied, uint8_t* into);
  // After a sound scan: reads the check record, if any, into crcs. False,
  // with lastScan telling why, when it is damaged or cannot be read.
  bool LoadChecks();

  ByteSource* source;
  std::vector<BundleEntry> entries;
  // A byte a flag: vector<bool>'s bit access costs the launcher 1.5 KB more.
  std::vector<uint32_t> crcs;   // entries[i]'s CRC-32, when recordChecked and hasCrc[i]
  std::vector<uint8_t> hasCrc;  // 0 for the record and for shadowed entries
  bool recordChecked = false;
  bool listed = false;
  ScanDiagnosis lastScan;
};

}  // namespace bundle
