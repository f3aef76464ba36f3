#include "scanned_bundle.h"

#include <cstdio>
#include <map>

#include "bundle/format/bundle_index.h"
#include "bundle/format/bundle_layout.h"
#include "bundle/format/check_record.h"
#include "bundle/format/lzss.h"
#include "layout.h"

namespace bundletool {

ScannedBundle Scan(InputFile& file, bool byTable) {
  ScannedBundle scanned;
  std::vector<bundle::BundleEntry> records;
  scanned.diagnosis = bundle::ScanBundle(file, records);
  // The launcher's own verdict on the record, and the CRCs it expects.
  bundle::BundleIndex index(&file);
  if (scanned.diagnosis.status == bundle::ScanStatus::Ok) {
    index.ListEntries();
    scanned.diagnosis = index.LastScan();
    scanned.checked = index.Checked();
  }
  std::map<std::string, int> firstIndex;
  for (const bundle::BundleEntry& record : records) {
    EntryView view;
    view.record = record;
    view.name = record.name;
    view.checkRecord = view.name == bundle::CHECK_RECORD_NAME;
    scanned.hasCheckRecord = scanned.hasCheckRecord || view.checkRecord;
    view.hasCrc = index.ExpectedCrc(record, &view.crc);
    uint8_t header[bundle::BLOCK_HEADER_SIZE];
    if (!view.checkRecord && record.dataSize >= int32_t(bundle::BLOCK_HEADER_SIZE)) {
      file.ReadExactly(uint64_t(record.dataStart), header, sizeof header);
      if (bundle::HasBlockSignature(header, sizeof header)) {
        const bundle::BlockHeader h = bundle::ReadBlockHeader(header);
        view.signature = true;
        view.block = !(byTable && IsStreamedRow(view.name));
        view.key = h.key;
        view.decodedSize = h.decodedSize;
      }
    }
    auto [it, inserted] = firstIndex.emplace(view.name, int(scanned.entries.size()));
    if (!inserted) view.shadowedBy = it->second;
    scanned.entries.push_back(view);
  }
  if (scanned.diagnosis.status == bundle::ScanStatus::Ok) {
    scanned.programLength = ProgramLength(scanned.diagnosis, records);
  }
  return scanned;
}

std::string Hex32(uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

std::string CrcProblem(const EntryView& entry, uint32_t contentCrc) {
  if (!entry.hasCrc || contentCrc == entry.crc) return "";
  return "content CRC-32 " + Hex32(contentCrc) + " is not the check record's " + Hex32(entry.crc) + " (damaged)";
}

Decoded DecodeBlock(InputFile& file, const EntryView& entry) {
  Decoded result;
  // Both before anything is read: a larger D cannot be reached, and one
  // beyond what the launcher holds is no block to decode either.
  const size_t streamLength = size_t(entry.record.dataSize) - bundle::BLOCK_HEADER_SIZE;
  if (entry.decodedSize > bundle::MaxDecodedSize(streamLength)) {
    result.problem = "decoded size " + std::to_string(entry.decodedSize) + " is more than a stream of " +
                     std::to_string(streamLength) + " bytes can give (truncated block)";
    return result;
  }
  result.problem = BlockSizeProblem(entry.decodedSize);
  if (!result.problem.empty()) return result;
  std::vector<uint8_t> data(size_t(entry.record.dataSize));
  file.ReadExactly(uint64_t(entry.record.dataStart), data.data(), data.size());
  uint8_t* stream = data.data() + bundle::BLOCK_HEADER_SIZE;
  bundle::XorBytes(stream, streamLength, entry.key);
  result.bytes.resize(entry.decodedSize);
  uint8_t ring[bundle::RING_SIZE];
  const bundle::LzssResult r = bundle::LzssDecodeStream(result.bytes.data(), entry.decodedSize, stream, streamLength, ring);
  if (r.status != bundle::LzssStatus::Complete) {
    result.problem = "compressed stream ends after " + std::to_string(r.produced) + " of " +
                     std::to_string(entry.decodedSize) + " bytes (truncated block)";
    result.bytes.clear();
    return result;
  }
  result.ok = true;
  result.trailingBytes = streamLength - r.consumed;
  return result;
}

ProgramSignature SignatureOfEntry(InputFile& file, const EntryView& entry) {
  if (entry.checkRecord) return ProgramSignature::NotProgram;
  if (!entry.block) return SignatureOfRange(file, uint64_t(entry.record.dataStart), uint64_t(entry.record.dataSize));
  // A literal costs at most nine bits of stream, so this much stream gives
  // the head unless the block is damaged (then the head is short and the
  // headers read as absent).
  const size_t headSize = size_t(std::min<uint64_t>(entry.decodedSize, PROGRAM_HEAD_SIZE));
  const size_t streamLength = std::min<size_t>(size_t(entry.record.dataSize) - bundle::BLOCK_HEADER_SIZE,
                                               headSize + headSize / 8 + 2);
  std::vector<uint8_t> stream(streamLength);
  file.ReadExactly(uint64_t(entry.record.dataStart) + bundle::BLOCK_HEADER_SIZE, stream.data(), stream.size());
  bundle::XorBytes(stream.data(), stream.size(), entry.key);
  std::vector<uint8_t> head(headSize);
  uint8_t ring[bundle::RING_SIZE];
  const bundle::LzssResult r =
      bundle::LzssDecodeStream(head.data(), uint32_t(head.size()), stream.data(), stream.size(), ring);
  return SignatureOfHead(head.data(), r.produced, entry.decodedSize);
}

std::vector<const char*> ProgramWords(InputFile& file, const ScannedBundle& scanned) {
  std::vector<const char*> words;
  for (const EntryView& e : scanned.entries) words.push_back(SignatureWord(SignatureOfEntry(file, e)));
  return words;
}

std::string Entries(size_t count) { return std::to_string(count) + " entr" + (count == 1 ? "y" : "ies"); }

}  // namespace bundletool
