// The platform layer on Windows: wide-character file calls on UTF-8 paths,
// outputs marked for deletion through their handle until they are complete,
// MoveFileExW to put them in place, the console for terminal detection.
// The tool needs Windows Vista or later (SetFileInformationByHandle); the
// launcher's own older target does not apply to it.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

// The file calls below take paths in the \\?\ form (ExtendedPath): past 260
// characters they work on every Windows, without the system's long path
// switch that the manifest's longPathAware depends on.

// The UTF-8 form of wide text (a lone surrogate becomes U+FFFD).
std::string FromWide(const std::wstring& wide) {
  if (wide.empty()) return "";
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string text(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &text[0], n, nullptr, nullptr);
  return text;
}

// The wide form of UTF-8 text; false when it is not UTF-8.
bool ToWide(const std::string& text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0);
  if (n <= 0) return false;
  wide.assign(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), &wide[0], n);
  return true;
}

}  // namespace

bool ExtendedPath(const std::string& path, std::wstring& extended) {
  extended.clear();
  std::wstring wide;
  if (path.empty() || !ToWide(path, wide)) {
    lastError = ERROR_NO_UNICODE_TRANSLATION;  // named as no file, never as another one
    return false;
  }
  if (wide.compare(0, 4, L"\\\\?\\") == 0 || wide.compare(0, 4, L"\\\\.\\") == 0) {
    extended = wide;
    return true;
  }
  // The full path as Win32 reads it (/ as \, . and .. resolved, the
  // current folder and drive applied), which the \\?\ form no longer does.
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFullPathNameW(wide.c_str(), DWORD(full.size()), &full[0], nullptr);
    if (n == 0) return Failed(false);
    if (n < full.size()) {
      full.resize(n);
      break;
    }
    full.assign(n, L'\0');
  }
  if (full.compare(0, 4, L"\\\\.\\") == 0 || full.compare(0, 4, L"\\\\?\\") == 0) {
    extended = full;  // a device (NUL, CON) or a form already whole
  } else if (full.compare(0, 2, L"\\\\") == 0) {
    extended = L"\\\\?\\UNC\\" + full.substr(2);
  } else {
    extended = L"\\\\?\\" + full;
  }
  return true;
}

