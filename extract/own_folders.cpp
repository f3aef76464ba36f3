#include "extract/own_folders.h"

#include <cassert>

#include <cstring>
#include <cwchar>
#include <utility>

#include "common/dll_search.h"
#include "extract/folder_path.h"

namespace {

// FileDispositionInfo of SetFileInformationByHandle (since Vista), which the
// headers of older systems lack; its data is FILE_DISPOSITION_INFO, one
// BOOLEAN.
constexpr int FILE_DISPOSITION_INFO_CLASS = 4;

constexpr uint32_t ALL_ROWS = (1u << ENTRY_COUNT) - 1;

bool IsMissingError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The fault of a folder's attributes: None for a plain folder.
FolderResult CheckPlainFolder(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return FolderResult::Failed(FolderFault::Link, ERROR_STOPPED_ON_SYMLINK);
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return FolderResult::Failed(FolderFault::NotFolder, ERROR_DIRECTORY);
  return FolderResult();
}

FolderResult LookupFailed(DWORD error) {
  return FolderResult::Failed(IsMissingError(error) ? FolderFault::Missing : FolderFault::Refused, error);
}

bool ToWide(const char* path, wchar_t (&wide)[MAX_PATH]) {
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, MAX_PATH) != 0;
}

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
      known = ToWide(names[i], wide) && lstrcmpiW(wide, name) == 0;
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
      if (!ToWide(path, wide)) return PrepareResult::Failed(PrepareFault::NotEmptied, ERROR_NO_UNICODE_TRANSLATION);
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

FolderResult HeldFolder::Hold(const char* path) {
  Release();
  wchar_t wide[MAX_PATH];
  if (!ToWide(path, wide)) return FolderResult::Failed(FolderFault::Refused, ERROR_NO_UNICODE_TRANSLATION);
  return Hold(wide);
}

// Listing rights make the hold count in the platform's sharing checks, which
// pass over a handle opened for its attributes alone.
FolderResult HeldFolder::Hold(const wchar_t* path) { return Open(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES); }

FolderResult HeldFolder::Open(const wchar_t* path, DWORD access) {
  Release();
  FileHandle folder(CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder.IsValid()) return LookupFailed(GetLastError());
  BY_HANDLE_FILE_INFORMATION opened;
  if (!GetFileInformationByHandle(folder.Get(), &opened)) return LookupFailed(GetLastError());
  FolderResult checked = CheckPlainFolder(opened.dwFileAttributes);
  if (checked.Ok()) {
    const DWORD named = GetFileAttributesW(path);
    checked = named == INVALID_FILE_ATTRIBUTES ? LookupFailed(GetLastError()) : CheckPlainFolder(named);
  }
  if (checked.Ok()) handle = std::move(folder);
  return checked;
}

FolderResult HeldFolder::ReleaseAndRemove(const wchar_t* path) {
  using SetInformationFunction = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
  const auto setInformation = Kernel32Function<SetInformationFunction>("SetFileInformationByHandle");
  Release();
  if (setInformation == nullptr) {
    // Before Vista: checked, then removed by name. RemoveDirectory removes a
    // junction put there in between, never what it points to.
    const FolderResult checked = Open(path, FILE_READ_ATTRIBUTES);
    Release();
    if (!checked.Ok()) return checked;
    return RemoveDirectoryW(path) ? FolderResult() : LookupFailed(GetLastError());
  }
  const FolderResult checked = Open(path, FILE_READ_ATTRIBUTES | DELETE);
  if (!checked.Ok()) return checked;
  BOOLEAN deleteFolder = TRUE;
  FolderResult removed;
  if (!setInformation(handle.Get(), FILE_DISPOSITION_INFO_CLASS, &deleteFolder, sizeof deleteFolder)) {
    removed = FolderResult::Failed(FolderFault::Refused, GetLastError());
  }
  // The folder goes as its last handle closes: this one, unless some other
  // program has it open too (with delete sharing).
  Release();
  return removed;
}

PrivateFolderSecurity::PrivateFolderSecurity()
    : userSid(), systemSid(), administratorsSid(), aclBytes(), descriptor(), attributes() {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) {
    error = GetLastError();
    return;
  }
  KernelHandle token(opened);
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } tokenUser;
  DWORD size = 0;
  if (!GetTokenInformation(token.Get(), TokenUser, &tokenUser, sizeof tokenUser, &size) ||
      !CopySid(sizeof userSid, userSid, tokenUser.user.User.Sid)) {
    error = GetLastError();
    return;
  }
  token.Close();

  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  InitializeSid(systemSid, &ntAuthority, 1);
  *GetSidSubAuthority(systemSid, 0) = SECURITY_LOCAL_SYSTEM_RID;
  InitializeSid(administratorsSid, &ntAuthority, 2);
  *GetSidSubAuthority(administratorsSid, 0) = SECURITY_BUILTIN_DOMAIN_RID;
  *GetSidSubAuthority(administratorsSid, 1) = DOMAIN_ALIAS_RID_ADMINS;

  PACL acl = reinterpret_cast<PACL>(aclBytes);
  bool built = InitializeAcl(acl, sizeof aclBytes, ACL_REVISION) != FALSE;
  const PSID sids[] = {userSid, systemSid, administratorsSid};
  for (PSID sid : sids) {
    built = built &&
            AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS, sid);
  }
  built = built && InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
          SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  if (!built) {
    error = GetLastError();
    return;
  }
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = &descriptor;
  attributes.bInheritHandle = FALSE;
  error = ERROR_SUCCESS;
}

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
    if (path != nullptr && subFolderHolds[folder].Held() && ToWide(path, wide) &&
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
    if (!subFolderHolds[i].Held() || !ToWide(paths.SubFolder(i), wide)) continue;
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
  if (!destinationToo || !destinationHold.Held() || !ToWide(paths.Destination(), wide)) return;
  const ItemKind kind = HoldsOnly(wide, removedFolders, removedCount) ? ItemKind::EmptiedFolder : ItemKind::Folder;
  RemoveItem(wide, kind, &destinationHold, pace);
}
