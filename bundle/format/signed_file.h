// Launchers signed after packing. Code signing (Authenticode) appends a
// certificate table to a PE file and records its file offset and size in the
// optional header's data directory entry 4; the tools first pad the file
// with zero bytes to an 8-byte boundary. The table then runs to the end of
// the file, where the backward scan starts, so the scan must start before it:
//
//   [executable image][1977][record]...[record][0-7 zero bytes][certificate table]
//
// Removing the signature again cuts the table off and clears the entry, but
// keeps the padding, so an unsigned file may end in up to seven zero bytes.
//
// Nothing inside the table is read. Every header field is checked against the
// file before it is used. No Windows calls.
#pragma once

#include <cstdint>

#include "bundle/format/bundle_scan.h"

namespace bundle {

// The optional header's magic: a PE32 (32-bit) or a PE32+ (64-bit) image.
constexpr uint16_t PE32_MAGIC = 0x10B;
constexpr uint16_t PE32_PLUS_MAGIC = 0x20B;

// Data directory entry 4 of a PE file, as its headers give it.
struct CertificateDirectory {
  bool readFailed = false;     // a read of the headers failed: nothing is known
  bool peImage = false;        // "MZ", e_lfanew and "PE\0\0" lie in the file: a program
  bool found = false;          // a PE image whose optional header holds entry 4
  uint32_t entryPosition = 0;  // file position of the entry's 8 bytes
  uint32_t tableStart = 0;     // the entry: the table's file offset and size
  uint32_t tableSize = 0;
};

// Reads the PE headers of source, whose size is fileSize: the "MZ" header,
// e_lfanew, the "PE\0\0" signature, the file header and the optional
// header's magic (0x10B or 0x20B) and directory count. found is false for a
// file that is no PE image, whose headers do not fit in it, or whose
// optional header holds fewer than five directory entries.
CertificateDirectory ReadCertificateDirectory(ByteSource& source, uint32_t fileSize);

// Where the last record of a bundle must end.
struct BundleEnd {
  bool readFailed = false;      // a read failed: nothing is known
  uint32_t end = 0;             // fileSize, or where the padding starts
  bool signature = false;       // a certificate table runs to the end of the file
  uint32_t signatureStart = 0;  // its file offset, when signature
};

// The end for a file whose directory entry 4 describes a non-empty region
// that lies inside the file and ends exactly at its end: the region's start,
// less the zero padding before it (see the definition). For any other file,
// an empty entry included, the end is fileSize less a zero padding that
// follows a marker there: what removing a signature leaves behind. A file
// that ends in a marker is read exactly as before.
BundleEnd LocateBundleEnd(ByteSource& source, uint32_t fileSize);

}  // namespace bundle
