#include "common/entry_table.h"

const EntryRow EntryTable[ENTRY_COUNT + 1] = {
#define ENTRY_ROW(name, prefix, flags) {name, prefix, flags},
#include "common/entry_rows.def"
#undef ENTRY_ROW
    {"", "", 0},
};

static_assert(ENTRY_COUNT == 10, "the bundle carries ten entries");

const char* const CleanupFolders[CLEANUP_FOLDER_COUNT + 1] = {"ZEQXPC", nullptr};
