#include "whole_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "bundle/format/bundle_layout.h"
#include "bundle/format/check_record.h"
#include "bundle/format/signed_file.h"

namespace bundletool {

std::string DiagnosisText(const bundle::ScanDiagnosis& d) {
  if (d.status == bundle::ScanStatus::NoBundle) return std::string("carries no bundle (") + d.reason + ")";
  if (d.status == bundle::ScanStatus::Unreadable) {
    return std::string("cannot be read: ") + d.reason + " at position " + std::to_string(d.position);
  }
  return std::string("bundle is damaged: ") + d.reason + " at position " + std::to_string(d.position);
}

namespace {

// The first size bytes of a file, for a scan from an earlier end.
class PrefixSource : public bundle::ByteSource {
 public:
  PrefixSource(InputFile& file, uint32_t size) : file(file), size(size) {}
  uint32_t Size() override { return size; }
  int32_t ReadAt(uint32_t position, void* buffer, int32_t count) override {
    return file.ReadAt(position, buffer, count);
  }

 private:
  InputFile& file;
  uint32_t size;
};

// Where a whole bundle that begins with the start marker at start ends, when
// it ends before end: the last such end, found by scanning from every earlier
// entry marker back (at most a few thousand of them). Whole means ending in
// its check record, which pack writes last: the records of a bundle cut
// short in its last record read as a sound bundle too, but without the
// check record at their end. 0 when there is none: the bundle is cut short
// (or, packed without a check record, cannot be told from one).
uint64_t EarlierBundleEnd(InputFile& file, uint64_t start, uint64_t end) {
  constexpr size_t PIECE = size_t(1) << 20;
  constexpr int MAX_TRIES = 4096;
  std::vector<uint8_t> piece(PIECE + 3);
  int tries = 0;
  for (uint64_t pieceEnd = end; pieceEnd > start + 8 && tries < MAX_TRIES;) {
    const uint64_t pieceStart = std::max<uint64_t>(start + 4, pieceEnd > PIECE ? pieceEnd - PIECE : 0);
    const size_t length = size_t(std::min<uint64_t>(end, pieceEnd + 3) - pieceStart);
    file.ReadExactly(pieceStart, piece.data(), length);
    for (size_t at = pieceEnd - pieceStart; at-- > 0 && tries < MAX_TRIES;) {
      // A marker ending before end: the bundle's last four bytes there.
      if (at + 4 > length || pieceStart + at + 4 >= end) continue;
      if (bundle::LoadLe32(&piece[at]) != uint32_t(bundle::ENTRY_MARKER)) continue;
      ++tries;
      const uint64_t candidate = pieceStart + at + 4;
      PrefixSource prefix(file, uint32_t(candidate));
      std::vector<bundle::BundleEntry> entries;
      const bundle::ScanDiagnosis d = bundle::ScanBundle(prefix, entries);
      if (d.status == bundle::ScanStatus::Ok && !entries.empty() && uint64_t(entries.back().dataStart) == start + 4 &&
          std::strcmp(entries.front().name, bundle::CHECK_RECORD_NAME) == 0) {
        return candidate;
      }
    }
    pieceEnd = pieceStart;
  }
  return 0;
}

// What follows a sound bundle that ends at bundleEnd, before the file's end:
// a certificate table that no longer ends the file, or other bytes. (Up to
// seven zeros, the padding a removed signature leaves, are no such bytes: the
// scan reads past them as the launcher does.)
std::string AfterBundleText(InputFile& file, uint64_t bundleEnd, uint64_t end) {
  const uint64_t extra = end - bundleEnd;
  const std::string ends = "its bundle ends at byte " + std::to_string(bundleEnd) + ", and the launcher, which " +
                           "looks for it at the end of the file, finds none";
  const bundle::CertificateDirectory directory = bundle::ReadCertificateDirectory(file, file.Size());
  if (directory.found && directory.tableSize != 0 && directory.tableStart >= bundleEnd &&
      directory.tableStart <= bundleEnd + 7 && uint64_t(directory.tableStart) + directory.tableSize < end) {
    const uint64_t after = end - directory.tableStart - directory.tableSize;
    return "has " + std::to_string(after) + " bytes after its certificate table (junk appended after signing?): " +
           ends;
  }
  return "has " + std::to_string(extra) + " bytes after its bundle (junk appended?): " + ends;
}

}  // namespace

std::string NoBundleText(InputFile& file, const ScannedBundle& scanned) {
  const uint64_t size = file.FullSize();
  if (size > bundle::MAX_FILE_SIZE) {
    return "is " + std::to_string(size) + " bytes, 2 GiB or more: the launcher reads only files below 2 GiB (" +
           std::to_string(uint64_t(bundle::MAX_FILE_SIZE) + 1) + " bytes), so it cannot install from this one";
  }
  const ProgramHeaders headers = ReadProgramHeaders(file);
  const uint64_t end = scanned.diagnosis.signature ? scanned.diagnosis.signatureStart : size;
  if (headers.complete && headers.imageEnd > 0) {
    if (end < headers.imageEnd) {
      return "is cut short: its program runs to byte " + std::to_string(headers.imageEnd) + ", but the file ends at " +
             std::to_string(end) + " (an interrupted download or copy?)";
    }
    // The start marker follows the program, after at most seven zero bytes
    // of a signature that pack dropped.
    for (uint64_t at = headers.imageEnd; at + 4 <= end && at <= headers.imageEnd + 7; ++at) {
      uint8_t marker[4];
      file.ReadExactly(at, marker, sizeof marker);
      if (bundle::LoadLe32(marker) == uint32_t(bundle::START_MARKER) && end > at + 4) {
        const uint64_t bundleEnd = EarlierBundleEnd(file, at, end);
        if (bundleEnd == 0) {
          return "is cut short: a bundle begins at byte " + std::to_string(at) +
                 " but its end is missing (an interrupted download or copy?)";
        }
        return AfterBundleText(file, bundleEnd, end);
      }
      if (marker[0] != 0) break;
    }
    if (end <= headers.imageEnd + 7) return "carries no bundle: it is a bare program, " + DescribeProgram(headers);
  }
  return DiagnosisText(scanned.diagnosis);
}

FileFacts FactsOf(InputFile& file, const ScannedBundle& scanned) {
  const ProgramHeaders headers = ReadProgramHeaders(file);
  return {DescribeProgram(headers), LauncherMachine(headers), scanned.diagnosis.signature,
          FindLauncherMark(file, headers)};
}

std::string SignatureText(const ScannedBundle& scanned, uint64_t fileSize, SignatureClaim claim) {
  const bundle::ScanDiagnosis& d = scanned.diagnosis;
  if (!d.signature) {
    if (d.status != bundle::ScanStatus::Ok || d.bundleEnd >= fileSize) return "not signed";
    return "not signed; " + std::to_string(fileSize - d.bundleEnd) +
           " zero bytes follow the bundle, the padding of a removed signature, which the launcher reads past";
  }
  const std::string table =
      "certificate table (bytes " + std::to_string(d.signatureStart) + " to " + std::to_string(fileSize) + ")";
  switch (claim) {
    case SignatureClaim::Checked:
      return "signed: its " + table + " follows the bundle, which lies inside the signed part (it ends at " +
             std::to_string(d.bundleEnd) + ")";
    case SignatureClaim::Unchecked:
      return "signed: its " + table + " follows the bundle (which ends at " + std::to_string(d.bundleEnd) +
             "); list checks neither the signature nor the entries (verify checks the entries)";
    case SignatureClaim::Damaged: break;
  }
  return "a " + table + " ends the file, behind a damaged bundle: no signature vouches for it";
}

}  // namespace bundletool
