#include <cstring>

#include "extract/progress_dialog.h"
#include "common/names.h"

void ProgressDialog::SetDestinationFolder(const char* path) {
  CopyPath(destinationFolder, sizeof destinationFolder, path);
  AppendBackslash(destinationFolder, sizeof destinationFolder);
  // A drive root such as C:\ gets a folder of its own, so the removal never
  // works directly in the root.
  const bool driveRoot = strlen(destinationFolder) <= 3;
  if (driveRoot) {
    AppendPath(destinationFolder, sizeof destinationFolder, DRIVE_ROOT_FOLDER_NAME);
    AppendBackslash(destinationFolder, sizeof destinationFolder);
  }
  ownFolders.SetDestination(destinationFolder, driveRoot);
}

size_t ProgressDialog::GetDestinationFolder(char* buffer, size_t capacity) const {
  const size_t length = strlen(destinationFolder);
  if (length < capacity) memcpy(buffer, destinationFolder, length + 1);
  return length;
}
