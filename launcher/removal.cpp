#include "launcher/launcher.h"

void RemoveExtractedFiles(const char* baseFolder) {
  char path[PATH_CAPACITY];
  for (int row = 0; row < ENTRY_COUNT; ++row) {
    // A path that does not fit is skipped: a cut path could name some other
    // file, and deleting that would be worse than leaving one behind.
    if (!CopyPath(path, sizeof path, baseFolder) ||
        !AppendPath(path, sizeof path, EntryTable[row].folderPrefix) ||
        !AppendBackslash(path, sizeof path) ||
        !AppendPath(path, sizeof path, EntryTable[row].fileName)) {
      continue;
    }
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path);
  }
  for (const char* const* folder = CleanupFolders; *folder != nullptr; ++folder) {
    if (!CopyPath(path, sizeof path, baseFolder) || !AppendPath(path, sizeof path, *folder)) continue;
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path);
  }
}
