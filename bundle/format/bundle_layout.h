// The bundle's on-disk layout, shared by the launcher and the host tools.
// No Windows calls: this folder builds natively and for Windows alike.
//
//   [executable image][1977][record]...[record]<end of file>
//   record = [data: S bytes][name: L bytes, NUL included][L][S][1978]
//
// All integers are 32-bit little-endian. The last record ends exactly at the
// end of the file; records are found by walking back from there.
#pragma once

#include <cstdint>

namespace bundle {

constexpr int32_t START_MARKER = 1977;
constexpr int32_t ENTRY_MARKER = 1978;
// Longest stored name, its NUL included.
constexpr int32_t MAX_NAME_LENGTH = 260;
// Bytes of a record after its name: name length, data size, entry marker.
constexpr int32_t RECORD_TRAILER_SIZE = 12;
// Positions are signed 32-bit distances from the start of the file, so a
// bundle file stays below 2 GiB.
constexpr uint32_t MAX_FILE_SIZE = 0x7FFFFFFF;
// More records than any real bundle carries (the launcher's has ten); a scan
// stops there so that a hostile file of tiny records cannot exhaust memory.
constexpr int32_t MAX_ENTRY_COUNT = 65536;

// Little-endian integers at any alignment.
inline uint16_t LoadLe16(const uint8_t* bytes) { return uint16_t(bytes[0] | bytes[1] << 8); }
inline uint32_t LoadLe32(const uint8_t* bytes) {
  return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
         uint32_t(bytes[3]) << 24;
}
inline void StoreLe32(uint8_t* bytes, uint32_t value) {
  bytes[0] = uint8_t(value);
  bytes[1] = uint8_t(value >> 8);
  bytes[2] = uint8_t(value >> 16);
  bytes[3] = uint8_t(value >> 24);
}

}  // namespace bundle
