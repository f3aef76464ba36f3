// bundletool.exe's paths past 260 characters. Wine enforces no such limit,
// so the file calls of this program (the tool's commands linked in) are
// made to fail as a Windows without the long path switch fails them: a path
// of MAX_PATH characters or more that is not in the \\?\ form is not found.
// The commands then run in-process on such paths.
#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"
#include "import_hook.h"
#include "platform.h"

namespace {

using testing_support::ImportHook;

bool TooLongForWindows(const wchar_t* path) {
  return path != nullptr && std::wcslen(path) >= MAX_PATH && std::wcsncmp(path, L"\\\\?\\", 4) != 0;
}

decltype(&CreateFileW) realCreateFile;
decltype(&MoveFileExW) realMoveFile;
decltype(&DeleteFileW) realDeleteFile;
decltype(&CreateDirectoryW) realCreateDirectory;
decltype(&GetFileAttributesW) realGetFileAttributes;
decltype(&FindFirstFileW) realFindFirstFile;

HANDLE WINAPI LimitedCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD how,
                                DWORD flags, HANDLE model) {
  if (TooLongForWindows(path)) return SetLastError(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
  return realCreateFile(path, access, share, security, how, flags, model);
}
BOOL WINAPI LimitedMoveFile(LPCWSTR from, LPCWSTR to, DWORD flags) {
  if (TooLongForWindows(from) || TooLongForWindows(to)) return SetLastError(ERROR_PATH_NOT_FOUND), FALSE;
  return realMoveFile(from, to, flags);
}
BOOL WINAPI LimitedDeleteFile(LPCWSTR path) {
  if (TooLongForWindows(path)) return SetLastError(ERROR_PATH_NOT_FOUND), FALSE;
  return realDeleteFile(path);
}
BOOL WINAPI LimitedCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
  if (TooLongForWindows(path)) return SetLastError(ERROR_PATH_NOT_FOUND), FALSE;
  return realCreateDirectory(path, security);
}
DWORD WINAPI LimitedGetFileAttributes(LPCWSTR path) {
  if (TooLongForWindows(path)) return SetLastError(ERROR_PATH_NOT_FOUND), INVALID_FILE_ATTRIBUTES;
  return realGetFileAttributes(path);
}
HANDLE WINAPI LimitedFindFirstFile(LPCWSTR pattern, LPWIN32_FIND_DATAW found) {
  if (TooLongForWindows(pattern)) return SetLastError(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
  return realFindFirstFile(pattern, found);
}

std::wstring Extended(const std::string& path) {
  std::wstring wide;
  EXPECT_TRUE(bundletool::platform::ExtendedPath(path, wide)) << path;
  return wide;
}

// The form every file call takes: the full path behind \\?\, a share's
// behind \\?\UNC\, devices and paths in the form already as they are; text
// that is not UTF-8 names no file.
TEST(ExtendedPath, GivesTheFormThatTakesAnyLength) {
  EXPECT_EQ(Extended("C:\\payload\\a.txt"), L"\\\\?\\C:\\payload\\a.txt");
  EXPECT_EQ(Extended("C:/payload/./sub/../a.txt"), L"\\\\?\\C:\\payload\\a.txt");
  EXPECT_EQ(Extended("\\\\server\\share\\a.txt"), L"\\\\?\\UNC\\server\\share\\a.txt");
  EXPECT_EQ(Extended("//server/share/a.txt"), L"\\\\?\\UNC\\server\\share\\a.txt");
  EXPECT_EQ(Extended("\\\\?\\C:\\x\\..\\y"), L"\\\\?\\C:\\x\\..\\y");
  EXPECT_EQ(Extended("NUL"), L"\\\\.\\NUL");
  EXPECT_EQ(Extended("C:\\\xE5\x87\xBA\xE5\x8A\x9B"), L"\\\\?\\C:\\\u51FA\u529B");  // 出力
  wchar_t current[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, current), 0u);
  std::wstring expected = std::wstring(L"\\\\?\\") + current;
  if (expected.back() != L'\\') expected += L'\\';
  EXPECT_EQ(Extended("a.txt"), expected + L"a.txt");

  std::wstring wide;
  EXPECT_FALSE(bundletool::platform::ExtendedPath("C:\\bad\xFF.txt", wide));
  EXPECT_TRUE(wide.empty());
  EXPECT_EQ(bundletool::platform::LastProblem(), std::strerror(EILSEQ));
}

// The \\?\ form of an absolute path of ASCII characters and backslashes, made
// here so that the test's own files do not depend on the code under test.
std::wstring Long(const std::string& path) { return L"\\\\?\\" + std::wstring(path.begin(), path.end()); }

