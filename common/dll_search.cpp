#include "common/dll_search.h"

#include "common/paths.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

bool LimitDllSearch() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCSTR);
  auto setDefault = Kernel32Function<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories");
  if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
  auto setDirectory = Kernel32Function<SetDllDirectoryFunction>("SetDllDirectoryA");
  if (setDirectory != nullptr) setDirectory("");
  return false;
}

HMODULE LoadSystemLibrary(const char* name) {
  char path[MAX_PATH];
  const UINT length = GetSystemDirectoryA(path, sizeof path);
  if (length == 0 || length >= sizeof path) return nullptr;
  if (!AppendPath(path, sizeof path, "\\") || !AppendPath(path, sizeof path, name)) return nullptr;
  return LoadLibraryA(path);
}
