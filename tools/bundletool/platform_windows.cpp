// The platform layer on Windows: wide-character file calls on UTF-8 paths,
// MoveFileExW for the atomic replace, the console for terminal detection and
// code page 932 through MultiByteToWideChar/WideCharToMultiByte.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"

namespace bundletool::platform {

namespace {

DWORD lastError = ERROR_SUCCESS;

template <typename T>
T Failed(T result) {
  lastError = GetLastError();
  return result;
}

HANDLE HandleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// Text in code page from the wide form; false when a character has no
// exact form there.
bool FromWide(UINT codePage, const std::wstring& wide, std::string& text) {
  if (wide.empty()) {
    text.clear();
    return true;
  }
  BOOL usedDefault = FALSE;
  // UTF-8 holds every character (a lone surrogate becomes U+FFFD); other code
  // pages refuse what they lack rather than put a look-alike in its place.
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL* defaultUsed = codePage == CP_UTF8 ? nullptr : &usedDefault;
  const int n = WideCharToMultiByte(codePage, flags, wide.data(), int(wide.size()), nullptr, 0, nullptr, defaultUsed);
  if (n <= 0 || usedDefault) return false;
  text.assign(size_t(n), '\0');
  WideCharToMultiByte(codePage, flags, wide.data(), int(wide.size()), &text[0], n, nullptr, defaultUsed);
  return !usedDefault;
}

bool ToWide(UINT codePage, const std::string& text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0);
  if (n <= 0) return false;
  wide.assign(size_t(n), L'\0');
  MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), &wide[0], n);
  return true;
}

// The path for the wide calls; a path that is not UTF-8 names no file.
std::wstring WidePath(const std::string& path) {
  std::wstring wide;
  if (!ToWide(CP_UTF8, path, wide)) wide = L"?";
  return wide;
}

// The temporary file being written, removed by the console's interrupt
// handler so that an interrupted run leaves nothing behind.
wchar_t pendingTemporary[32768];

BOOL WINAPI RemovePendingOnInterrupt(DWORD) {
  if (pendingTemporary[0] != L'\0') DeleteFileW(pendingTemporary);
  return FALSE;  // and the default handling ends the process
}

void SetPending(const std::wstring& path) {
  static bool handlerInstalled = false;
  if (!handlerInstalled) handlerInstalled = SetConsoleCtrlHandler(RemovePendingOnInterrupt, TRUE) != 0;
  const size_t n = path.size() < sizeof pendingTemporary / sizeof pendingTemporary[0] - 1 ? path.size() : 0;
  std::memcpy(pendingTemporary, path.data(), n * sizeof(wchar_t));
  pendingTemporary[n] = L'\0';
}

void ClearPending(const std::wstring& path) {
  if (path == pendingTemporary) pendingTemporary[0] = L'\0';
}

}  // namespace

// The C library's words for the failures a file call meets, so that messages
// read as on other systems.
std::string LastProblem() {
  int error = EIO;
  switch (lastError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      error = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      error = EACCES;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      error = ENOSPC;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      error = EEXIST;
      break;
    case ERROR_DIRECTORY:
      error = ENOTDIR;
      break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      error = ENOMEM;
      break;
  }
  return std::strerror(error);
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }
bool IsRooted(const std::string& path) {
  return (!path.empty() && IsSeparator(path[0])) || (path.size() >= 2 && path[1] == ':');
}

FileHandle OpenForReading(const std::string& path) {
  // Backup semantics open a folder as well, which QueryFile then refuses as
  // not a regular file, as on other systems.
  const HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return file == INVALID_HANDLE_VALUE ? Failed(NO_FILE) : reinterpret_cast<FileHandle>(file);
}

bool QueryFile(FileHandle file, uint64_t& size, bool& regular) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(HandleOf(file), &info)) return Failed(false);
  size = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  regular = (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0 &&
            GetFileType(HandleOf(file)) == FILE_TYPE_DISK;
  return true;
}

int64_t ReadAt(FileHandle file, uint64_t position, void* buffer, size_t count) {
  OVERLAPPED at = {};
  at.Offset = DWORD(position);
  at.OffsetHigh = DWORD(position >> 32);
  const DWORD ask = count > 0x40000000u ? 0x40000000u : DWORD(count);
  DWORD read = 0;
  if (!ReadFile(HandleOf(file), buffer, ask, &read, &at)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    return Failed(int64_t(-1));
  }
  return read;
}

int64_t Write(FileHandle file, const void* data, size_t count) {
  const DWORD ask = count > 0x40000000u ? 0x40000000u : DWORD(count);
  DWORD written = 0;
  if (!WriteFile(HandleOf(file), data, ask, &written, nullptr)) return Failed(int64_t(-1));
  return written;
}

bool Close(FileHandle file) { return CloseHandle(HandleOf(file)) || Failed(false); }

FileHandle CreateTemporary(const std::string& folder, const std::string& base, std::string& temporary) {
  // CREATE_NEW fails on a name taken, so a name is never shared; the
  // counter and the process id make a clash unlikely to begin with.
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%05X%02X", unsigned(GetCurrentProcessId() & 0xFFFFF),
                  unsigned((counter++ + GetTickCount()) & 0xFF));
    const std::string name = folder + "/." + base + suffix;
    const std::wstring wide = WidePath(name);
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      temporary = name;
      SetPending(wide);
      return reinterpret_cast<FileHandle>(file);
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return Failed(NO_FILE);
}

bool Finish(FileHandle file, unsigned) { return FlushFileBuffers(HandleOf(file)) || Failed(false); }

bool Replace(const std::string& temporary, const std::string& target) {
  const std::wstring from = WidePath(temporary);
  if (!MoveFileExW(from.c_str(), WidePath(target).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return Failed(false);
  }
  ClearPending(from);
  return true;
}

bool RemoveFile(const std::string& path) {
  const std::wstring wide = WidePath(path);
  const bool removed = DeleteFileW(wide.c_str()) || Failed(false);
  ClearPending(wide);
  return removed;
}

bool MakeFolder(const std::string& path) {
  const std::wstring wide = WidePath(path);
  if (CreateDirectoryW(wide.c_str(), nullptr)) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS) {
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  }
  return Failed(false);
}

unsigned PermissionsOf(const std::string&) { return 0755u; }

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION info[2];
  const std::string* paths[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    const HANDLE file = CreateFileW(WidePath(*paths[i]).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(file, &info[i]);
    CloseHandle(file);
    if (!ok) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    std::string utf8;
    FromWide(CP_UTF8, wide[i], utf8);
    arguments.push_back(utf8);
  }
  LocalFree(wide);
  return arguments;
}

namespace {
UINT consoleCodePage = 0;
void RestoreConsoleCodePage() { SetConsoleOutputCP(consoleCodePage); }
}  // namespace

void PrepareStandardStreams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  DWORD mode;
  const bool console = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) ||
                       GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode);
  if (console && GetConsoleOutputCP() != CP_UTF8) {
    consoleCodePage = GetConsoleOutputCP();
    if (SetConsoleOutputCP(CP_UTF8)) std::atexit(RestoreConsoleCodePage);
  }
}

bool StandardErrorIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool Utf8ToCp932(const std::string& utf8, std::string& cp932) {
  std::wstring wide;
  return ToWide(CP_UTF8, utf8, wide) && FromWide(932, wide, cp932);
}

bool Cp932ToUtf8(const std::string& cp932, std::string& utf8) {
  std::wstring wide;
  return ToWide(932, cp932, wide) && FromWide(CP_UTF8, wide, utf8);
}

}  // namespace bundletool::platform
