#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "child_modes.h"
#include "extract/own_folders.h"
#include "extract/progress_dialog.h"
#include "import_hook.h"
#include "launcher/launcher.h"
#include "ui/sync.h"
#include "win32_test_support.h"

using testing_support::FileExists;
using testing_support::FolderExists;
using testing_support::ScratchFolder;
using testing_support::WriteFileBytes;

namespace {

std::string EntryPath(const std::string& base, int row) {
  return base + EntryTable[row].folderPrefix + EntryTable[row].fileName;
}

// The launcher's removal for base as an ordinary destination folder.
void RemoveExtractedFilesUnder(const std::string& base) {
  OwnFolders folders;
  folders.SetDestination(base.c_str(), false);
  RemoveExtractedFiles(folders);
}

void WriteAllEntries(const std::string& base) {
  CreateDirectoryA((base + "ZEQXPC").c_str(), nullptr);
  for (int row = 0; row < ENTRY_COUNT; ++row) WriteFileBytes(EntryPath(base, row), "entry");
}

TEST(EntryTableTest, TenRowsThenAnEmptyRow) {
  EXPECT_STREQ("i_autorun.exe", EntryTable[0].fileName);
  EXPECT_STREQ("readme_traial.txt", EntryTable[6].fileName);
  EXPECT_EQ(ENTRY_EXTRACT | ENTRY_READ_ONLY, EntryTable[6].flags);
  int streamed = 0;
  for (int row = 0; row < ENTRY_COUNT; ++row) {
    EXPECT_STREQ("ZEQXPC\\", EntryTable[row].folderPrefix);
    EXPECT_TRUE(EntryTable[row].flags & ENTRY_EXTRACT);
    if (EntryTable[row].flags & ENTRY_STREAMED) ++streamed;
  }
  EXPECT_EQ(4, streamed);
  EXPECT_STREQ("", EntryTable[ENTRY_COUNT].fileName);
  EXPECT_STREQ("", EntryTable[ENTRY_COUNT].folderPrefix);
}

TEST(RemoveExtractedFilesTest, DeletesAllTenReadOnlyIncludedAndTheSubFolder) {
  ScratchFolder base("rm_all");
  WriteAllEntries(base.Path());
  SetFileAttributesA(EntryPath(base.Path(), 6).c_str(), FILE_ATTRIBUTE_READONLY);
  RemoveExtractedFilesUnder(base.Path());
  for (int row = 0; row < ENTRY_COUNT; ++row) EXPECT_FALSE(FileExists(EntryPath(base.Path(), row))) << row;
  EXPECT_FALSE(FolderExists(base.Path() + "ZEQXPC"));
  EXPECT_TRUE(FolderExists(base.Path())) << "the base folder itself stays";
}

// The folders' removal (SetFileInformationByHandle, looked up at run time),
// counted.
using SetInformationFunction = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
SetInformationFunction realSetInformation = nullptr;
const testing_support::ImportHook* getProcAddressHook = nullptr;
int folderRemovals = 0;

BOOL WINAPI CountingSetInformation(HANDLE handle, int type, void* data, DWORD size) {
  ++folderRemovals;
  return realSetInformation(handle, type, data, size);
}

FARPROC WINAPI CountingGetProcAddress(HMODULE module, LPCSTR name) {
  const FARPROC found = getProcAddressHook->Original<decltype(&GetProcAddress)>()(module, name);
  if (HIWORD(reinterpret_cast<UINT_PTR>(name)) == 0 || found == nullptr ||
      strcmp(name, "SetFileInformationByHandle") != 0) {
    return found;
  }
  realSetInformation = reinterpret_cast<SetInformationFunction>(reinterpret_cast<void*>(found));
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&CountingSetInformation));
}

// A file nobody deleted keeps the folder, at once: refused as not empty, a
// folder that holds more than what the removal deleted is not waited for.
TEST(RemoveExtractedFilesTest, ExtraFileKeepsTheSubFolderWithoutAWait) {
  ScratchFolder base("rm_extra");
  WriteAllEntries(base.Path());
  WriteFileBytes(base.Path() + "ZEQXPC\\installer.log", "log");
  testing_support::ImportHook hook("KERNEL32.dll", "GetProcAddress",
                                   reinterpret_cast<const void*>(&CountingGetProcAddress));
  getProcAddressHook = &hook;
  ASSERT_TRUE(hook.Installed());
  folderRemovals = 0;
  RemoveExtractedFilesUnder(base.Path());
  for (int row = 0; row < ENTRY_COUNT; ++row) EXPECT_FALSE(FileExists(EntryPath(base.Path(), row))) << row;
  EXPECT_TRUE(FileExists(base.Path() + "ZEQXPC\\installer.log"));
  EXPECT_EQ(1, folderRemovals);
}

