// The launcher's bundle reader over arbitrary files: the backward scan, then
// the three lookups (EntrySize, ReadEntry, CopyEntry) for every name found,
// for a name that is not there, and once more after the file has shrunk
// under the reader. The scan must read only inside the file, end, and list
// only entries that lie wholly inside it after the start marker or none at
// all; every lookup must hand out exactly the file's bytes or fail. The check
// record's bad cases (missing, short, damaged, naming entries that are not
// there, not naming one that is) must give exactly the list the record's
// rules give, and a copy must fail its check exactly when the bytes differ
// from the record's CRC.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bundle/format/bundle_index.h"
#include "bundle/format/check_record.h"
#include "bundle/format/crc32.h"
#include "fuzz_target.h"

namespace {

// Reads are checked instead of clamped, so that a read the reader should
// never make fails the run. limit is where the file ends for reads; it may
// lie before Size() once the file has "shrunk".
class StrictSource : public bundle::ByteSource {
 public:
  StrictSource(const uint8_t* data, size_t size) : bytes(data), length(size), visible(size) {}
  uint32_t Size() override { return uint32_t(length); }
  int32_t ReadAt(uint32_t position, void* buffer, int32_t count) override {
    FuzzCheck(count >= 0 && uint64_t(position) + uint64_t(count) <= length, "read outside the file");
    FuzzCheck(count <= maxRead, "read longer than allowed");
    if (reads++ == failAt) {
      failed = true;
      return -1;
    }
    if (position >= visible) return 0;
    const size_t got = count < int32_t(visible - position) ? size_t(count) : visible - position;
    std::memcpy(buffer, bytes + position, got);
    return int32_t(got);
  }
  void ShrinkTo(size_t limit) { visible = limit; }

  size_t reads = 0;
  // The scan reads a name's length at most; the index also reads entry data
  // and the check record in pieces.
  int32_t maxRead = bundle::COPY_PIECE;
  size_t failAt = size_t(-1);  // the read (counted from 0) that fails, as on a failing disk
  bool failed = false;

