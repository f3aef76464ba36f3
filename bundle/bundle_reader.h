// BundleReader: lists the bundle appended to a file and hands out its
// entries by name. It never interprets an entry's content.
//
// A reader opens its file at construction and keeps it open (shared for
// reading) until it is destroyed. The list and the lookups are those of
// bundle/format/bundle_index.h: the first lookup, or an explicit
// ListEntries, lists the bundle by the backward scan, which reads only
// record trailers and names; a bundle that cannot be opened, has no entry
// marker at its end, or is damaged anywhere down to its start marker yields
// an empty list, so every lookup then fails as for a missing name.
//
// In a bundle with a check record (bundle/format/check_record.h) the
// streamed copy checks what it writes; the in-memory route checks the
// decoded bytes itself, with ExpectedCrc.
//
// A reader belongs to one thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "bundle/file_access.h"
#include "bundle/format/bundle_index.h"
#include "common/fault_result.h"

using bundle::BundleEntry;

// What became of a read or copy of one entry.
enum class ReaderFault {
  None,
  Unreadable,    // the file could not be opened, or a read failed while listing
  Damaged,       // no sound bundle; or the entry's data ends early or fails its check
  Missing,       // the bundle, sound in itself, lacks the entry
  NoRoom,        // the entry does not fit the caller's buffer; nothing is copied
  CreateFailed,  // the destination file could not be created
  ReadFailed,    // a read of the entry's data failed
  WriteFailed,   // a write of the destination failed
};

// The error is ERROR_SUCCESS where no platform call failed (Damaged,
// Missing, NoRoom).
using ReaderResult = FaultResult<ReaderFault>;

class BundleReader : private bundle::ByteSource {
 public:
  // Reads the program's own executable file.
  BundleReader();
  // Reads the file at path (tools and tests).
  explicit BundleReader(const char* path);
  ~BundleReader() override;
  BundleReader(const BundleReader&) = delete;
  BundleReader& operator=(const BundleReader&) = delete;

  // Rebuilds the list from scratch. True when the bundle was listed down to
  // its start marker; false, with an empty list, when the file cannot be
  // opened or holds no sound bundle (LastScan() tells why).
  bool ListEntries() { return index.ListEntries(); }

  // The named entry's data size; 0 when there is no such entry.
  int32_t EntrySize(const char* name) { return index.EntrySize(name); }

  // Copies the named entry's data into buffer (capacity bytes). Fails with
  // Unreadable, Damaged or Missing when the entry cannot be found, NoRoom
  // when it does not fit (nothing is copied), ReadFailed when a read fails
  // and Damaged when the file ends before the entry is complete. bytesRead,
  // when given, receives the number of bytes copied.
  ReaderResult ReadEntry(const char* name, void* buffer, int32_t capacity, int32_t* bytesRead = nullptr);

  // Writes the named entry's data into a file, created or truncated. A
  // destination whose last character is a backslash is a folder and the
  // entry's name is appended to it; any other is the file's full path. Fails
  // as ReadEntry when the entry cannot be found or read, with CreateFailed
  // when the file cannot be created, WriteFailed when a write fails
  // (ERROR_DISK_FULL, for one) and Damaged when the bytes fail the check
  // record's CRC. The bytes written so far stay on disk.
  ReaderResult CopyEntryToFile(const char* name, const char* destination);

  // The named entry, or null when there is none.
  const BundleEntry* Find(const char* name) { return index.Find(name); }
  // True with *crc set when the check record gives the named entry's
  // content a CRC-32 (bundle/format/bundle_index.h).
  bool ExpectedCrc(const char* name, uint32_t* crc) {
    const BundleEntry* entry = index.Find(name);
    return entry != nullptr && index.ExpectedCrc(*entry, crc);
  }

  // The current list, in scan order (for tools and tests).
  const std::vector<BundleEntry>& Entries() const { return index.Entries(); }
  // How the last listing ended.
  const bundle::ScanDiagnosis& LastScan() const { return index.LastScan(); }

 private:
  // ByteSource over bundleFile. Reads that follow each other, as the copy
  // loops' do, cost no seek. A failed seek or read leaves its error in
  // readError.
  uint32_t Size() override;
  int32_t ReadAt(uint32_t position, void* buffer, int32_t count) override;

  // The named entry, or why there is none.
  const BundleEntry* Lookup(const char* name, ReaderResult* fault);

  FileAccess bundleFile;
  FileAccess::Opening opening;
  int64_t filePosition = -1;  // where bundleFile stands; -1 when unknown
  DWORD readError = ERROR_SUCCESS;
  bundle::BundleIndex index;
};
