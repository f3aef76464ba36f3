#include "extract/own_folders.h"

#include <cassert>

#include <cstring>
#include <cwchar>
#include <utility>

#include "common/dll_search.h"
#include "common/last_error.h"
#include "extract/folder_path.h"

namespace {

// FileDispositionInfo of SetFileInformationByHandle (since Vista), which the
// headers of older systems lack; its data is FILE_DISPOSITION_INFO, one
// BOOLEAN.
constexpr int FILE_DISPOSITION_INFO_CLASS = 4;

// ERROR_SUCCESS when attributes are those of a plain folder, else the error
// that says why not.
DWORD NotPlainFolderError(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return ERROR_STOPPED_ON_SYMLINK;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_DIRECTORY;
  return ERROR_SUCCESS;
}

bool IsMissingError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool ToWide(const char* path, wchar_t (&wide)[MAX_PATH]) {
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, MAX_PATH) != 0;
}

bool EmptyFolder(wchar_t (&path)[MAX_PATH], size_t length);

// Removes one item of a folder being emptied; path names it (length
// characters) and the attributes are those its folder listed.
bool RemoveItem(wchar_t (&path)[MAX_PATH], size_t length, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    SetLastError(ERROR_STOPPED_ON_SYMLINK);
    return false;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    // Held while it is emptied, so that the names below it stay its own.
    HeldFolder folder;
    return folder.Hold(path) && EmptyFolder(path, length) && folder.ReleaseAndRemove(path);
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(path) != FALSE;
}

// Deletes everything in the folder at path (length characters, no trailing
// backslash), which the caller holds; path is restored on return. Stops at
// the first item that cannot be removed, a reparse point among them. Each
// level takes one more hold and a listing on the stack, and the path buffer
// bounds the depth.
bool EmptyFolder(wchar_t (&path)[MAX_PATH], size_t length) {
  if (length + 2 >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  wcscpy(path + length, L"\\*");
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(path, &found);
  path[length] = L'\0';
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  bool emptied = true;
  do {
    const wchar_t* name = found.cFileName;
    if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) continue;
    const size_t nameLength = wcslen(name);
    if (length + 1 + nameLength >= MAX_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      emptied = false;
      break;
    }
    path[length] = L'\\';
    wcscpy(path + length + 1, name);
    emptied = RemoveItem(path, length + 1 + nameLength, found.dwFileAttributes);
    path[length] = L'\0';
  } while (emptied && FindNextFileW(search, &found));
  if (emptied && GetLastError() != ERROR_NO_MORE_FILES) emptied = false;
  PreserveLastError keep;
  FindClose(search);
  return emptied;
}

// Makes the folder at path (no trailing backslash) afresh and holds it:
// whatever is there is emptied and removed through the hold, then the folder
// is created with security and held again. A folder that appears between the
// removal and the creation fails the creation (ERROR_ALREADY_EXISTS).
bool MakeFresh(const char* path, HeldFolder& hold, PrivateFolderSecurity& security) {
  if (hold.Hold(path)) {
    wchar_t wide[MAX_PATH];
    if (!ToWide(path, wide) || !EmptyFolder(wide, wcslen(wide)) || !hold.ReleaseAndRemove(wide)) return false;
  } else if (!IsMissingError(GetLastError())) {
    return false;
  }
  return CreateDirectoryA(path, security.Attributes()) && hold.Hold(path);
}

// Deletes one entry's file, trying again under pace while a short hold
// refuses it. A reparse point in the file's place is not what the job wrote:
// clearing its mark or deleting it could reach what it points to. A missing
// file ends the work: there is nothing to wait for.
void DeleteEntryFile(const char* path, RetryPace& pace) {
  do {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(path)) return;
  } while (pace.PauseAfterFailure(IsShortHoldError(GetLastError())));
}

