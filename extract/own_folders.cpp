#include "extract/own_folders.h"

#include <cassert>
#include <cwchar>

#include "extract/folder_path.h"
#include "extract/private_folder_security.h"

namespace {

constexpr uint32_t ALL_ROWS = (1u << ENTRY_COUNT) - 1;

// What RemoveItem is given.
enum class ItemKind {
  File,
  // A folder that may hold items nobody deleted: refused as not empty, it
  // stays.
  Folder,
  // A folder whose every item was just deleted by the caller: refused as not
  // empty, it still holds a deletion that is pending.
  EmptiedFolder,
};

// The short holds of a deletion: refusals that pass once another program
// lets go of the file. A sharing or lock violation; access denied, which is
// also what Windows answers for a file whose deletion is pending; and, for a
// folder whose items were all just deleted, not empty: on Windows 7 and 8.1,
// and on FAT and exFAT, a deleted file stays in its folder until the last
// program that has it open (with delete sharing, as scanners open files)
// lets go. Not found, a reparse point, a file where a folder is wanted never
// pass.
bool IsShortHoldOnRemoval(DWORD error, ItemKind kind) {
  if (error == ERROR_DIR_NOT_EMPTY) return kind == ItemKind::EmptiedFolder;
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// One try at deleting the file at path: ERROR_SUCCESS when it is gone (or
// was never there), else why not. A reparse point in a file's place is not
// what the launcher wrote or emptied: clearing its mark or deleting it could
// reach what it points to.
DWORD TryDeleteFile(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return IsMissingError(error) ? ERROR_SUCCESS : error;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return ERROR_STOPPED_ON_SYMLINK;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_DIRECTORY;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(path) ? ERROR_SUCCESS : GetLastError();
}

// One try at removing the folder at path that hold holds or held: its
// read-only mark is cleared while the hold still makes sure the name is the
// held folder's.
DWORD TryRemoveFolder(HeldFolder& hold, const wchar_t* path) {
  if (hold.Held()) SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
  const FolderResult removed = hold.ReleaseAndRemove(path);
  return removed.Ok() || removed.fault == FolderFault::Missing ? ERROR_SUCCESS : removed.error;
}

// The one deletion step of the launcher: deletes the file at path (hold
// null), or ends hold and removes the folder it holds at path. A try that a
// short hold refuses is made again under pace. ERROR_SUCCESS when the item is
// gone or its deletion is pending (it goes when the last program lets go),
// else the error of the last try.
DWORD RemoveItem(const wchar_t* path, ItemKind kind, HeldFolder* hold, RetryPace& pace) {
  assert((kind == ItemKind::File) == (hold == nullptr));
  DWORD error;
  do {
    error = hold == nullptr ? TryDeleteFile(path) : TryRemoveFolder(*hold, path);
  } while (error != ERROR_SUCCESS && pace.PauseAfterFailure(IsShortHoldOnRemoval(error, kind)));
  return error;
}

DWORD EmptyFolder(wchar_t (&path)[MAX_PATH], size_t length, RetryPace& pace);

// Removes one item of a folder being emptied: path names it (length
// characters), attributes are those the listing gave.
DWORD RemoveListedItem(wchar_t (&path)[MAX_PATH], size_t length, DWORD attributes, RetryPace& pace) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return ERROR_STOPPED_ON_SYMLINK;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return RemoveItem(path, ItemKind::File, nullptr, pace);
  // Held while it is emptied, so that the names below it stay its own.
  HeldFolder folder;
  const FolderResult held = folder.Hold(path);
  if (held.fault == FolderFault::Missing) return ERROR_SUCCESS;  // gone meanwhile
  if (!held.Ok()) return held.error;
  const DWORD error = EmptyFolder(path, length, pace);
  return error != ERROR_SUCCESS ? error : RemoveItem(path, ItemKind::EmptiedFolder, &folder, pace);
}

// Deletes everything in the folder at path (length characters, no trailing
// backslash), which the caller holds; path is restored on return.
// ERROR_SUCCESS when all went, else the error of the first item that did not
// (ERROR_STOPPED_ON_SYMLINK for a reparse point), where the emptying stops.
// Each level takes one more hold and a listing on the stack, and the path
// buffer bounds the depth.
DWORD EmptyFolder(wchar_t (&path)[MAX_PATH], size_t length, RetryPace& pace) {
  if (length + 2 >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  wcscpy(path + length, L"\\*");
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(path, &found);
  path[length] = L'\0';
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
  }
  DWORD error = ERROR_SUCCESS;
  do {
    const wchar_t* name = found.cFileName;
    if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) continue;
    const size_t nameLength = wcslen(name);
    if (length + 1 + nameLength >= MAX_PATH) {
      error = ERROR_FILENAME_EXCED_RANGE;
      break;
    }
    path[length] = L'\\';
    wcscpy(path + length + 1, name);
    error = RemoveListedItem(path, length + 1 + nameLength, found.dwFileAttributes, pace);
    path[length] = L'\0';
  } while (error == ERROR_SUCCESS && FindNextFileW(search, &found));
  if (error == ERROR_SUCCESS && GetLastError() != ERROR_NO_MORE_FILES) error = GetLastError();
  FindClose(search);
  return error;
}