namespace {

// The names of a folder's files hold at most this many UTF-16 units on the
// file systems Windows writes (NTFS, FAT's long names, exFAT, ReFS).
constexpr size_t MAX_NAME = 255;

bool MarkForDeletion(HANDLE file, bool deleteIt);

// Removes the hidden outputs for base of earlier runs: names exactly of the
// tool's form, files (not folders or links) that no process has open. A
// running tool holds its own open from its creation until it is in place,
// so the open here, which shares nothing, fails on it; one left by a run that
// ended without its delete mark (killed between unmarking and placing, or on
// a file system that cannot mark) goes.
void RemoveStaleOutputs(const std::string& folder, const std::string& base) {
  std::wstring wideFolder;
  if (!ExtendedPath(folder, wideFolder)) return;
  if (!wideFolder.empty() && wideFolder.back() != L'\\') wideFolder += L'\\';
  const std::string prefix = HiddenPrefix(base, MAX_NAME);
  std::wstring widePrefix;
  if (!ToWide(prefix, widePrefix)) return;
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((wideFolder + widePrefix + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    if (!IsHiddenOutputName(FromWide(found.cFileName), prefix)) continue;
    const HANDLE file = CreateFileW((wideFolder + found.cFileName).c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;  // held by a live run, or gone
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(file, &info) &&
        !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
      MarkForDeletion(file, true);
    }
    CloseHandle(file);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

bool MarkForDeletion(HANDLE file, bool deleteIt) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = deleteIt ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// The outputs whose delete mark was set: only those need it taken off. A file
// system that cannot mark a file (the next run removes what is left there)
// must not make every output fail at its placing.
std::vector<HANDLE> markedOutputs;

bool Unmark(HANDLE file) {
  for (auto it = markedOutputs.begin(); it != markedOutputs.end(); ++it) {
    if (*it != file) continue;
    markedOutputs.erase(it);
    return MarkForDeletion(file, false);
  }
  return true;
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
    case ERROR_FILENAME_EXCED_RANGE:
      error = ENAMETOOLONG;
      break;
    case ERROR_NO_UNICODE_TRANSLATION:
      error = EILSEQ;
      break;
    case ERROR_FILE_TOO_LARGE:
      error = EFBIG;
      break;
  }
  return std::strerror(error);
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }
bool IsRooted(const std::string& path) {
  return (!path.empty() && IsSeparator(path[0])) || (path.size() >= 2 && path[1] == ':');
}

size_t NameUnits(const std::string& utf8) {
  size_t units = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;  // a character beyond U+FFFF takes a surrogate pair
  }
  return units;
}

FileHandle OpenForReading(const std::string& path) {
  // Backup semantics open a folder as well, which QueryFile then refuses as
  // not a regular file, as on other systems.
  std::wstring wide;
  if (!ExtendedPath(path, wide)) return NO_FILE;
  const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return file == INVALID_HANDLE_VALUE ? Failed(NO_FILE) : reinterpret_cast<FileHandle>(file);
}

FileHandle StandardInput() { return reinterpret_cast<FileHandle>(GetStdHandle(STD_INPUT_HANDLE)); }

bool QueryFile(FileHandle file, FileState& state) {
  const DWORD type = GetFileType(HandleOf(file));
  state = FileState();
  if (type != FILE_TYPE_DISK) {
    state.stream = type == FILE_TYPE_PIPE;
    state.kind = state.stream ? "a FIFO or pipe" : "a device";
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO times;
  if (!GetFileInformationByHandle(HandleOf(file), &info) ||
      !GetFileInformationByHandleEx(HandleOf(file), FileBasicInfo, &times, sizeof times)) {
    return Failed(false);
  }
  state.size = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  state.regular = (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
  state.kind = state.regular ? "" : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "a folder" : "a device";
  state.written = uint64_t(times.LastWriteTime.QuadPart);
  state.changed = uint64_t(times.ChangeTime.QuadPart);
  return true;
}

bool ReadStream(FileHandle file, std::vector<uint8_t>& bytes, size_t limit) {
  bytes.clear();
  uint8_t buffer[65536];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(HandleOf(file), buffer, sizeof buffer, &read, nullptr)) {
      if (GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF) return true;
      return Failed(false);
    }
    if (read == 0) return true;
    if (bytes.size() + read > limit) {
      lastError = ERROR_FILE_TOO_LARGE;
      return false;
    }
    bytes.insert(bytes.end(), buffer, buffer + read);
  }
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

FileHandle CreateOutput(const std::string& folder, const std::string& base, std::string& temporary) {
  RemoveStaleOutputs(folder, base);
  // CREATE_NEW fails on a name taken, so a name is never shared; the
  // counter, the time and the process id make a clash unlikely to begin
  // with. The handle shares reading only: the clean-up of other runs, which
  // opens sharing nothing, cannot take the file, and PlaceOutput can open it
  // once more to hold it while it moves.
  static const char LETTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static unsigned counter = 0;
  const std::string prefix = folder + "/" + HiddenPrefix(base, MAX_NAME);
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t seed = uint64_t(GetCurrentProcessId()) << 32 ^ (uint64_t(counter++) << 20) ^ GetTickCount();
    std::string suffix(6, ' ');
    for (char& c : suffix) {
      seed = seed * 6364136223846793005u + 1442695040888963407u;
      c = LETTERS[(seed >> 33) % (sizeof LETTERS - 1)];
    }
    const std::string name = prefix + suffix;
    std::wstring wide;
    if (!ExtendedPath(name, wide)) return NO_FILE;
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      // From here the file goes when its handle closes, whatever ends the
      // process (Ctrl+C, a kill): only PlaceOutput unmarks it. Where the
      // file system cannot mark it, the next run removes it.
      if (MarkForDeletion(file, true)) markedOutputs.push_back(file);
      temporary = name;
      return reinterpret_cast<FileHandle>(file);
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return Failed(NO_FILE);
}

bool FinishOutput(FileHandle file, unsigned) { return FlushFileBuffers(HandleOf(file)) || Failed(false); }

bool PlaceOutput(FileHandle file, std::string& temporary, const std::string& folder, const std::string& base) {
  // Closed, then moved by name: a rename through the handle takes a path
  // that Windows and Wine read differently. A second handle, which lets the
  // move (and a deletion by this run) share it but keeps every other run's
  // clean-up out, holds the file from before the first closes until it is
  // in place. A run ended between unmarking and moving leaves the hidden
  // file to the next run's clean-up.
  std::wstring from, to;
  const bool named = ExtendedPath(temporary, from) && ExtendedPath(folder + "/" + base, to);
  temporary.clear();
  bool placed = named && (Unmark(HandleOf(file)) || Failed(false));
  const HANDLE hold = placed ? CreateFileW(from.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                             : INVALID_HANDLE_VALUE;
  placed = placed && (hold != INVALID_HANDLE_VALUE || Failed(false));
  if (!placed) {
    // Still marked, or marked again: it goes as the handle closes.
    const DWORD error = lastError;
    MarkForDeletion(HandleOf(file), true);
    CloseHandle(HandleOf(file));
    if (named) DeleteFileW(from.c_str());
    lastError = error;
    return false;
  }
  placed = CloseHandle(HandleOf(file)) || Failed(false);
  placed = placed && (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
                      Failed(false));
  if (!placed) {
    const DWORD error = lastError;
    DeleteFileW(from.c_str());
    lastError = error;
  }
  CloseHandle(hold);
  return placed;
}

void DiscardOutput(FileHandle file, std::string& temporary) {
  const DWORD error = lastError;
  Unmark(HandleOf(file));  // forgotten, as the handle closes
  MarkForDeletion(HandleOf(file), true);
  CloseHandle(HandleOf(file));
  // Where the mark could not be set, by name.
  std::wstring wide;
  if (!temporary.empty() && ExtendedPath(temporary, wide)) DeleteFileW(wide.c_str());
  temporary.clear();
  lastError = error;
}

bool MakeFolder(const std::string& path) {
  std::wstring wide;
  if (!ExtendedPath(path, wide)) return false;
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
    std::wstring wide;
    if (!ExtendedPath(*paths[i], wide)) return false;
    const HANDLE file = CreateFileW(wide.c_str(), 0,
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
    arguments.push_back(FromWide(wide[i]));
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

}  // namespace bundletool::platform
