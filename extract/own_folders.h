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
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/entry_table.h"
#include "common/handle.h"
#include "common/paths.h"
#include "common/retry_pace.h"

// Since Windows Vista; the headers of older systems lack it.
#ifndef ERROR_STOPPED_ON_SYMLINK
#define ERROR_STOPPED_ON_SYMLINK 681
#endif

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
  // with which a lookup goes on through a link). True when path names a
  // plain folder. Otherwise false, holding nothing, with the thread's last
  // error: ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when it is missing,
  // ERROR_STOPPED_ON_SYMLINK when it is a reparse point (a junction, a
  // symbolic link, a mount point), ERROR_DIRECTORY when it is a file, else
  // the platform's. Windows shows a reparse point on the handle opened; Wine
  // opens what its Unix link points to and shows the link only to a lookup
  // by name, which is made after the open, once the name can no longer be
  // moved.
  bool Hold(const wchar_t* path);
  bool Hold(const char* path);
  // Ends the hold and removes the folder at path (the one held) when it is
  // empty and still a plain folder: opened again for deletion, checked as
  // Hold checks, and deleted through that handle, so a link put in its place
  // meanwhile is neither removed nor followed. (Before Vista, which cannot
  // delete through a handle, it is removed by name after the check.) False
  // when it was not removed (ERROR_DIR_NOT_EMPTY, the errors of Hold).
  // Nothing is held afterwards either way.
  bool ReleaseAndRemove(const wchar_t* path);
  bool ReleaseAndRemove(const char* path);
  // Closes the handle, if any; leaves the thread's last error as it was.
  void Release() { handle.Close(); }

  bool Held() const { return handle.IsValid(); }

 private:
  // Hold with the given access.
  bool Open(const wchar_t* path, DWORD access);

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
  // token could not be read), with the failing call's error.
  SECURITY_ATTRIBUTES* Attributes() { return built ? &attributes : nullptr; }

 private:
  // The three SIDs, then the ACL, each aligned for the platform.
  DWORD userSid[SECURITY_MAX_SID_SIZE / sizeof(DWORD)];
  DWORD systemSid[SECURITY_MAX_SID_SIZE / sizeof(DWORD)];
  DWORD administratorsSid[SECURITY_MAX_SID_SIZE / sizeof(DWORD)];
  DWORD aclBytes[(sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)) / sizeof(DWORD)];
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes;
  bool built = false;
};

// The launcher's own folders for one destination folder, and their holds.
// Used by the extraction worker while it runs, then by the dialog's thread
// (the removal); never by both at once.
class OwnFolders {
 public:
  OwnFolders() = default;
  OwnFolders(const OwnFolders&) = delete;
  OwnFolders& operator=(const OwnFolders&) = delete;

  // destination: the destination folder, with its trailing backslash;
  // ownsDestination: its last level is the drive-root folder, which the
  // launcher added. Releases whatever was held; touches nothing on disk.
  void SetDestination(const char* destination, bool ownsDestination);

  // The job's first row. Makes the levels down to the destination that are
  // missing (the user's: they get what they inherit), then each own folder,
  // top down, afresh and held: an existing one is emptied, never through a
  // reparse point, and removed; then it is created with the private
  // descriptor. True when every one is fresh and held. False, with the
  // thread's last error set, when one is a reparse point or holds one
  // (ERROR_STOPPED_ON_SYMLINK), cannot be emptied or removed (a file held
  // open, a folder of another user), cannot be created, or a path does not
  // fit (ERROR_FILENAME_EXCED_RANGE); the holds already taken stay.
  bool Prepare();

  // The full path of an EntryTable row's file under the destination, built
  // once by SetDestination: the one path the job writes, the launcher starts
  // (row 0) and every removal deletes. Null when it does not fit
  // PATH_CAPACITY: a cut path would name some other file.
  const char* EntryPath(int row) const {
    return row >= 0 && row < ENTRY_COUNT && entryFits[row] ? entryPaths[row] : nullptr;
  }

  // The one removal of what the job wrote, for every caller: the job after a
  // failure or a stop, the dialog after a late stop, the launcher at the end.
  // Deletes the files of the rows in rows (bit r for row r), clearing a
  // read-only mark first, each only in a held folder (a link in place of one
  // is left alone with all it reaches) and none that is a reparse point; then
  // ends the holds of the sub-folders and removes those left empty.
  // afterEachFile(context), when given, runs after each row's file is dealt
  // with, deleted or not. With everything (the launcher's removal), first
  // holds every own folder that exists as a plain folder and is not held yet
  // (after a job that never ran, or failed before taking its holds), and
  // removes the drive-root folder too.
  // A delete or a folder removal refused by a short hold (IsShortHoldError)
  // is tried again under one RetryPace for the whole call; what is still held
  // after it stays, and the next run's preparation empties the folder. A
  // missing file is not an error and is not retried. Reports nothing.
  void RemoveEntries(uint32_t rows, bool everything, void (*afterEachFile)(void*) = nullptr,
                     void* context = nullptr);

 private:
  char destinationPath[PATH_CAPACITY] = "";
  bool destinationOwned = false;
  bool pathsFit = false;
  HeldFolder destinationHold;
  char subFolderPaths[CLEANUP_FOLDER_COUNT][PATH_CAPACITY] = {};
  HeldFolder subFolderHolds[CLEANUP_FOLDER_COUNT];
  char entryPaths[ENTRY_COUNT][PATH_CAPACITY] = {};
  bool entryFits[ENTRY_COUNT] = {};

  // The steps of RemoveEntries.
  void HoldExisting();
  bool HoldsFolderOf(const char* prefix) const;
  void RemoveEmpty(bool destinationToo, RetryPace& pace);
};
