// Where one destination's files and folders are: the paths, built once.
#pragma once

#include "common/entry_table.h"
#include "common/paths.h"

// Every path of one destination that the launcher writes, starts or removes,
// built once from the destination folder: a value, copied whole. Folders are
// named without their trailing backslash: with it, a lookup by name goes on
// through a link to what it points to.
class DestinationPaths {
 public:
  // No destination: nothing fits.
  DestinationPaths() = default;
  // destination: the destination folder, with or without its trailing
  // backslash.
  explicit DestinationPaths(const char* destination);

  // The destination folder and every cleanup sub-folder fit PATH_CAPACITY.
  bool FoldersFit() const { return foldersFit; }
  const char* Destination() const { return destination; }
  const char* SubFolder(int index) const;
  // The full path of an EntryTable row's file: the one path the job writes,
  // the launcher starts (row 0) and every removal deletes. Null when it does
  // not fit PATH_CAPACITY: a cut path would name some other file.
  const char* Entry(int row) const;
  // The index in CleanupFolders of row's folder (its prefix without the
  // backslash); -1 when it is none of them.
  static int SubFolderOfRow(int row);

 private:
  char destination[PATH_CAPACITY] = "";
  char subFolders[CLEANUP_FOLDER_COUNT][PATH_CAPACITY] = {};
  char entries[ENTRY_COUNT][PATH_CAPACITY] = {};
  bool entryFits[ENTRY_COUNT] = {};
  bool foldersFit = false;
};
