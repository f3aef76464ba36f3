#include "extract/own_folders.h"
#include "launcher/launcher.h"

void RemoveExtractedFiles(OwnFolders& folders) {
  // Normally the job's holds are still taken; after a job that never ran or
  // failed before taking them, whatever exists now as a plain folder is held.
  folders.HoldExisting();
  char path[PATH_CAPACITY];
  for (int row = 0; row < ENTRY_COUNT; ++row) {
    // Only in a held folder. A path that does not fit is skipped: a cut path
    // could name some other file, and deleting that would be worse than
    // leaving one behind.
    if (!folders.HoldsFolderOf(EntryTable[row].folderPrefix) || !folders.DestinationPath(path, sizeof path) ||
        !AppendPath(path, sizeof path, EntryTable[row].folderPrefix) ||
        !AppendPath(path, sizeof path, EntryTable[row].fileName)) {
      continue;
    }
    // A reparse point in the file's place is not what the job wrote:
    // clearing its mark or deleting it could reach what it points to.
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path);
  }
  folders.RemoveEmpty(true);
}
