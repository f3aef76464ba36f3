#include "extract/folder_path.h"

#include <windows.h>

#include <cstring>

#include "common/paths.h"

namespace {

// Lookup failures that mean "this level is not there" rather than "this
// level cannot be looked at".
bool IsMissingLevelError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES ||
         error == ERROR_NOT_ENOUGH_MEMORY;
}

// A drive designator such as "C:": two bytes, the second a colon (and the
// first not the lead byte of a double-byte character).
bool IsDriveDesignator(const char* level) {
  return strlen(level) == 2 && level[1] == ':' && !IsDBCSLeadByte(static_cast<BYTE>(level[0]));
}

bool HasWildcard(const char* level) { return strpbrk(level, "*?") != nullptr; }

// Looks up one level (the buffer cut just after it). Returns
// Existed, Created when the level is missing (it is to be created), or a
// negative result that ends the walk.
FolderPathResult LookUpLevel(const char* level) {
  if (IsDriveDesignator(level)) {
    const char root[4] = {level[0], ':', '\\', '\0'};
    return GetDriveTypeA(root) == DRIVE_NO_ROOT_DIR ? FolderPathResult::NoRoot : FolderPathResult::Existed;
  }
  // FindFirstFileA takes wildcards; a level holding one would be answered by
  // whatever item happens to match.
  if (HasWildcard(level)) return FolderPathResult::NoRoot;
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(level, &found);
  if (search == INVALID_HANDLE_VALUE) {
    return IsMissingLevelError(GetLastError()) ? FolderPathResult::Created : FolderPathResult::NoRoot;
  }
  FindClose(search);
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FolderPathResult::Existed
                                                             : FolderPathResult::NotFolder;
}

}  // namespace

FolderPathResult CreateFolderPath(const char* path) {
  char buffer[PATH_CAPACITY];
  // A cut copy would name some other folder: refuse before touching anything.
  if (!CopyPath(buffer, sizeof buffer, path) || !AppendBackslash(buffer, sizeof buffer)) {
    return FolderPathResult::CreateFailed;
  }

  // Walk down while the levels exist; b stops at the first missing one.
  char* b = FindNextBackslash(buffer);
  FolderPathResult result = FolderPathResult::Existed;
  while (b != nullptr) {
    *b = '\0';
    result = LookUpLevel(buffer);
    if (result != FolderPathResult::Existed) break;
    *b = '\\';
    b = FindNextBackslash(b + 1);
  }
  if (result != FolderPathResult::Created) return result;

  // Create that level and every one below it, in order. The last backslash
  // is the trailing one, so the path's own last level is created last.
  while (b != nullptr) {
    *b = '\0';
    if (!CreateDirectoryA(buffer, nullptr)) return FolderPathResult::CreateFailed;
    *b = '\\';
    b = FindNextBackslash(b + 1);
  }
  return FolderPathResult::Created;
}
