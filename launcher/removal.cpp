#include "extract/own_folders.h"
#include "launcher/launcher.h"

void RemoveExtractedFiles(OwnFolders& folders) { folders.RemoveEntries((1u << ENTRY_COUNT) - 1, true); }
