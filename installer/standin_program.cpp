// Takes the place of one of the bundle's other programs (autorun.exe,
// setup.exe, unsetup.exe, zephra.exe): a real, small Windows program, so that
// the payload carries executables as the shipped bundle does. The launcher
// only writes and removes these; started by hand, one names itself.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  MessageBoxW(nullptr, L"ゼフラクエストＱＸ(体験版Ｂ): " STANDIN_PROGRAM_NAME L" の代役です。",
              STANDIN_PROGRAM_NAME, MB_OK | MB_ICONINFORMATION);
  return 0;
}
