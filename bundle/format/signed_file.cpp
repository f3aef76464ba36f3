#include "bundle/format/signed_file.h"

namespace bundle {

namespace {

// Offsets in the PE format.
constexpr uint32_t DOS_HEADER_SIZE = 64;
constexpr uint32_t LFANEW_OFFSET = 0x3C;
constexpr uint32_t FILE_HEADER_SIZE = 20;                // after the 4-byte "PE\0\0"
constexpr uint32_t OPTIONAL_HEADER_SIZE_OFFSET = 4 + 16;  // SizeOfOptionalHeader, from the signature
constexpr uint32_t OPTIONAL_HEADER_OFFSET = 4 + FILE_HEADER_SIZE;
// NumberOfRvaAndSizes within the optional header; the directory follows it.
constexpr uint32_t PE32_DIRECTORY_COUNT_OFFSET = 92;
constexpr uint32_t PE32_PLUS_DIRECTORY_COUNT_OFFSET = 108;
constexpr uint32_t CERTIFICATE_ENTRY = 4;
constexpr uint32_t DIRECTORY_ENTRY_SIZE = 8;
// What the headers read here span, from the signature on: up to the end of
// entry 4 of the longer (PE32+) optional header.
constexpr uint32_t NT_HEADERS_READ = OPTIONAL_HEADER_OFFSET + PE32_PLUS_DIRECTORY_COUNT_OFFSET + 4 +
                                     (CERTIFICATE_ENTRY + 1) * DIRECTORY_ENTRY_SIZE;
// Signing pads to an 8-byte boundary.
constexpr uint32_t MAX_PADDING = 7;

}  // namespace

CertificateDirectory ReadCertificateDirectory(ByteSource& source, uint32_t fileSize) {
  CertificateDirectory directory;
  uint8_t dos[DOS_HEADER_SIZE];
  if (fileSize < DOS_HEADER_SIZE) return directory;
  if (!ReadExactly(source, 0, dos, int32_t(DOS_HEADER_SIZE))) {
    directory.readFailed = true;
    return directory;
  }
  if (dos[0] != 'M' || dos[1] != 'Z') return directory;

  // The signature and the headers after it, as far as the file holds them.
  const uint64_t nt = LoadLe32(dos + LFANEW_OFFSET);
  if (nt + OPTIONAL_HEADER_OFFSET + 2 > fileSize) return directory;
  const uint32_t available = uint32_t(uint64_t(fileSize) - nt < NT_HEADERS_READ ? fileSize - nt : NT_HEADERS_READ);
  uint8_t headers[NT_HEADERS_READ];
  if (!ReadExactly(source, uint32_t(nt), headers, int32_t(available))) {
    directory.readFailed = true;
    return directory;
  }
  if (headers[0] != 'P' || headers[1] != 'E' || headers[2] != 0 || headers[3] != 0) return directory;
  directory.peImage = true;

  const uint16_t magic = LoadLe16(headers + OPTIONAL_HEADER_OFFSET);
  uint32_t countOffset;
  if (magic == PE32_MAGIC) {
    countOffset = PE32_DIRECTORY_COUNT_OFFSET;
  } else if (magic == PE32_PLUS_MAGIC) {
    countOffset = PE32_PLUS_DIRECTORY_COUNT_OFFSET;
  } else {
    return directory;
  }
  // Entry 4 must lie within the optional header as declared, and within what
  // was read (so within the file).
  const uint32_t entry = OPTIONAL_HEADER_OFFSET + countOffset + 4 + CERTIFICATE_ENTRY * DIRECTORY_ENTRY_SIZE;
  const uint32_t optionalSize = LoadLe16(headers + OPTIONAL_HEADER_SIZE_OFFSET);
  if (entry + DIRECTORY_ENTRY_SIZE > available ||
      entry + DIRECTORY_ENTRY_SIZE > OPTIONAL_HEADER_OFFSET + optionalSize ||
      LoadLe32(headers + OPTIONAL_HEADER_OFFSET + countOffset) <= CERTIFICATE_ENTRY) {
    return directory;
  }
  directory.found = true;
  directory.entryPosition = uint32_t(nt) + entry;
  directory.tableStart = LoadLe32(headers + entry);
  directory.tableSize = LoadLe32(headers + entry + 4);
  return directory;
}

namespace {

// The padding. A match for k means: the 4 bytes ending at start - k are a
// marker (B9 07 00 00 or BA 07 00 00) and the k bytes after it are zero.
// Only one k in 0..7 can match: in a match the marker's 07 is the last
// nonzero byte before start, at start - k - 3, so that byte fixes k. The
// padding therefore cannot be mistaken for zero bytes of the last record
// (an entry marker also ends in two zeros), and nothing at or after start is
// read. Without a match the end stays at start.
BundleEnd EndBeforePadding(ByteSource& source, uint32_t start) {
  BundleEnd result;
  result.end = start;
  // The window [start - 11, start): a marker and the longest padding.
  const uint32_t windowSize = start < 4 + MAX_PADDING ? start : 4 + MAX_PADDING;
  uint8_t window[4 + MAX_PADDING];
  if (windowSize < 4) return result;
  if (!ReadExactly(source, start - windowSize, window, int32_t(windowSize))) {
    result.readFailed = true;
    return result;
  }
  const uint8_t* const windowEnd = window + windowSize;
  for (uint32_t k = 0; k <= MAX_PADDING && k + 4 <= windowSize; ++k) {
    if (k > 0 && windowEnd[-int32_t(k)] != 0) break;  // the padding holds zeros only
    const int32_t value = int32_t(LoadLe32(windowEnd - k - 4));
    if (value == START_MARKER || value == ENTRY_MARKER) {
      result.end = start - k;
      break;
    }
  }
  return result;
}

}  // namespace

// A signed file: the bundle ends before the table, less its padding; with
// no marker there, the scan reports that the file carries no bundle.
// A file without a table may still end in the padding: removing a signature
// clears directory entry 4 and cuts the table off, but leaves the zeros that
// signing put before it. Those zeros, and only zeros, are skipped the same
// way; anything else after the bundle is still no bundle.
BundleEnd LocateBundleEnd(ByteSource& source, uint32_t fileSize) {
  const CertificateDirectory directory = ReadCertificateDirectory(source, fileSize);
  if (directory.readFailed) {
    BundleEnd failed;
    failed.readFailed = true;
    failed.end = fileSize;
    return failed;
  }
  const bool signature = directory.found && directory.tableSize != 0 &&
                         uint64_t(directory.tableStart) + directory.tableSize == fileSize;
  BundleEnd result = EndBeforePadding(source, signature ? directory.tableStart : fileSize);
  result.signature = signature;
  if (signature) result.signatureStart = directory.tableStart;
  return result;
}

}  // namespace bundle
