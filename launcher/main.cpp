#include <windows.h>

#include "common/dll_search.h"
#include "launcher/launcher.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  // Before anything can load a DLL: none is ever taken from the launcher's
  // own folder (common/dll_search.h).
  LimitDllSearch();
  return RunLauncher(instance, commandLine);
}
