// Where the launcher's process looks for DLLs.
//
// A self-extractor is usually started from a folder that others can write
// to (a downloads folder, a temporary folder), so a DLL planted beside it
// must never be loaded. The launcher therefore imports at load time only
// DLLs that Windows always takes from its system folder (the known DLLs:
// KERNEL32, USER32, GDI32, ADVAPI32, msvcrt), restricts the search to the
// system folder as its first act, and loads every other DLL it needs by its
// full path in the system folder.
#pragma once

#include <windows.h>

// Restricts the DLL search of this process to the system folder
// (SetDefaultDllDirectories with LOAD_LIBRARY_SEARCH_SYSTEM32). Systems
// without that call (before Windows 8 without its update) at least drop the
// current folder from the search (SetDllDirectoryA with an empty string).
// Both are looked up at run time, so the launcher starts on systems that
// have neither. True when the search is limited to the system folder.
bool LimitDllSearch();

// Loads the named DLL from the system folder by its full path, whatever the
// search order; null when the path does not fit or the load fails.
HMODULE LoadSystemLibrary(const char* name);

// A function of KERNEL32, which every process has loaded, looked up at run
// time: for calls that not every supported system has. Null when absent.
template <typename Function>
Function Kernel32Function(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}
