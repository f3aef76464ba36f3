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
// the installer program the main flow starts. Every row's folder prefix is
// one of CleanupFolders with its backslash: those are the folders the job
// makes afresh and holds, and the only ones the removal deletes from
// (extract/own_folders.h).
extern const EntryRow EntryTable[ENTRY_COUNT + 1];
// Sub-folders of the destination (no trailing backslash), null-ended.
constexpr int CLEANUP_FOLDER_COUNT = 1;
extern const char* const CleanupFolders[CLEANUP_FOLDER_COUNT + 1];
