#include "extract/held_folder.h"

#include <utility>

#include "common/dll_search.h"

namespace {

// FileDispositionInfo of SetFileInformationByHandle (since Vista), which the
// headers of older systems lack; its data is FILE_DISPOSITION_INFO, one
// BOOLEAN.
constexpr int FILE_DISPOSITION_INFO_CLASS = 4;

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

}  // namespace

bool ToWidePath(const char* path, wchar_t (&wide)[MAX_PATH]) {
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, MAX_PATH) != 0;
}

FolderResult HeldFolder::Hold(const char* path) {
  Release();
  wchar_t wide[MAX_PATH];
  if (!ToWidePath(path, wide)) return FolderResult::Failed(FolderFault::Refused, ERROR_NO_UNICODE_TRANSLATION);
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
