// A launcher's bundle as list, extract and verify see it: the records in the
// order the launcher's backward scan reads them, each as the launcher treats
// it, and the reading of their contents through the same LZSS kernel.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "bundle/format/bundle_scan.h"
#include "programs.h"
#include "support.h"

namespace bundletool {

// One entry as the launcher treats it.
struct EntryView {
  bundle::BundleEntry record;
  std::string name;       // stored bytes, code page 932
  bool checkRecord = false;  // the check record itself
  bool block = false;     // read as a compressed block (Scan says when)
  bool signature = false;  // starts with a whole block header
  uint8_t key = 0;
  uint32_t decodedSize = 0;
  int shadowedBy = -1;    // index of the earlier-listed entry of the same name
  bool hasCrc = false;    // the check record gives the content's CRC-32
  uint32_t crc = 0;
};

// The bundle as Scan reads it.
struct ScannedBundle {
  bundle::ScanDiagnosis diagnosis;  // with the check record's verdict when the scan was sound
  std::vector<EntryView> entries;
  uint64_t programLength = 0;  // the program in front of the bundle, when the scan was sound
  bool hasCheckRecord = false;  // a record is there, checked or not
  bool checked = false;         // the launcher checks the entries against it
};

// The bundle's records as the launcher reads them. A record that begins with
// a whole block header is a block to the launcher unless byTable and its name
// is a row the launcher copies unchanged: then it is stored, as the launcher
// writes it, whatever its first bytes are.
ScannedBundle Scan(InputFile& file, bool byTable);

// Hands a stored entry's bytes to take in pieces of at most 1 MiB.
template <typename Take>
void ForEachPiece(InputFile& file, const EntryView& entry, Take take) {
  const uint64_t size = uint64_t(entry.record.dataSize);
  std::vector<uint8_t> buffer(size_t(std::min<uint64_t>(size, uint64_t(1) << 20)));
  for (uint64_t done = 0; done < size;) {
    const size_t n = size_t(std::min<uint64_t>(size - done, buffer.size()));
    file.ReadExactly(uint64_t(entry.record.dataStart) + done, buffer.data(), n);
    take(buffer.data(), n);
    done += n;
  }
}

// A CRC-32 as list, verify and --json write it: eight upper-case hex digits.
std::string Hex32(uint32_t value);

// Empty when the content's CRC is the record's, or when there is no record.
std::string CrcProblem(const EntryView& entry, uint32_t contentCrc);

// Decoding of one block, with what went wrong.
struct Decoded {
  bool ok = false;
  std::string problem;
  size_t trailingBytes = 0;  // stream bytes after the point where D was reached
  std::vector<uint8_t> bytes;
};

// The whole block of entry, decoded, with its trailing stream bytes; not ok
// (and the problem said) when D cannot be reached or is beyond what the
// launcher holds, or when the stream ends early.
Decoded DecodeBlock(InputFile& file, const EntryView& entry);

// Whether an entry's content is a program, and signed; a block is decoded as
// far as the head the verdict needs.
ProgramSignature SignatureOfEntry(InputFile& file, const EntryView& entry);

// Each entry's SignatureWord, for the JSON report.
std::vector<const char*> ProgramWords(InputFile& file, const ScannedBundle& scanned);

// "1 entry", "2 entries".
std::string Entries(size_t count);

}  // namespace bundletool
