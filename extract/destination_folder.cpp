#include "extract/destination_folder.h"

#include <cstring>

#include "common/names.h"
#include "common/paths.h"

void SetJobDestination(JobState& job, const char* path) {
  char* folder = job.destinationFolder;
  CopyPath(folder, PATH_CAPACITY, path);
  AppendBackslash(folder, PATH_CAPACITY);
  // A drive root such as C:\ gets a folder of its own, so the removal never
  // works directly in the root.
  const bool driveRoot = strlen(folder) <= 3;
  if (driveRoot) {
    AppendPath(folder, PATH_CAPACITY, DRIVE_ROOT_FOLDER_NAME);
    AppendBackslash(folder, PATH_CAPACITY);
  }
  job.ownFolders.SetDestination(folder, driveRoot);
}
