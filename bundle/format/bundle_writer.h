// Building a bundle: the start marker, then one record per entry, in the
// order given (layout in bundle_layout.h). The launcher's backward scan lists
// them last first, and a name stored twice resolves to the later record.
//
// Names are bytes in code page 932, the launcher's ANSI code page; a host
// tool converts its own text to that before calling in here. Nothing here
// touches files, so tests build bundles in memory with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bundle/format/check_record.h"

namespace bundle {

// Why name cannot be an entry name, or nullptr when it can. An entry name is
// what the launcher appends to its folder and creates as a file: 1 to 259
// bytes of well-formed code page 932 text, no path separator, none of the
// characters a Windows file name cannot hold (control characters,
// : * ? " < > |), not "." or "..", not ending in a dot or a space (Windows
// drops those, so the file written would not carry the stored name), not a
// device name Windows reserves (CON, NUL, COM1.txt... in any case).
// Separators are looked for character by character, so a double-byte
// character whose second byte is 0x5C is not taken for a backslash. The check
// record's name (check_record.h) is refused too, with a reason of its own.
const char* CheckEntryName(const std::string& name);

// The four bytes of the start marker.
std::vector<uint8_t> StartMarkerBytes();

// What follows an entry's data in its record: the name and its NUL, the name
// length, the data size and the entry marker. name must pass CheckEntryName
// or be CHECK_RECORD_NAME.
std::vector<uint8_t> RecordTrailerBytes(const std::string& name, uint32_t dataSize);

// Bytes a record takes in the file.
inline uint64_t RecordSize(const std::string& name, uint64_t dataSize) {
  return dataSize + name.size() + 1 + 12;
}

struct BundleInput {
  std::string name;
  std::vector<uint8_t> data;  // stored as is: a compressed block or a file
};

// The whole bundle to append behind a stub. Throws std::invalid_argument for a
// name that CheckEntryName refuses or a bundle of 2 GiB or more.
std::vector<uint8_t> BuildBundle(const std::vector<BundleInput>& inputs);
// The same with a check record after the entries, holding checks as given
// (a test may give a wrong CRC, leave a name out or name one that is not
// there).
std::vector<uint8_t> BuildBundle(const std::vector<BundleInput>& inputs, const std::vector<CheckItem>& checks);

}  // namespace bundle