// True when every item in the folder at path is one of the count names
// (ANSI, compared without regard to case, as the file system does): what is
// left is only what the caller deleted, its deletion still pending.
bool HoldsOnly(const wchar_t* path, const char* const* names, int count) {
  wchar_t pattern[MAX_PATH];
  const size_t length = wcslen(path);
  if (length + 2 >= MAX_PATH) return false;
  wcscpy(pattern, path);
  wcscpy(pattern + length, L"\\*");
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool only = true;
  do {
    const wchar_t* name = found.cFileName;
    if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) continue;
    bool known = false;
    for (int i = 0; i < count && !known; ++i) {
      wchar_t wide[MAX_PATH];
      known = ToWidePath(names[i], wide) && lstrcmpiW(wide, name) == 0;
    }
    only = known;
  } while (only && FindNextFileW(search, &found));
  FindClose(search);
  return only;
}

// Makes the folder at path (no trailing backslash) afresh and holds it:
// whatever is there is emptied and removed through the hold, then the folder
// is created with security and held again. A folder that appears between the
// removal and the creation fails the creation (ERROR_ALREADY_EXISTS).
PrepareResult MakeFresh(const char* path, HeldFolder& hold, PrivateFolderSecurity& security, RetryPace& pace) {
  const FolderResult held = hold.Hold(path);
  switch (held.fault) {
    case FolderFault::None: {
      wchar_t wide[MAX_PATH];
      if (!ToWidePath(path, wide)) return PrepareResult::Failed(PrepareFault::NotEmptied, ERROR_NO_UNICODE_TRANSLATION);
      DWORD error = EmptyFolder(wide, wcslen(wide), pace);
      if (error == ERROR_SUCCESS) error = RemoveItem(wide, ItemKind::EmptiedFolder, &hold, pace);
      if (error == ERROR_STOPPED_ON_SYMLINK) return PrepareResult::Failed(PrepareFault::Link, error);
      if (error != ERROR_SUCCESS) return PrepareResult::Failed(PrepareFault::NotEmptied, error);
      break;
    }
    case FolderFault::Missing: break;
    case FolderFault::Link: return PrepareResult::Failed(PrepareFault::Link, held.error);
    case FolderFault::NotFolder: return PrepareResult::Failed(PrepareFault::NotFolder, held.error);
    case FolderFault::Refused: return PrepareResult::Failed(PrepareFault::NotEmptied, held.error);
  }
  if (!CreateDirectoryA(path, security.Attributes())) {
    return PrepareResult::Failed(PrepareFault::NotMade, GetLastError());
  }
  const FolderResult made = hold.Hold(path);
  return made.Ok() ? PrepareResult() : PrepareResult::Failed(PrepareFault::NotMade, made.error);
}

}  // namespace

void OwnFolders::SetDestination(const char* destination, bool ownsDestination) {
  destinationHold.Release();
  for (HeldFolder& hold : subFolderHolds) hold.Release();
  destinationOwned = ownsDestination;
  paths = DestinationPaths(destination);
}

