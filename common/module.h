// The module instance handle: process-wide, stored once by the entry and
// read by the window and dialog objects (to create windows, dialogs and
// classes) and by the bundle reader (to find the program's own file).
#pragma once

#include <windows.h>

// The stored handle. Before the entry has stored one (in test programs) it
// is the handle of the running executable.
HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);
