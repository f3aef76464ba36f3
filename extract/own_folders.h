// The folders the launcher makes its own below the temporary folder: the
// drive-root folder ("ZEPHRAQUEST_DEMO_B", only when the temporary folder is
// a drive root) and each of CleanupFolders in the destination folder. The
// temporary folder itself is the user's and is left as it is.
//
// Where the temporary folder is shared (a drive root, the system's own
// temporary folder for a program run as SYSTEM) another user can make these
// folders before the launcher runs: as a junction or symbolic link to a
// folder of their choice, which the job would write into and the removal
// delete from; or as a plain folder of their own, holding a DLL that the
// installer would load, with rights to swap the installer between its write
// and its start. So the job's first row makes each folder afresh (Prepare):
// whatever is there is removed, and the folder is created again with a
// descriptor of its own (PrivateFolderSecurity, in
// private_folder_security.h). A reparse point met on the way is never
// followed, and never removed either (under Wine, removing a link to a
// folder removes the folder it points to): it fails the job.
//
// Each folder is then held open (HeldFolder, in held_folder.h) from that
// check until the launcher's removal, without delete sharing: nobody can
// rename it away and put a link in its place in between, and the installer
// is started from a folder that is still the one written. The holder cannot
// remove a folder it holds that way either, so the removal deletes the files
// while it holds the folder, then ends the hold and removes the folder
// through a handle opened and checked again: a link put in its place in
// that moment is left alone. The paths of it all are built once
// (DestinationPaths, in destination_paths.h).
//
// Every file deleted and every folder removed, by the preparation and by
// every removal alike, goes through one step (RemoveItem in own_folders.cpp):
// the read-only mark cleared, and a refusal by a short hold tried again
// under one RetryPace per preparation or removal.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/entry_table.h"
#include "common/fault_result.h"
#include "common/retry_pace.h"
#include "extract/destination_paths.h"
#include "extract/held_folder.h"

// What stood in the way of the job's own folders (OwnFolders::Prepare), with
// the error of the call that found it.
enum class PrepareFault {
  None,
  PathTooLong,  // a folder's path does not fit PATH_CAPACITY (ERROR_FILENAME_EXCED_RANGE)
  NoSecurity,   // the private descriptor could not be built
  NotFolder,    // a level of the destination, or an own folder, is a file: no folder can be made there
  Link,         // an own folder is a reparse point, or holds one
  NotEmptied,   // something in an own folder could not be removed within the budget (held, no rights)
  NotMade,      // an own folder could not be created, or held once created
};

using PrepareResult = FaultResult<PrepareFault>;

// Told of each row's file a removal has dealt with, deleted or not: the job
// moves the dialog's bar one step back for each.
class RemovalSteps {
 public:
  virtual void FileDealtWith() = 0;

 protected:
  ~RemovalSteps() = default;
};

// The launcher's own folders for one destination folder, and their holds.
// Used by one thread at a time: the extraction worker while it runs, then
// the dialog's thread or a removal the dialog starts, then the launcher's.
class OwnFolders {
 public:
  OwnFolders() = default;
  OwnFolders(const OwnFolders&) = delete;
  OwnFolders& operator=(const OwnFolders&) = delete;

  // destination: the destination folder, with its trailing backslash;
  // ownsDestination: its last level is the drive-root folder, which the
  // launcher added. Releases whatever was held; touches nothing on disk.
  void SetDestination(const char* destination, bool ownsDestination);

  const DestinationPaths& Paths() const { return paths; }

  // ---- Preparation and holding: the job's first row.
  // Makes the levels down to the destination that are missing (the user's:
  // they get what they inherit), then each own folder, top down, afresh and
  // held: an existing one is emptied, never through a reparse point, and
  // removed; then it is created with the private descriptor. Ok when every
  // one is fresh and held; otherwise the holds already taken stay.
  PrepareResult Prepare();

  // ---- The two removals. Each deletes only in held folders (a link in
  // place of one is left alone with all it reaches) and no file that is a
  // reparse point, and removes a sub-folder only once its hold ends. What
  // stays held past the budget stays, and the next run's preparation removes
  // it. Neither reports anything.
  //
  // The job's: the files of the rows in rows (bit r for row r), telling
  // steps of each; then the cleanup sub-folders when left empty. The
  // drive-root folder stays, for the launcher's removal.
  void RemoveJobFiles(uint32_t rows, RemovalSteps& steps);
  // The launcher's, at the end: first holds every own folder that exists as
  // a plain folder and is not held yet (after a job that never ran, or
  // failed before taking its holds); then every row's file, the cleanup
  // sub-folders and the drive-root folder, each when left empty.
  void RemoveEverything();

 private:
  void HoldExisting();
  // Deletes the files of rows under pace; the rows whose files are gone.
  uint32_t RemoveFiles(uint32_t rows, RemovalSteps* steps, RetryPace& pace);
  // Ends the holds of the sub-folders and removes them, then, when
  // destinationToo, the drive-root folder. gone: the rows whose files
  // this removal deleted.
  void RemoveFolders(uint32_t gone, bool destinationToo, RetryPace& pace);

  DestinationPaths paths;
  bool destinationOwned = false;
  HeldFolder destinationHold;
  HeldFolder subFolderHolds[CLEANUP_FOLDER_COUNT];
};
