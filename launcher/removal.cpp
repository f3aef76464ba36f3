#include "extract/own_folders.h"
#include "launcher/launcher.h"

void RemoveExtractedFiles(OwnFolders& folders) { folders.RemoveEverything(); }
