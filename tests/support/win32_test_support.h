// Helpers for Windows test programs that run under Wine: temporary folders
// with real files, Unix paths seen from Windows, and child processes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// A fresh, empty folder under the Windows temporary folder, removed with all
// its contents (read-only files included) when the object goes.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& tag);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder's path with a trailing backslash.
  const std::string& Path() const { return path; }

 private:
  std::string path;
};

// Removes a folder tree; read-only marks are cleared first. Walked in UTF-16,
// so names outside the ANSI code page go too. A link (MakeUnixLink) is
// removed as a link, never walked into.
void RemoveTree(const std::string& path);
void RemoveTree(const std::wstring& path);

// Makes link (a Windows path; its folder exists) a Unix symbolic link to the
// folder target, which Wine shows as FILE_ATTRIBUTE_DIRECTORY |
// FILE_ATTRIBUTE_REPARSE_POINT and writes and deletes through. Wine 8 makes
// neither junctions nor symbolic links from Windows, so /bin/ln makes it.
// True once the link is there.
bool MakeUnixLink(const std::string& link, const std::string& target);

// Text of a code page (the process's ANSI one unless named) as UTF-16, and
// back with the platform's best fit, as the ANSI calls convert.
std::wstring Widen(const std::string& text, UINT codePage = CP_ACP);
std::string Narrow(const std::wstring& text, UINT codePage = CP_ACP);

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);

// A Unix path (as CMake knows build outputs) as Wine's Z: drive shows it.
std::string WindowsPathOf(const std::string& unixPath);

// CreateProcessW for a test's own children, tried again when the system
// fails the start inside itself: under Wine 8 here about one start in 5,000
// fails with ERROR_INTERNAL_ERROR, the new process dying before it runs.
// environment is an ANSI block unless flags has CREATE_UNICODE_ENVIRONMENT.
// False, with the last error, when the program never started.
bool StartProcess(const std::wstring& commandLine, PROCESS_INFORMATION& started, const void* environment = nullptr,
                  DWORD flags = 0);

// Starts a program and waits up to timeoutMs for it to end. Returns its exit
// code, or -1 when it could not start and -2 when it did not end in time (it
// is then terminated).
long RunAndWait(const std::string& commandLine, DWORD timeoutMs, const char* environment = nullptr);

// Waits until done() holds: tests it at once and again at each change
// Windows reports in folder (a name added, removed or renamed, a size or a
// write), for at most timeoutMs, a bound that fails only a hung run. True
// when done() holds; a folder that cannot be watched gets one test only.
bool WaitForChangeIn(const std::wstring& folder, const std::function<bool()>& done, DWORD timeoutMs);

// Waits, as above, until the file path exists.
bool WaitForFile(const std::string& path, DWORD timeoutMs);

// The full path of the running test program.
std::string OwnProgramPath();

// Makes Wine load the named DLLs ("comctl32", ...) for programs of the given
// file name as Windows loads every DLL: the first copy the search finds,
// wherever it lies. By default Wine takes its own built-in copy of a system
// DLL even when the search found another. Undone when the object goes.
class NativeDllsFirst {
 public:
  NativeDllsFirst(const std::string& programName, const std::vector<std::string>& dlls);
  ~NativeDllsFirst();
  NativeDllsFirst(const NativeDllsFirst&) = delete;
  NativeDllsFirst& operator=(const NativeDllsFirst&) = delete;

 private:
  std::string key;
};

}  // namespace testing_support
