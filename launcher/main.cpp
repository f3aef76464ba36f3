#include <windows.h>

#include "launcher/launcher.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  return RunLauncher(instance, commandLine);
}