// Deletions refused the Windows way, and the retry pace's clock. Windows
// answers a deletion with ERROR_ACCESS_DENIED for a file whose deletion is
// still pending (one an earlier run deleted while something held it with
// delete sharing), and for a file some security software holds so; Wine
// never does. So DeleteFileW refuses through the hook, a given number of
// tries per file, before the real call is made. And Sleep advances the
// clock GetTickCount reads instead of sleeping: the budget is spent at
// once, and the time the removal waited is counted exactly. The clock
// starts just before GetTickCount wraps around.
class RefusedDeletionTest : public testing::Test {
 protected:
  void SetUp() override {
    current = this;
    ASSERT_TRUE(deleteHook.Installed() && sleepHook.Installed() && tickHook.Installed());
    WriteAllEntries(base.Path());
  }
  void TearDown() override { current = nullptr; }

  static BOOL WINAPI RefusingDeleteFileW(LPCWSTR path) {
    int& refusals = current->refusalsLeft[RowOf(path)];
    ++current->tries[RowOf(path)];
    if (refusals != 0) {
      if (refusals > 0) --refusals;
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    return current->deleteHook.Original<decltype(&DeleteFileW)>()(path);
  }
  static void WINAPI AdvancingSleep(DWORD ms) {
    current->clockMs += ms;
    current->sleptMs += ms;
  }
  static DWORD WINAPI VirtualTickCount() { return current->clockMs; }

  // The EntryTable row of a file's path, or ENTRY_COUNT for any other.
  static int RowOf(LPCWSTR path) {
    const wchar_t* name = wcsrchr(path, L'\\');
    char narrow[MAX_PATH] = "";
    WideCharToMultiByte(CP_ACP, 0, name != nullptr ? name + 1 : path, -1, narrow, sizeof narrow, nullptr, nullptr);
    for (int row = 0; row < ENTRY_COUNT; ++row) {
      if (_stricmp(narrow, EntryTable[row].fileName) == 0) return row;
    }
    return ENTRY_COUNT;
  }

  int TotalTries() const {
    int total = 0;
    for (int count : tries) total += count;
    return total;
  }

  static RefusedDeletionTest* current;
  ScratchFolder base{"rm_refused"};
  // Refusals still to come, per row (-1: every try); the last slot for any
  // other file.
  int refusalsLeft[ENTRY_COUNT + 1] = {};
  int tries[ENTRY_COUNT + 1] = {};
  DWORD clockMs = 0u - 1000u;
  DWORD sleptMs = 0;
  testing_support::ImportHook deleteHook{"KERNEL32.dll", "DeleteFileW",
                                         reinterpret_cast<const void*>(&RefusingDeleteFileW)};
  testing_support::ImportHook sleepHook{"KERNEL32.dll", "Sleep", reinterpret_cast<const void*>(&AdvancingSleep)};
  testing_support::ImportHook tickHook{"KERNEL32.dll", "GetTickCount",
                                       reinterpret_cast<const void*>(&VirtualTickCount)};
};

RefusedDeletionTest* RefusedDeletionTest::current = nullptr;

// Access denied is a short hold: each of the ten refused once, then let go,
// under the one budget, which this leaves unspent.
TEST_F(RefusedDeletionTest, AccessDeniedIsRiddenOut) {
  for (int row = 0; row < ENTRY_COUNT; ++row) refusalsLeft[row] = 1;
  RemoveExtractedFilesUnder(base.Path());
  for (int row = 0; row < ENTRY_COUNT; ++row) {
    EXPECT_FALSE(FileExists(EntryPath(base.Path(), row))) << row;
    EXPECT_EQ(2, tries[row]) << row;
  }
  EXPECT_FALSE(FolderExists(base.Path() + "ZEQXPC"));
  EXPECT_LT(sleptMs, RETRY_BUDGET_MS);
}

// Every file held past the budget: the removal waits one budget in all, not
// one per file. The first file's tries spend it; each file after that is
// tried once and left, and so is the folder, not empty.
TEST_F(RefusedDeletionTest, HoldsPastTheBudgetCostOneBudgetForAllTheFiles) {
  for (int row = 0; row < ENTRY_COUNT; ++row) refusalsLeft[row] = -1;
  RemoveExtractedFilesUnder(base.Path());
  EXPECT_EQ(RETRY_BUDGET_MS, sleptMs) << "the last pause ends with the budget";
  EXPECT_GT(tries[0], 2);
  for (int row = 1; row < ENTRY_COUNT; ++row) EXPECT_EQ(1, tries[row]) << row;
  for (int row = 0; row < ENTRY_COUNT; ++row) EXPECT_TRUE(FileExists(EntryPath(base.Path(), row))) << row;
  EXPECT_TRUE(FolderExists(base.Path() + "ZEQXPC"));
}

TEST(RemoveExtractedFilesTest, NothingPresentIsQuietAndSoIsAnOverlongBase) {
  ScratchFolder base("rm_none");
  RemoveExtractedFilesUnder(base.Path());
  EXPECT_TRUE(FolderExists(base.Path()));

  // A base so long that no row fits: every row is skipped, nothing is cut
  // into some other file's name.
  const std::string longBase = base.Path() + std::string(240, 'x') + "\\";
  RemoveExtractedFilesUnder(longBase);
}

TEST(DestinationFolderTest, OrdinaryFolderGetsABackslashOnly) {
  ProgressDialog dialog;
  dialog.SetDestinationFolder("C:\\Temp");
  char folder[PATH_CAPACITY];
  EXPECT_EQ(8u, dialog.GetDestinationFolder(folder, sizeof folder));
  EXPECT_STREQ("C:\\Temp\\", folder);
}

TEST(DestinationFolderTest, DriveRootGetsItsOwnFolder) {
  ProgressDialog dialog;
  dialog.SetDestinationFolder("D:\\");
  char folder[PATH_CAPACITY];
  dialog.GetDestinationFolder(folder, sizeof folder);
  EXPECT_STREQ("D:\\ZEPHRAQUEST_DEMO_B\\", folder);
  dialog.SetDestinationFolder("T:");
  dialog.GetDestinationFolder(folder, sizeof folder);
  EXPECT_STREQ("T:\\ZEPHRAQUEST_DEMO_B\\", folder);
}

TEST(DestinationFolderTest, GetReportsTheLengthButCopiesOnlyWhenItFits) {
  ProgressDialog dialog;
  dialog.SetDestinationFolder("C:\\Temp\\");
  char small[8] = "unused";
  EXPECT_EQ(8u, dialog.GetDestinationFolder(small, sizeof small));
  EXPECT_STREQ("unused", small);
}

// The child writes the marker only once the wait on it has begun, so a
// return before the child's end finds no marker.
HANDLE childMayFinish = nullptr;
const testing_support::ImportHook* waitHook = nullptr;

DWORD WINAPI LettingChildFinish(HANDLE object, DWORD timeoutMs) {
  SetEvent(childMayFinish);
  return waitHook->Original<decltype(&WaitForSingleObject)>()(object, timeoutMs);
}

TEST(RunProcessAndWaitTest, WaitsForTheProcessToEnd) {
  ScratchFolder folder("run");
  const std::string marker = folder.Path() + "marker.txt";
  const std::string name = "ZT_run_" + std::to_string(GetCurrentProcessId());
  childMayFinish = CreateEventA(nullptr, TRUE, FALSE, (name + "_go").c_str());
  testing_support::ImportHook hook("KERNEL32.dll", "WaitForSingleObject",
                                   reinterpret_cast<const void*>(&LettingChildFinish));
  waitHook = &hook;
  ASSERT_TRUE(hook.Installed());
  const std::string program = testing_support::OwnProgramPath();
  const std::string arguments = "--child touch " + name + " " + marker;
  ASSERT_TRUE(RunProcessAndWait(program.c_str(), arguments.c_str(), SW_SHOWNORMAL).Ok());
  EXPECT_TRUE(FileExists(marker)) << "returned before the child finished";
  CloseHandle(childMayFinish);
}

TEST(RunProcessAndWaitTest, MissingProgramIsReportedAsNotStartedWithTheSystemsError) {
  ScratchFolder folder("run_missing");
  const StartResult started = RunProcessAndWait((folder.Path() + "i_autorun.exe").c_str(), nullptr, SW_SHOWNORMAL);
  EXPECT_EQ(StartFault::Refused, started.fault);
  EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), started.error);
}

const std::string LAUNCHER_PATH = testing_support::WindowsPathOf(LAUNCHER_EXE_UNIX_PATH);

// Both cases would show the progress dialog (and wait for a person to answer
// its error box, since the bare launcher carries no bundle) if the launcher
// went on: ending in time is the proof that it did not.
TEST(LauncherProcessTest, SecondCopyExitsAtOnceWithZero) {
  NamedMutex first;
  ASSERT_EQ(MutexCreateResult::Created, first.Create(LAUNCHER_MUTEX_NAME)) << "another launcher is running on this prefix";
  EXPECT_EQ(0, testing_support::RunAndWait("\"" + LAUNCHER_PATH + "\"", 20000));
}

}  // namespace
