// A DLL that tests plant beside a program under a system DLL's name. When a
// process loads it, it leaves a file "<its own path>.loaded", so a test sees
// afterwards whether the planted copy was taken. It does nothing else; a
// process that loaded it in earnest would then fail, which does not matter.
#include <windows.h>

#include <cstring>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    char path[MAX_PATH + 8];
    const DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      std::strcpy(path + length, ".loaded");
      HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    }
  }
  return TRUE;
}
