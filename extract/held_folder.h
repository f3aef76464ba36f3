// One folder of the launcher's own, held open so that nobody can rename it
// away and put a link in its place while the launcher works in it (the
// design: extract/own_folders.h); and two small helpers its users share.
#pragma once

#include <windows.h>

#include "common/fault_result.h"
#include "common/handle.h"

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

// True for the errors of a lookup that found nothing there.
inline bool IsMissingError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// path, ANSI text in the exact form the launcher uses, as UTF-16 for the
// wide calls; false when it does not convert whole or does not fit.
bool ToWidePath(const char* path, wchar_t (&wide)[MAX_PATH]);
