#include "extract/destination_paths.h"

#include <cassert>
#include <cstring>

DestinationPaths::DestinationPaths(const char* folder) {
  foldersFit = CopyPath(destination, sizeof destination, folder) && AppendBackslash(destination, sizeof destination);
  const size_t length = strlen(destination);
  if (length > 0) destination[length - 1] = '\0';
  for (int i = 0; i < CLEANUP_FOLDER_COUNT; ++i) {
    char* path = subFolders[i];
    foldersFit = foldersFit && CopyPath(path, PATH_CAPACITY, destination) && AppendPath(path, PATH_CAPACITY, "\\") &&
                 AppendPath(path, PATH_CAPACITY, CleanupFolders[i]);
  }
  for (int row = 0; row < ENTRY_COUNT; ++row) {
    char* path = entries[row];
    entryFits[row] = foldersFit && SubFolderOfRow(row) >= 0 && CopyPath(path, PATH_CAPACITY, destination) &&
                     AppendPath(path, PATH_CAPACITY, "\\") &&
                     AppendPath(path, PATH_CAPACITY, EntryTable[row].folderPrefix) &&
                     AppendPath(path, PATH_CAPACITY, EntryTable[row].fileName);
  }
}

const char* DestinationPaths::SubFolder(int index) const {
  assert(index >= 0 && index < CLEANUP_FOLDER_COUNT);
  return subFolders[index];
}

const char* DestinationPaths::Entry(int row) const {
  assert(row >= 0 && row < ENTRY_COUNT);
  return entryFits[row] ? entries[row] : nullptr;
}

int DestinationPaths::SubFolderOfRow(int row) {
  assert(row >= 0 && row < ENTRY_COUNT);
  const char* prefix = EntryTable[row].folderPrefix;
  for (int i = 0; i < CLEANUP_FOLDER_COUNT; ++i) {
    const size_t length = strlen(CleanupFolders[i]);
    if (strncmp(prefix, CleanupFolders[i], length) == 0 && prefix[length] == '\\' && prefix[length + 1] == '\0') {
      return i;
    }
  }
  return -1;
}
