#include "common/paths.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

// The next character of NUL-terminated ANSI text. A lead byte followed by the
// terminating NUL counts as one byte, so the walk never passes the NUL.
inline const char* NextChar(const char* p) {
  if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') return p + 2;
  return p + 1;
}

// Length of the longest prefix of source, at most limit bytes, that ends on a
// character boundary.
size_t WholeCharPrefix(const char* source, size_t limit) {
  const char* p = source;
  while (*p != '\0') {
    const char* next = NextChar(p);
    if (static_cast<size_t>(next - source) > limit) break;
    p = next;
  }
  return static_cast<size_t>(p - source);
}

// Converts wide to the ANSI code page into buffer (at most PATH_CAPACITY
// bytes) and checks the way back: a character the code page lacks, or one
// that maps onto another, fails.
bool ConvertsExactly(const wchar_t* wide, char* buffer, size_t capacity) {
  // UTF-8 as the ANSI code page (a Windows 10 option) allows neither the flag
  // nor the used-default report; the round trip still catches what is lost.
  const bool utf8 = GetACP() == CP_UTF8;
  BOOL usedDefault = FALSE;
  const int bytes = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, -1, buffer, int(capacity),
                                        nullptr, utf8 ? nullptr : &usedDefault);
  if (bytes == 0 || usedDefault) return false;
  // Every character takes at least one byte, so the way back fits.
  wchar_t back[PATH_CAPACITY];
  const int chars = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, buffer, -1, back, PATH_CAPACITY);
  return chars != 0 && wcscmp(back, wide) == 0;
}

}  // namespace

bool ExactAnsiPath(const wchar_t* path, char* buffer, size_t capacity) {
  if (capacity > PATH_CAPACITY) capacity = PATH_CAPACITY;
  if (ConvertsExactly(path, buffer, capacity)) return true;
  wchar_t shortForm[PATH_CAPACITY];
  const DWORD length = GetShortPathNameW(path, shortForm, PATH_CAPACITY);
  if (length != 0 && length < PATH_CAPACITY && ConvertsExactly(shortForm, buffer, capacity)) return true;
  buffer[0] = '\0';
  return false;
}

const char* FindLastBackslash(const char* text) {
  const char* last = nullptr;
  for (const char* p = text; *p != '\0'; p = NextChar(p)) {
    if (*p == '\\') last = p;
  }
  return last;
}

char* FindNextBackslash(char* text) {
  for (char* p = text; *p != '\0'; p = const_cast<char*>(NextChar(p))) {
    if (*p == '\\') return p;
  }
  return nullptr;
}

bool AppendBackslash(char* path, size_t capacity) {
  const size_t length = strlen(path);
  const char* last = FindLastBackslash(path);
  if (last != nullptr && last == path + length - 1) return true;
  if (length + 2 > capacity) return false;
  path[length] = '\\';
  path[length + 1] = '\0';
  return true;
}

bool CopyPath(char* destination, size_t capacity, const char* source) {
  destination[0] = '\0';
  return AppendPath(destination, capacity, source);
}

bool AppendPath(char* destination, size_t capacity, const char* source) {
  const size_t used = strlen(destination);
  if (used + 1 > capacity) return false;
  const size_t room = capacity - used - 1;
  const size_t take = WholeCharPrefix(source, room);
  memcpy(destination + used, source, take);
  destination[used + take] = '\0';
  return source[take] == '\0';
}
