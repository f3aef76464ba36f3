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

}  // namespace bundle
