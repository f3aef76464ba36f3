// CRC-32 as zlib's crc32 computes it: the reflected polynomial 0xEDB88320,
// the register preset to all ones and the result inverted, so that
// Crc32("123456789") is 0xCBF43926 and a CRC can be continued piece by piece:
// Crc32(b, nb, Crc32(a, na)) equals the CRC of a followed by b.
//
// It checks every byte the launcher writes, on the extraction's own time, so
// it has to be much faster than the copy it rides on: on x86 processors with
// a carry-less multiply (PCLMULQDQ, every x86 since about 2010) it folds 64
// bytes per step with it, found at run time; elsewhere, and for lengths and
// tails below one fold, it takes eight bytes per step through eight tables
// (slicing-by-8). The tables and the processor's ability are found when the
// program starts, so Crc32 is not for the static initialisers of other
// units. No Windows calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bundle {

uint32_t Crc32(const void* data, size_t length, uint32_t crc = 0);

// The two ways Crc32 takes, for the benchmark and the tests; same contract.
namespace crc32_paths {
uint32_t SlicingBy8(const void* data, size_t length, uint32_t crc);
// True when this processor has the carry-less multiply CarrylessFold needs.
bool CarrylessAvailable();
// Only where CarrylessAvailable(); any length (the tail goes by tables).
uint32_t CarrylessFold(const void* data, size_t length, uint32_t crc);
}  // namespace crc32_paths

}  // namespace bundle
