// The per-row flags of the entry table (common/entry_rows.def). Plain
// constants without any platform type, so that host-side code (the bundle
// tool's tests) can read the rows as well.
#pragma once

#include <cstdint>

enum EntryFlags : uint32_t {
  ENTRY_EXTRACT = 0x04,    // the row is processed at all
  ENTRY_STREAMED = 0x08,   // copied unchanged in pieces; else read whole, decoded
  ENTRY_READ_ONLY = 0x20,  // marked read-only after a successful in-memory write
};