 private:
  const uint8_t* bytes;
  size_t length;
  size_t visible;
};

class VectorSink : public bundle::PieceSink {
 public:
  bool Write(const uint8_t* data, int32_t size) override {
    FuzzCheck(size > 0 && size <= bundle::COPY_PIECE, "piece of a wrong size");
    if (refuseAfter == 0) return false;
    --refuseAfter;
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  std::vector<uint8_t> bytes;
  int refuseAfter = -1;
};

void CheckList(const std::vector<bundle::BundleEntry>& entries, const uint8_t* data, size_t size, bool complete) {
  int64_t below = int64_t(size);
  for (const bundle::BundleEntry& e : entries) {
    FuzzCheck(e.dataStart >= 4 && e.dataStart <= e.dataEnd && e.dataEnd - e.dataStart == e.dataSize,
              "entry data out of order");
    const size_t nameLength = strnlen(e.name, sizeof e.name);
    FuzzCheck(nameLength < sizeof e.name, "name without NUL");
    FuzzCheck(int64_t(e.dataEnd) + int64_t(nameLength) + 1 + 12 <= below, "entry overlaps the next");
    below = e.dataStart;  // the previous record ends where this data starts
  }
  if (complete && !entries.empty()) {
    FuzzCheck(bundle::LoadLe32(data + entries.back().dataStart - 4) == uint32_t(bundle::START_MARKER),
              "complete list without a start marker");
  }
}

// The three lookups for one name, against the bytes the file holds; only
// the first `readable` of them can still be read.
void CheckLookups(bundle::BundleIndex& index, const char* name, const uint8_t* data,
                  size_t readable) {
  // Lists, when this is the first lookup.
  const bundle::BundleEntry* found = index.Find(name);
  const bundle::BundleEntry* entry = nullptr;
  for (const bundle::BundleEntry& e : index.Entries()) {
    if (std::strcmp(e.name, name) == 0) {
      entry = &e;
      break;
    }
  }
  FuzzCheck(found == entry, "lookup did not take the first entry of that name");
  FuzzCheck(index.EntrySize(name) == (entry ? entry->dataSize : 0), "EntrySize wrong");

  const int32_t size = entry ? entry->dataSize : 0;
  std::vector<uint8_t> buffer(size_t(size) + 1, 0xCC);
  int32_t got = -1;
  const bool read = index.ReadEntry(name, buffer.data(), size, &got);
  FuzzCheck(buffer[size_t(size)] == 0xCC, "ReadEntry wrote past the entry");
  if (entry == nullptr) {
    FuzzCheck(!read && got == 0, "ReadEntry of a missing name");
  } else {
    FuzzCheck(got >= 0 && got <= size && std::memcmp(buffer.data(), data + entry->dataStart, size_t(got)) == 0,
              "ReadEntry bytes differ from the file");
    FuzzCheck(read == (got == size), "ReadEntry result disagrees with its count");
    FuzzCheck(read == (size == 0 || size_t(entry->dataEnd) <= readable),
              "ReadEntry succeeded on cut data, or failed on whole data");
    if (size > 0) {
      int32_t small = -1;
      FuzzCheck(!index.ReadEntry(name, buffer.data(), size - 1, &small) && small == 0,
                "ReadEntry into a buffer one byte short");
    }
    VectorSink sink;
    const bundle::CopyResult copied = index.CopyEntry(*entry, sink);
    FuzzCheck(sink.bytes.size() <= size_t(size) &&
                  (sink.bytes.empty() || std::memcmp(sink.bytes.data(), data + entry->dataStart,
                                                     sink.bytes.size()) == 0),
              "CopyEntry bytes differ from the file");
    const bool whole = sink.bytes.size() == size_t(size);
    FuzzCheck(whole == (copied == bundle::CopyResult::Copied || copied == bundle::CopyResult::CheckFailed),
              "CopyEntry result disagrees with its output");
    FuzzCheck(whole == read, "CopyEntry and ReadEntry disagree");
    uint32_t expected = 0;
    const bool checked = index.ExpectedCrc(*entry, &expected);
    FuzzCheck(checked == (index.Checked() && std::strcmp(name, bundle::CHECK_RECORD_NAME) != 0),
              "an entry of a checked bundle without its CRC");
    if (whole) {
      const bool matches = !checked || bundle::Crc32(sink.bytes.data(), sink.bytes.size()) == expected;
      FuzzCheck((copied == bundle::CopyResult::Copied) == matches, "CopyEntry check wrong");
    }
    if (size > 0) {
      VectorSink refusing;
      refusing.refuseAfter = 0;
      // Refused, unless the source ends or fails before the first piece.
      const bundle::CopyResult refused = index.CopyEntry(*entry, refusing);
      FuzzCheck(refused == bundle::CopyResult::SinkRefused || (refused != bundle::CopyResult::Copied &&
                                                               refused != bundle::CopyResult::CheckFailed && !read),
                "CopyEntry ignored a refused piece");
    }
  }
}

// The record's rules over a sound scan, restated: no record, or one of
// another version, holds; otherwise it must parse and name every entry.
bool RecordHolds(const std::vector<bundle::BundleEntry>& entries, const uint8_t* data) {
  const auto isRecord = [](const bundle::BundleEntry& e) {
    return std::strcmp(e.name, bundle::CHECK_RECORD_NAME) == 0;
  };
  const auto record = std::find_if(entries.begin(), entries.end(), isRecord);
  if (record == entries.end()) return true;
  const bundle::CheckRecord parsed = bundle::ParseCheckRecord(data + record->dataStart, size_t(record->dataSize));
  if (parsed.status != bundle::CheckRecordStatus::Ok) return parsed.status == bundle::CheckRecordStatus::OtherVersion;
  for (const bundle::BundleEntry& e : entries) {
    const auto namesIt = [&](const bundle::CheckedName& item) { return std::strcmp(item.name, e.name) == 0; };
    const bool named = isRecord(e) || std::any_of(parsed.items.begin(), parsed.items.end(), namesIt);
    if (!named) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > bundle::MAX_FILE_SIZE) return 0;
  StrictSource source(data, size);
  bundle::BundleIndex index(&source);

  // The first lookup lists: a name made of the input's first bytes.
  char probe[16] = {};
  std::memcpy(probe, data, size < sizeof probe - 1 ? size : sizeof probe - 1);
  CheckLookups(index, probe, data, size);
  const std::vector<bundle::BundleEntry> first = index.Entries();

  // The scan itself, as the index ran it: the records it read before any
  // damage are each consistent, with two reads per record and one for the
  // last marker, at most. The index keeps them only when the whole bundle
  // was sound.
  std::vector<bundle::BundleEntry> scanned;
  source.reads = 0;
  source.maxRead = bundle::MAX_NAME_LENGTH;
  const bundle::ScanDiagnosis diagnosis = bundle::ScanBundle(source, scanned);
  source.maxRead = bundle::COPY_PIECE;
  // Three more for the headers of a signed file and the padding before the
  // bundle's end, signed or not.
  FuzzCheck(source.reads <= 2 * scanned.size() + 2 + 3, "more reads than records");
  FuzzCheck(diagnosis.position <= size && diagnosis.bundleEnd <= size, "diagnosis outside the file");
  FuzzCheck(!diagnosis.signature || (diagnosis.bundleEnd <= diagnosis.signatureStart &&
                                     diagnosis.signatureStart - diagnosis.bundleEnd <= 7),
            "bundle reaches into the signature");
  FuzzCheck(diagnosis.signature || diagnosis.status != bundle::ScanStatus::Ok || size - diagnosis.bundleEnd <= 7,
            "more than a padding after an unsigned bundle");
  const bool scannedSound = diagnosis.status == bundle::ScanStatus::Ok;
  CheckList(scanned, data, size, scannedSound);
  const bool sound = scannedSound && RecordHolds(scanned, data);
  FuzzCheck(first.size() == (sound ? scanned.size() : 0), "index kept entries of a damaged bundle");

  // Listing again gives the same list.
  FuzzCheck(index.ListEntries() == sound, "ListEntries result wrong");
  FuzzCheck(index.Entries().size() == first.size() &&
                (first.empty() || std::memcmp(index.Entries().data(), first.data(),
                                              first.size() * sizeof first[0]) == 0),
            "listing twice gave another list");

  const size_t checked = first.size() < 64 ? first.size() : 64;
  for (size_t i = 0; i < checked; ++i) CheckLookups(index, first[i].name, data, size);
  CheckLookups(index, "\x01 no such entry", data, size);

  // The file shrinks after the listing, cutting into the data: reads end
  // early and every lookup whose data is cut must fail.
  if (checked > 0) {
    const size_t readable = size_t(first[0].dataStart) + size_t(first[0].dataSize) / 2;
    source.ShrinkTo(readable);
    for (size_t i = 0; i < checked; ++i) CheckLookups(index, first[i].name, data, readable);
  }

  // A read of the scan fails: nothing is listed and no lookup succeeds.
  if (size > 0) {
    StrictSource failing(data, size);
    failing.failAt = data[size - 1] % 8;
    bundle::BundleIndex broken(&failing);
    const bool listed = broken.ListEntries();
    if (failing.failed) {
      FuzzCheck(!listed && broken.Entries().empty(), "entries listed despite a failed read");
      FuzzCheck(broken.EntrySize(probe) == 0, "lookup after a failed read");
    }
  }
  // A file that could not be opened.
  bundle::BundleIndex unopened(nullptr);
  FuzzCheck(!unopened.ListEntries() && unopened.Entries().empty() && unopened.EntrySize(probe) == 0,
            "entries without a file");
  return 0;
}