// Ends a hold and removes its folder when empty, trying again under pace
// while a short hold refuses it. The read-only mark is cleared first, as it
// would refuse the removal; the held name can only be the held folder's.
void RemoveHeldFolder(HeldFolder& hold, const char* path, RetryPace& pace) {
  if (!hold.Held()) return;
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  while (!hold.ReleaseAndRemove(path) && pace.PauseAfterFailure(IsShortHoldError(GetLastError()))) {
  }
}

}  // namespace

bool HeldFolder::Hold(const char* path) {
  Release();
  wchar_t wide[MAX_PATH];
  return ToWide(path, wide) && Hold(wide);
}

// Listing rights make the hold count in the platform's sharing checks, which
// pass over a handle opened for its attributes alone.
bool HeldFolder::Hold(const wchar_t* path) { return Open(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES); }

bool HeldFolder::Open(const wchar_t* path, DWORD access) {
  Release();
  FileHandle folder(CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder.IsValid()) return false;
  BY_HANDLE_FILE_INFORMATION opened;
  DWORD error = GetFileInformationByHandle(folder.Get(), &opened) ? NotPlainFolderError(opened.dwFileAttributes)
                                                                  : GetLastError();
  if (error == ERROR_SUCCESS) {
    const DWORD named = GetFileAttributesW(path);
    error = named == INVALID_FILE_ATTRIBUTES ? GetLastError() : NotPlainFolderError(named);
  }
  if (error != ERROR_SUCCESS) {
    SetLastError(error);  // kept across the close of folder
    return false;
  }
  handle = std::move(folder);
  return true;
}

bool HeldFolder::ReleaseAndRemove(const char* path) {
  Release();
  wchar_t wide[MAX_PATH];
  return ToWide(path, wide) && ReleaseAndRemove(wide);
}

bool HeldFolder::ReleaseAndRemove(const wchar_t* path) {
  using SetInformationFunction = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
  static const auto setInformation = Kernel32Function<SetInformationFunction>("SetFileInformationByHandle");
  Release();
  if (setInformation == nullptr) {
    // Before Vista: checked, then removed by name. RemoveDirectory removes a
    // junction put there in between, never what it points to.
    if (!Open(path, FILE_READ_ATTRIBUTES)) return false;
    Release();
    return RemoveDirectoryW(path) != FALSE;
  }
  if (!Open(path, FILE_READ_ATTRIBUTES | DELETE)) return false;
  BOOLEAN deleteFolder = TRUE;
  const bool removed =
      setInformation(handle.Get(), FILE_DISPOSITION_INFO_CLASS, &deleteFolder, sizeof deleteFolder) != FALSE;
  // The folder goes as its last handle closes: this one, unless some other
  // program has it open too (with delete sharing).
  Release();
  assert(!Held());
  return removed;
}

PrivateFolderSecurity::PrivateFolderSecurity()
    : userSid(), systemSid(), administratorsSid(), aclBytes(), descriptor(), attributes() {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return;
  KernelHandle token(opened);
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } tokenUser;
  DWORD size = 0;
  const BOOL read = GetTokenInformation(token.Get(), TokenUser, &tokenUser, sizeof tokenUser, &size);
  token.Close();
  if (!read || !CopySid(sizeof userSid, userSid, tokenUser.user.User.Sid)) return;

  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  InitializeSid(systemSid, &ntAuthority, 1);
  *GetSidSubAuthority(systemSid, 0) = SECURITY_LOCAL_SYSTEM_RID;
  InitializeSid(administratorsSid, &ntAuthority, 2);
  *GetSidSubAuthority(administratorsSid, 0) = SECURITY_BUILTIN_DOMAIN_RID;
  *GetSidSubAuthority(administratorsSid, 1) = DOMAIN_ALIAS_RID_ADMINS;

  PACL acl = reinterpret_cast<PACL>(aclBytes);
  if (!InitializeAcl(acl, sizeof aclBytes, ACL_REVISION)) return;
  const PSID sids[] = {userSid, systemSid, administratorsSid};
  for (PSID sid : sids) {
    if (!AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS, sid)) {
      return;
    }
  }
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return;
  }
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = &descriptor;
  attributes.bInheritHandle = FALSE;
  built = true;
}

