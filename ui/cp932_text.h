// Showing the launcher's texts, which are stored in code page 932, right
// whatever the system's ANSI code page is. The ANSI calls read their bytes in
// the system's code page, so on any Windows but a Japanese one (and on a
// Japanese one with UTF-8 as its code page) they would draw mojibake. These
// convert the bytes with code page 932 itself and call the UTF-16 function;
// where code page 932 is not installed, or a text does not convert, they fall
// back to the ANSI call, which is right exactly where the system's code page
// is 932.
#pragma once

#include <windows.h>

// SetWindowTextW with text read as code page 932.
BOOL SetWindowTextCp932(HWND window, const char* text);

// MessageBoxW with text and caption read as code page 932.
int MessageBoxCp932(HWND owner, const char* text, const char* caption, UINT type);
