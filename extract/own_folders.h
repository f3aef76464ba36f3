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
// descriptor of its own (PrivateFolderSecurity). A reparse point met on the
// way is never followed, and never removed either (under Wine, removing a
// link to a folder removes the folder it points to): it fails the job.
//
// Each folder is then held open (HeldFolder) from that check until the
// launcher's removal, without delete sharing: nobody can rename it away and
// put a link in its place in between, and the installer is started from a
// folder that is still the one written. The holder cannot remove a folder it
// holds that way either, so the removal deletes the files while it holds the
// folder, then ends the hold and removes the folder through a handle opened
// and checked again: a link put in its place in that moment is left alone.
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
#include "common/handle.h"
#include "common/paths.h"
#include "common/retry_pace.h"

// Since Windows Vista; the headers of older systems lack it.
#ifndef ERROR_STOPPED_ON_SYMLINK
#define ERROR_STOPPED_ON_SYMLINK 681
#endif

// What a step on one folder came to, with the error of the call that found
// it (the step's own code where no call failed).
enum class FolderFault {
  None,
  Missing,    // nothing there (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND)
  Link,       // a reparse point: a junction, a symbolic link, a mount point (ERROR_STOPPED_ON_SYMLINK)
  NotFolder,  // a file (ERROR_DIRECTORY)
  Refused,    // the platform refused: not empty, held, no rights, ... (the platform's error)
};

using FolderResult = FaultResult<FolderFault>;

// One folder held open for as long as the object holds it: opened with
// FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT and shared for
// reading and writing but not for deletion, which refuses every open that
// would rename or delete it. The hold asks to list and to read attributes:
// holding DELETE as well would refuse every open that does not share
// deletion, and Wine lists a folder through one. Movable, not copyable (the
// handle's owner, common/handle.h).
class HeldFolder {
 public:
  HeldFolder() = default;

  // Releases any folder held, then holds the folder at path (UTF-16, or an
  // ANSI path in the exact form the launcher uses; no trailing backslash,
  // with which a lookup goes on through a link). Ok when path names a plain
  // folder; otherwise nothing is held. Windows shows a reparse point on the
  // handle opened; Wine opens what its Unix link points to and shows the
  // link only to a lookup by name, which is made after the open, once the
  // name can no longer be moved.
  FolderResult Hold(const wchar_t* path);
  FolderResult Hold(const char* path);
  // Ends the hold and removes the folder at path (the one held) when it is
  // empty and still a plain folder: opened again for deletion, checked as
  // Hold checks, and deleted through that handle, so a link put in its place
  // meanwhile is neither removed nor followed. (Before Vista, which cannot
  // delete through a handle, it is removed by name after the check.) One
  // try; nothing is held afterwards either way.
  FolderResult ReleaseAndRemove(const wchar_t* path);
  // Closes the handle, if any; leaves the thread's last error as it was.
  void Release() { handle.Close(); }

  bool Held() const { return handle.IsValid(); }

 private:
  // Hold with the given access.
  FolderResult Open(const wchar_t* path, DWORD access);

  FileHandle handle;
};

// A security descriptor for a folder of the launcher's own: full control for
// the current user (the process token's user), SYSTEM and the Administrators
// group, inherited by every file and folder made inside, and nothing
// inherited from the parent (a protected DACL). Built on construction,
// without the heap.
class PrivateFolderSecurity {
 public:
  PrivateFolderSecurity();
  PrivateFolderSecurity(const PrivateFolderSecurity&) = delete;
  PrivateFolderSecurity& operator=(const PrivateFolderSecurity&) = delete;

  // For CreateDirectory; null when the descriptor could not be built (the
  // token could not be read), and then Error() is the failing call's error.
  SECURITY_ATTRIBUTES* Attributes() { return error == ERROR_SUCCESS ? &attributes : nullptr; }
  DWORD Error() const { return error; }

 private:
  // The three SIDs, then the ACL, each aligned for the platform.
  DWORD userSid[SECURITY_MAX_SID_SIZE / sizeof(DWORD)];
  DWORD systemSid[SECURITY_MAX_SID_SIZE / sizeof(DWORD)];
  DWORD administratorsSid[SECURITY_MAX_SID_SIZE / sizeof(DWORD)];
  DWORD aclBytes[(sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)) / sizeof(DWORD)];
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes;
  DWORD error = ERROR_GEN_FAILURE;
};

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
