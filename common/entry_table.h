// The entries the extraction job writes and the removal deletes, made from
// the one list in common/entry_rows.def.
#pragma once

#include <cstdint>

#include "common/entry_flags.h"

struct EntryRow {
  const char* fileName;      // name in the bundle and of the written file
  const char* folderPrefix;  // sub-folder with its trailing backslash
  uint32_t flags;
};

constexpr int ENTRY_COUNT = 0
#define ENTRY_ROW(name, prefix, flags) +1
#include "common/entry_rows.def"
#undef ENTRY_ROW
    ;

// ENTRY_COUNT rows, then a row whose name and prefix are both empty. Row 0 is
// the installer program the main flow starts.
extern const EntryRow EntryTable[ENTRY_COUNT + 1];
// Sub-folders (no trailing backslash) removed after the files, null-ended.
extern const char* const CleanupFolders[];