PrepareResult OwnFolders::Prepare() {
  // Nothing may be held yet: a second preparation would empty folders the
  // job has written to.
  assert(!destinationHold.Held());
  if (!paths.FoldersFit()) return PrepareResult::Failed(PrepareFault::PathTooLong, ERROR_FILENAME_EXCED_RANGE);
  PrivateFolderSecurity security;
  if (security.Attributes() == nullptr) return PrepareResult::Failed(PrepareFault::NoSecurity, security.Error());
  // One budget for everything the preparation waits for.
  RetryPace pace;
  if (destinationOwned) {
    const PrepareResult made = MakeFresh(paths.Destination(), destinationHold, security, pace);
    if (!made.Ok()) return made;
  } else if (CreateFolderPath(paths.Destination()) == FolderPathResult::NotFolder) {
    // The temporary folder, or a level above it, is a file. Any other
    // failure shows up below, as a sub-folder that cannot be created.
    return PrepareResult::Failed(PrepareFault::NotFolder, ERROR_DIRECTORY);
  }
  for (int i = 0; i < CLEANUP_FOLDER_COUNT; ++i) {
    assert(!subFolderHolds[i].Held());
    const PrepareResult made = MakeFresh(paths.SubFolder(i), subFolderHolds[i], security, pace);
    if (!made.Ok()) return made;
  }
  return PrepareResult();
}

void OwnFolders::HoldExisting() {
  if (!paths.FoldersFit()) return;
  if (destinationOwned && !destinationHold.Held() && !destinationHold.Hold(paths.Destination()).Ok()) return;
  for (int i = 0; i < CLEANUP_FOLDER_COUNT; ++i) {
    if (!subFolderHolds[i].Held()) subFolderHolds[i].Hold(paths.SubFolder(i));
  }
}

void OwnFolders::RemoveJobFiles(uint32_t rows, RemovalSteps& steps) {
  assert((rows & ~ALL_ROWS) == 0);
  RetryPace pace;
  RemoveFolders(RemoveFiles(rows, &steps, pace), false, pace);
}

void OwnFolders::RemoveEverything() {
  RetryPace pace;
  HoldExisting();
  RemoveFolders(RemoveFiles(ALL_ROWS, nullptr, pace), true, pace);
}

uint32_t OwnFolders::RemoveFiles(uint32_t rows, RemovalSteps* steps, RetryPace& pace) {
  uint32_t gone = 0;
  for (int row = 0; row < ENTRY_COUNT; ++row) {
    if (!(rows & (1u << row))) continue;
    const char* path = paths.Entry(row);
    const int folder = DestinationPaths::SubFolderOfRow(row);
    wchar_t wide[MAX_PATH];
    if (path != nullptr && subFolderHolds[folder].Held() && ToWidePath(path, wide) &&
        RemoveItem(wide, ItemKind::File, nullptr, pace) == ERROR_SUCCESS) {
      gone |= 1u << row;
    }
    if (steps != nullptr) steps->FileDealtWith();
  }
  return gone;
}

void OwnFolders::RemoveFolders(uint32_t gone, bool destinationToo, RetryPace& pace) {
  const char* removedFolders[CLEANUP_FOLDER_COUNT];
  int removedCount = 0;
  for (int i = 0; i < CLEANUP_FOLDER_COUNT; ++i) {
    wchar_t wide[MAX_PATH];
    if (!subFolderHolds[i].Held() || !ToWidePath(paths.SubFolder(i), wide)) continue;
    const char* deleted[ENTRY_COUNT];
    int deletedCount = 0;
    for (int row = 0; row < ENTRY_COUNT; ++row) {
      if ((gone & (1u << row)) && DestinationPaths::SubFolderOfRow(row) == i) {
        deleted[deletedCount++] = EntryTable[row].fileName;
      }
    }
    const ItemKind kind = HoldsOnly(wide, deleted, deletedCount) ? ItemKind::EmptiedFolder : ItemKind::Folder;
    if (RemoveItem(wide, kind, &subFolderHolds[i], pace) == ERROR_SUCCESS) {
      removedFolders[removedCount++] = CleanupFolders[i];
    }
  }
  wchar_t wide[MAX_PATH];
  if (!destinationToo || !destinationHold.Held() || !ToWidePath(paths.Destination(), wide)) return;
  const ItemKind kind = HoldsOnly(wide, removedFolders, removedCount) ? ItemKind::EmptiedFolder : ItemKind::Folder;
  RemoveItem(wide, kind, &destinationHold, pace);
}
