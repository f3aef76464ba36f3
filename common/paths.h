// Path rules shared by every part of the launcher. Paths are ANSI text in
// fixed buffers of PATH_CAPACITY bytes; folder paths end with a backslash.
// Text is always walked character by character in the ANSI code page, so the
// trail byte of a double-byte character (which may be 0x5C) is never taken for
// a backslash and a copy never ends inside such a character.
#pragma once

#include <cstddef>

constexpr size_t PATH_CAPACITY = 260;

// Fills buffer (capacity bytes, at most PATH_CAPACITY of them used) with an ANSI form of path, a full path in
// UTF-16, that names exactly the same file or folder: path itself when it
// converts to the ANSI code page without loss and fits, else its short (8.3)
// form when that does. False, with buffer empty, when neither does: the
// platform's own conversion would have put a best-fit look-alike in place of
// every character the code page lacks ("cafe" for "café", a backslash for
// "¥", "?" for "한"), naming another folder or none. The short form needs the
// file or folder to exist.
bool ExactAnsiPath(const wchar_t* path, char* buffer, size_t capacity);

// The last backslash of text, found by the code-page-aware walk, or null.
const char* FindLastBackslash(const char* text);

// The first backslash at or after text, found the same way, or null.
char* FindNextBackslash(char* text);

// Makes path end with a backslash: unchanged when its last character already
// is one, else "\" is appended; an empty path becomes "\". Returns false and
// leaves path unchanged when the backslash does not fit in capacity bytes
// (the NUL included).
bool AppendBackslash(char* path, size_t capacity);

// Copies source into destination (capacity bytes, NUL included). When it does
// not fit, copies the longest prefix that ends on a character boundary and
// returns false. capacity must be at least 1.
bool CopyPath(char* destination, size_t capacity, const char* source);

// Appends source to the text in destination under the same rule: returns
// false, with as much as fits appended whole-character, when it is cut.
bool AppendPath(char* destination, size_t capacity, const char* source);