int RunTool(std::vector<std::string> args, std::string* err = nullptr) {
  args.insert(args.begin(), "bundletool");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out, errors;
  bundletool::Console console{out, errors, false};
  const int code = bundletool::RunBundleTool(int(argv.size()), argv.data(), console);
  if (err) *err = errors.str();
  return code;
}

// pack (its clean-up, its output and the move in place, twice so that it
// replaces one), list, verify and extract, with the output in a folder whose
// path is over 300 characters, on a Windows that refuses such paths unless
// they are in the \\?\ form.
TEST(LongPaths, EveryCommandWorksPastTheOldLimit) {
  const ImportHook hooks[] = {
      {"KERNEL32.dll", "CreateFileW", reinterpret_cast<const void*>(&LimitedCreateFile)},
      {"KERNEL32.dll", "MoveFileExW", reinterpret_cast<const void*>(&LimitedMoveFile)},
      {"KERNEL32.dll", "DeleteFileW", reinterpret_cast<const void*>(&LimitedDeleteFile)},
      {"KERNEL32.dll", "CreateDirectoryW", reinterpret_cast<const void*>(&LimitedCreateDirectory)},
      {"KERNEL32.dll", "GetFileAttributesW", reinterpret_cast<const void*>(&LimitedGetFileAttributes)},
      {"KERNEL32.dll", "FindFirstFileW", reinterpret_cast<const void*>(&LimitedFindFirstFile)},
  };
  for (const ImportHook& hook : hooks) ASSERT_TRUE(hook.Installed());
  realCreateFile = hooks[0].Original<decltype(&CreateFileW)>();
  realMoveFile = hooks[1].Original<decltype(&MoveFileExW)>();
  realDeleteFile = hooks[2].Original<decltype(&DeleteFileW)>();
  realCreateDirectory = hooks[3].Original<decltype(&CreateDirectoryW)>();
  realGetFileAttributes = hooks[4].Original<decltype(&GetFileAttributesW)>();
  realFindFirstFile = hooks[5].Original<decltype(&FindFirstFileW)>();

  char temp[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  const std::string top = std::string(temp) + "bundletool_paths_" + std::to_string(GetCurrentProcessId());
  ASSERT_TRUE(CreateDirectoryA(top.c_str(), nullptr));
  const std::string stub = top + "\\stub.exe", source = top + "\\a.txt";
  for (const std::string* path : {&stub, &source}) {
    const HANDLE file = CreateFileA(path->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD written;
    ASSERT_TRUE(WriteFile(file, "0123456789abcdef", 16, &written, nullptr));
    CloseHandle(file);
  }
  std::vector<std::string> folders = {top};
  while (folders.back().size() < 320) {
    folders.push_back(folders.back() + "\\folder_" + std::to_string(folders.size()) + "_past_the_old_limit");
    ASSERT_TRUE(CreateDirectoryW(Long(folders.back()).c_str(), nullptr));
  }
  const std::string deep = folders.back(), output = deep + "\\out.exe";

  std::string err;
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(RunTool({"pack", "--any-layout", "--stub", stub, "-c", source, "-o", output}, &err), 0) << err;
  }
  EXPECT_EQ(RunTool({"list", output}, &err), 0) << err;
  EXPECT_EQ(RunTool({"verify", "--any-layout", output}, &err), 0) << err;
  EXPECT_EQ(RunTool({"extract", output, "-o", deep + "\\x"}, &err), 0) << err;
  const DWORD attributes = realGetFileAttributes(Long(deep + "\\x\\a.txt").c_str());
  EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);

  // Only what the commands made is there.
  WIN32_FIND_DATAW found;
  std::vector<std::wstring> names;
  const HANDLE search = realFindFirstFile((Long(deep) + L"\\*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    if (std::wcscmp(found.cFileName, L".") && std::wcscmp(found.cFileName, L"..")) names.push_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  EXPECT_EQ(names.size(), 2u);  // out.exe and x

  realDeleteFile(Long(deep + "\\x\\a.txt").c_str());
  RemoveDirectoryW(Long(deep + "\\x").c_str());
  realDeleteFile(Long(output).c_str());
  for (auto folder = folders.rbegin(); folder + 1 != folders.rend(); ++folder) RemoveDirectoryW(Long(*folder).c_str());
  DeleteFileA(stub.c_str());
  DeleteFileA(source.c_str());
  RemoveDirectoryA(top.c_str());
}

}  // namespace
