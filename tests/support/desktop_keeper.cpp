// Keeps the Wine desktop open while a test run lasts. Wine closes a desktop a
// few seconds after the last program using it has ended and opens it again
// for the next one; a program that starts while it closes has been seen to
// stall for 20 to 50 seconds. This program holds one hidden window, so the
// desktop always has a user, and waits until the Wine server is stopped.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "ZephraDesktopKeeper";
  if (!RegisterClassA(&windowClass)) return 1;
  if (!CreateWindowExA(0, windowClass.lpszClassName, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr)) {
    return 1;
  }
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}