void OwnFolders::SetDestination(const char* destination, bool ownsDestination) {
  destinationHold.Release();
  for (HeldFolder& hold : subFolderHolds) hold.Release();
  destinationOwned = ownsDestination;
  // Folders are named without their trailing backslash: with it, a lookup by
  // name goes on through a link to what it points to.
  pathsFit = CopyPath(destinationPath, sizeof destinationPath, destination) &&
              AppendBackslash(destinationPath, sizeof destinationPath);
  const size_t length = strlen(destinationPath);
  if (length > 0) destinationPath[length - 1] = '\0';
  for (int i = 0; i < CLEANUP_FOLDER_COUNT; ++i) {
    char* path = subFolderPaths[i];
    pathsFit = pathsFit && CopyPath(path, PATH_CAPACITY, destinationPath) && AppendPath(path, PATH_CAPACITY, "\\") &&
                AppendPath(path, PATH_CAPACITY, CleanupFolders[i]);
  }
  for (int row = 0; row < ENTRY_COUNT; ++row) {
    char* path = entryPaths[row];
    entryFits[row] = pathsFit && CopyPath(path, PATH_CAPACITY, destinationPath) &&
                     AppendPath(path, PATH_CAPACITY, "\\") && AppendPath(path, PATH_CAPACITY, EntryTable[row].folderPrefix) &&
                     AppendPath(path, PATH_CAPACITY, EntryTable[row].fileName);
  }
}

bool OwnFolders::Prepare() {
  if (!pathsFit) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  PrivateFolderSecurity security;
  if (security.Attributes() == nullptr) return false;
  if (destinationOwned) {
    if (!MakeFresh(destinationPath, destinationHold, security)) return false;
  } else {
    // A missing level of the user's folder shows up below, as a sub-folder
    // that cannot be created.
    CreateFolderPath(destinationPath);
  }
  for (int i = 0; i < CLEANUP_FOLDER_COUNT; ++i) {
    if (!MakeFresh(subFolderPaths[i], subFolderHolds[i], security)) return false;
  }
  // Every folder made is held from its check on.
  for (int i = 0; i < CLEANUP_FOLDER_COUNT; ++i) assert(subFolderHolds[i].Held());
  assert(!destinationOwned || destinationHold.Held());
  return true;
}

void OwnFolders::HoldExisting() {
  if (!pathsFit) return;
  if (destinationOwned && !destinationHold.Held() && !destinationHold.Hold(destinationPath)) return;
  for (int i = 0; i < CLEANUP_FOLDER_COUNT; ++i) {
    if (!subFolderHolds[i].Held()) subFolderHolds[i].Hold(subFolderPaths[i]);
  }
}

bool OwnFolders::HoldsFolderOf(const char* prefix) const {
  for (int i = 0; i < CLEANUP_FOLDER_COUNT; ++i) {
    const size_t length = strlen(CleanupFolders[i]);
    if (subFolderHolds[i].Held() && strncmp(prefix, CleanupFolders[i], length) == 0 && prefix[length] == '\\' &&
        prefix[length + 1] == '\0') {
      return true;
    }
  }
  return false;
}

void OwnFolders::RemoveEntries(uint32_t rows, bool everything, void (*afterEachFile)(void*), void* context) {
  RetryPace pace;
  if (everything) HoldExisting();
  for (int row = 0; row < ENTRY_COUNT; ++row) {
    if (!(rows & (1u << row))) continue;
    const char* path = EntryPath(row);
    if (path != nullptr && HoldsFolderOf(EntryTable[row].folderPrefix)) DeleteEntryFile(path, pace);
    if (afterEachFile != nullptr) afterEachFile(context);
  }
  RemoveEmpty(everything, pace);
}

void OwnFolders::RemoveEmpty(bool destinationToo, RetryPace& pace) {
  for (int i = 0; i < CLEANUP_FOLDER_COUNT; ++i) RemoveHeldFolder(subFolderHolds[i], subFolderPaths[i], pace);
  if (destinationToo) RemoveHeldFolder(destinationHold, destinationPath, pace);
}
