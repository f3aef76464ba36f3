#include "win32_test_support.h"

#include <cstdio>

namespace testing_support {

ScratchFolder::ScratchFolder(const std::string& tag) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  // Wine hands a finished process's id to the next one at once, and the last
  // program run from a folder may still be mapped for a moment after its
  // process has ended: the performance counter keeps a later process with
  // the same id out of the earlier one's folder.
  static unsigned counter = 0;
  LARGE_INTEGER now = {};
  QueryPerformanceCounter(&now);
  char name[96];
  snprintf(name, sizeof name, "zt_%s_%lu_%llx_%u\\", tag.c_str(), GetCurrentProcessId(),
           static_cast<unsigned long long>(now.QuadPart), ++counter);
  path = std::string(temp) + name;
  RemoveTree(path);
  CreateDirectoryA(path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path); }

namespace {

// The Unix path of a Windows path, from Wine's own export; empty when there
// is none (not under Wine).
std::string UnixPathOf(const std::wstring& path) {
  using ToUnixFunction = char*(CDECL*)(const wchar_t*);
  static const auto toUnix = reinterpret_cast<ToUnixFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  char* unixPath = toUnix != nullptr ? toUnix(path.c_str()) : nullptr;
  if (unixPath == nullptr) return "";
  std::string result = unixPath;
  HeapFree(GetProcessHeap(), 0, unixPath);
  return result;
}

// Runs a Unix program. Wine starts one through CreateProcess but gives no
// handle to wait on, so the wait is for done(), which the program's change
// to folder makes hold, for up to 30 seconds.
bool RunUnixProgram(const std::string& commandLine, const std::wstring& folder, const std::function<bool()>& done) {
  PROCESS_INFORMATION process = {};
  if (!StartProcess(Widen(commandLine), process)) return false;
  if (process.hThread) CloseHandle(process.hThread);
  if (process.hProcess) CloseHandle(process.hProcess);
  return WaitForChangeIn(folder, done, 30000);
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\') + 1); }

// Removes the link itself; under Wine every Windows call would reach what it
// points to.
void RemoveUnixLink(const std::wstring& link) {
  const std::string unixPath = UnixPathOf(link);
  if (unixPath.empty()) return;
  RunUnixProgram("Z:\\bin\\rm -f \"" + unixPath + "\"", FolderOf(link),
                 [&] { return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

// The links MakeUnixLink made and RemoveTree has not removed yet. Wine
// neither lists nor finds a link whose target is gone, so each goes before
// anything else of a tree it is in, while its target is still there.
std::vector<std::wstring>& LinksMade() {
  static std::vector<std::wstring> links;
  return links;
}

}  // namespace

bool MakeUnixLink(const std::string& link, const std::string& target) {
  std::string targetPath = target;
  if (!targetPath.empty() && targetPath.back() == '\\') targetPath.pop_back();
  // The link's folder is named, as the link itself does not exist yet.
  const size_t cut = link.find_last_of('\\');
  const std::string folder = UnixPathOf(Widen(link.substr(0, cut + 1)));
  const std::string unixTarget = UnixPathOf(Widen(targetPath));
  if (cut == std::string::npos || folder.empty() || unixTarget.empty()) return false;
  const std::wstring wideLink = Widen(link);
  const bool made =
      RunUnixProgram("Z:\\bin\\ln -s \"" + unixTarget + "\" \"" + folder + "/" + link.substr(cut + 1) + "\"",
                     FolderOf(wideLink), [&] {
        const DWORD attributes = GetFileAttributesW(wideLink.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
      });
  if (made) LinksMade().push_back(wideLink);
  return made;
}

void RemoveTree(const std::string& path) { RemoveTree(Widen(path)); }

void RemoveTree(const std::wstring& path) {
  std::wstring folder = path;
  if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  std::vector<std::wstring>& links = LinksMade();
  for (size_t i = links.size(); i-- > 0;) {
    const std::wstring& link = links[i];
    const wchar_t after = _wcsnicmp(link.c_str(), folder.c_str(), folder.size()) == 0 ? link[folder.size()] : L'?';
    if (after != L'\\' && after != L'\0') continue;
    RemoveUnixLink(link);
    links.erase(links.begin() + i);
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = folder + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(folder.c_str());
}

std::wstring Widen(const std::string& text, UINT codePage) {
  const int length = MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
  if (length > 1) MultiByteToWideChar(codePage, 0, text.c_str(), -1, &wide[0], length);
  return wide;
}

std::string Narrow(const std::wstring& text, UINT codePage) {
  const int length = WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(length > 0 ? length - 1 : 0, '\0');
  if (length > 1) WideCharToMultiByte(codePage, 0, text.c_str(), -1, &narrow[0], length, nullptr, nullptr);
  return narrow;
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::string ReadFileBytes(const std::string& path) {
  std::string bytes;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

std::string WindowsPathOf(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

bool WaitForChangeIn(const std::wstring& folder, const std::function<bool()>& done, DWORD timeoutMs) {
  // Armed before the first test, so that no change between a test and the
  // wait is missed.
  const HANDLE change = FindFirstChangeNotificationW(
      folder.c_str(), FALSE,
      FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_SIZE |
          FILE_NOTIFY_CHANGE_LAST_WRITE);
  if (change == INVALID_HANDLE_VALUE) return done();
  const DWORD deadline = GetTickCount() + timeoutMs;
  bool held = done();
  while (!held) {
    const LONG left = static_cast<LONG>(deadline - GetTickCount());
    if (left <= 0 || WaitForSingleObject(change, static_cast<DWORD>(left)) != WAIT_OBJECT_0) break;
    FindNextChangeNotification(change);
    held = done();
  }
  FindCloseChangeNotification(change);
  return held || done();
}

bool WaitForFile(const std::string& path, DWORD timeoutMs) {
  const std::wstring widePath = Widen(path);
  return WaitForChangeIn(FolderOf(widePath),
                         [&] { return GetFileAttributesW(widePath.c_str()) != INVALID_FILE_ATTRIBUTES; }, timeoutMs);
}

bool StartProcess(const std::wstring& commandLine, PROCESS_INFORMATION& started, const void* environment,
                  DWORD flags) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  for (int tries = 1;; ++tries) {
    std::wstring line = commandLine;
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, flags, const_cast<void*>(environment), nullptr,
                       &startup, &started)) {
      return true;
    }
    if (GetLastError() != ERROR_INTERNAL_ERROR || tries == 3) return false;
  }
}

long RunAndWait(const std::string& commandLine, DWORD timeoutMs, const char* environment) {
  PROCESS_INFORMATION process = {};
  if (!StartProcess(Widen(commandLine), process, environment)) return -1;
  CloseHandle(process.hThread);
  long result = -2;
  if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result = static_cast<long>(code);
  } else {
    TerminateProcess(process.hProcess, 99);
    WaitForSingleObject(process.hProcess, 5000);
  }
  CloseHandle(process.hProcess);
  return result;
}

std::string OwnProgramPath() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, length);
}

NativeDllsFirst::NativeDllsFirst(const std::string& programName, const std::vector<std::string>& dlls)
    : key("Software\\Wine\\AppDefaults\\" + programName) {
  HKEY overrides = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, (key + "\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &overrides, nullptr) != ERROR_SUCCESS) {
    return;
  }
  static const char order[] = "native,builtin";
  for (const std::string& dll : dlls) {
    RegSetValueExA(overrides, dll.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof order);
  }
  RegCloseKey(overrides);
}

NativeDllsFirst::~NativeDllsFirst() {
  RegDeleteKeyA(HKEY_CURRENT_USER, (key + "\\DllOverrides").c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
}

}  // namespace testing_support
