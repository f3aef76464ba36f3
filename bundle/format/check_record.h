// The check record: one more record of the bundle, under a name no file can
// have, holding the CRC-32 (crc32.h) of every entry's content as the
// launcher writes it: a compressed block's decoded bytes, a stored entry's
// bytes as they are. The bundle tool writes it as the last record, after the
// entries it describes, so that packing reads every source once.
//
// Its data, all integers 32-bit little-endian:
//
//   version            1
//   count              N, the number of items
//   N items            name length L (NUL included, 1 to 260), the L name
//                      bytes (their only NUL the last), the content's CRC-32
//   record CRC         CRC-32 of every byte of the data before it
//
// What a reader makes of it (BundleIndex applies this to every listing):
//   - No record: the bundle is read as before, unchecked.
//   - A record of another version: unchecked too, once its record CRC holds,
//     so that a later layout does not make this launcher refuse sound
//     bundles; the record CRC is to stay last in every version.
//   - A record that does not parse, whose record CRC fails or that names an
//     entry twice: the bundle is damaged.
//   - An entry of the bundle that the record does not name: the bundle is
//     damaged. A record covers every entry its tool packed; an entry outside
//     it is one whose name bytes were damaged (or one added later), and
//     writing it unchecked would let through exactly what the record is for.
//   - A name in the record that the bundle lacks: harmless; that entry is
//     simply missing, as in a bundle without the record.
// Records under the reserved name are exempt from being named themselves.
//
// A launcher that knows nothing of the record lists it as one more entry and
// never looks it up. No Windows calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bundle/format/bundle_layout.h"

namespace bundle {

// CheckEntryName refuses it: '<' and '>' cannot be in a Windows file name.
constexpr char CHECK_RECORD_NAME[] = "<check>";
constexpr uint32_t CHECK_RECORD_VERSION = 1;
// The longest record this reader reads: MAX_ENTRY_COUNT items of the
// longest name.
constexpr uint32_t MAX_CHECK_RECORD_SIZE = 12 + uint32_t(MAX_ENTRY_COUNT) * (8 + MAX_NAME_LENGTH);

struct CheckItem {
  std::string name;  // the stored name bytes, without the NUL
  uint32_t crc;      // CRC-32 of the entry's content
};

// The record's data for items (names as CheckEntryName accepts them, each
// once).
std::vector<uint8_t> BuildCheckRecord(const std::vector<CheckItem>& items);

enum class CheckRecordStatus {
  Ok,            // items holds the record's items
  OtherVersion,  // intact, of a version this reader does not know
  Damaged,       // reason says why
};

// An item as the parser hands it out: the name is the record's own bytes,
// NUL-terminated there, so nothing is copied and no string is built.
struct CheckedName {
  const char* name;  // inside the parsed data
  uint32_t crc;
};

struct CheckRecord {
  CheckRecordStatus status = CheckRecordStatus::Damaged;
  const char* reason = "";  // static storage; empty unless Damaged
  std::vector<CheckedName> items;  // when Ok: sorted by name (strcmp), each name once
};

// The items point into data, which must outlive the record.
CheckRecord ParseCheckRecord(const uint8_t* data, size_t size);

}  // namespace bundle
