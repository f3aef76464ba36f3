// CreateFolderPath on real folders under Wine. The platform calls it makes are
// watched through the program's import table, so the tests pin down not only
// what exists afterwards but which levels were looked up and created, in
// which order.
#include "extract/folder_path.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "import_hook.h"
#include "small_drives.h"
#include "win32_test_support.h"

using testing_support::FolderExists;
using testing_support::ImportHook;
using testing_support::ScratchFolder;

namespace {

std::vector<std::string> lookups;
std::vector<std::string> creations;
const ImportHook* findHook = nullptr;
const ImportHook* createHook = nullptr;

HANDLE WINAPI RecordingFindFirstFileA(LPCSTR name, LPWIN32_FIND_DATAA data) {
  lookups.push_back(name);
  return findHook->Original<decltype(&FindFirstFileA)>()(name, data);
}

BOOL WINAPI RecordingCreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES security) {
  creations.push_back(name);
  return createHook->Original<decltype(&CreateDirectoryA)>()(name, security);
}

// Names directly inside folder (which ends with a backslash).
std::vector<std::string> Children(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

// The path without its trailing backslash.
std::string Level(const std::string& folder) { return folder.substr(0, folder.size() - 1); }

class FolderPathTest : public testing::Test {
 protected:
  FolderPathTest()
      : find("KERNEL32.dll", "FindFirstFileA", reinterpret_cast<const void*>(&RecordingFindFirstFileA)),
        create("KERNEL32.dll", "CreateDirectoryA", reinterpret_cast<const void*>(&RecordingCreateDirectoryA)) {
    findHook = &find;
    createHook = &create;
  }
  void SetUp() override {
    ASSERT_TRUE(find.Installed() && create.Installed());
    Forget();
  }
  ~FolderPathTest() override {
    findHook = nullptr;
    createHook = nullptr;
  }
  static void Forget() {
    lookups.clear();
    creations.clear();
  }

  ScratchFolder scratch{"folder_path"};
  const std::string& base = scratch.Path();

 private:
  ImportHook find;
  ImportHook create;
};

TEST_F(FolderPathTest, OneMissingLevelIsCreatedThenFoundOnTheSecondCall) {
  const std::string path = base + "ZEQXPC\\";
  EXPECT_EQ(CreateFolderPath(path.c_str()), FolderPathResult::Created);
  EXPECT_TRUE(FolderExists(path));
  // Every existing level was looked up once (never the drive), the missing
  // one failed its lookup, and only that one was created.
  ASSERT_FALSE(lookups.empty());
  EXPECT_EQ(lookups.back(), Level(path));
  EXPECT_EQ(lookups[lookups.size() - 2], Level(base));
  for (const std::string& level : lookups) EXPECT_NE(level, "C:");
  EXPECT_EQ(creations, std::vector<std::string>{Level(path)});

  Forget();
  EXPECT_EQ(CreateFolderPath(path.c_str()), FolderPathResult::Existed);
  EXPECT_EQ(lookups.back(), Level(path));
  EXPECT_TRUE(creations.empty());
}

TEST_F(FolderPathTest, SeveralMissingLevelsAreCreatedTopDown) {
  EXPECT_EQ(CreateFolderPath((base + "A\\B\\C\\").c_str()), FolderPathResult::Created);
  EXPECT_EQ(creations, (std::vector<std::string>{base + "A", base + "A\\B", base + "A\\B\\C"}));
  EXPECT_EQ(lookups.back(), base + "A");  // nothing looked up below the first missing level
  EXPECT_TRUE(FolderExists(base + "A\\B\\C"));
}

TEST_F(FolderPathTest, LastLevelWithoutBackslashIsAFolderToo) {
  EXPECT_EQ(CreateFolderPath((base + "A\\B").c_str()), FolderPathResult::Created);
  EXPECT_TRUE(FolderExists(base + "A\\B"));
  EXPECT_EQ(CreateFolderPath((base + "A\\B").c_str()), FolderPathResult::Existed);
}

TEST_F(FolderPathTest, DriveWithoutRootIsRefusedBeforeAnyLookup) {
  // The first letter from Q down that this prefix does not map.
  char drive[] = "Q:\\";
  while (drive[0] > 'D' && GetDriveTypeA(drive) != DRIVE_NO_ROOT_DIR) --drive[0];
  ASSERT_EQ(GetDriveTypeA(drive), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
  Forget();
  EXPECT_EQ(CreateFolderPath((std::string(drive) + "X\\Y\\").c_str()), FolderPathResult::NoRoot);
  EXPECT_TRUE(lookups.empty());
  EXPECT_TRUE(creations.empty());
}

TEST_F(FolderPathTest, LevelThatIsAFileIsRefusedAndNothingIsCreated) {
  testing_support::WriteFileBytes(base + "notes.txt", "text");
  Forget();
  EXPECT_EQ(CreateFolderPath((base + "notes.txt\\sub\\").c_str()), FolderPathResult::NotFolder);
  EXPECT_EQ(lookups.back(), base + "notes.txt");
  EXPECT_TRUE(creations.empty());
  EXPECT_TRUE(testing_support::FileExists(base + "notes.txt"));
}

TEST_F(FolderPathTest, DoubleByteNameWhoseTrailByteIsABackslashStaysWhole) {
  // U+8868 is 0x95 0x5C in code page 932: its trail byte is a backslash.
  ASSERT_EQ(GetACP(), 932u);
  if (GetEnvironmentVariableA("LOCPATH", nullptr, 0) == 0) {
    GTEST_SKIP() << "Wine needs the fixture's LOCPATH to give Unix files Japanese names";
  }
  const std::string name = "\x95\x5C";
  const std::string path = base + name + "\\sub\\";
  EXPECT_EQ(CreateFolderPath(path.c_str()), FolderPathResult::Created);
  EXPECT_EQ(creations, (std::vector<std::string>{base + name, base + name + "\\sub"}));
  EXPECT_EQ(Children(base), std::vector<std::string>{name});
  EXPECT_TRUE(FolderExists(path));
  EXPECT_EQ(CreateFolderPath(path.c_str()), FolderPathResult::Existed);
}

TEST_F(FolderPathTest, LevelWithAWildcardIsNeverTakenForAMatchingFolder) {
  ASSERT_TRUE(CreateDirectoryA((base + "Abc").c_str(), nullptr));
  Forget();
  EXPECT_EQ(CreateFolderPath((base + "A*\\sub\\").c_str()), FolderPathResult::NoRoot);
  EXPECT_EQ(CreateFolderPath((base + "A?c\\sub\\").c_str()), FolderPathResult::NoRoot);
  EXPECT_TRUE(creations.empty());
  EXPECT_EQ(Children(base + "Abc\\"), std::vector<std::string>{});
}

TEST_F(FolderPathTest, PathThatDoesNotFitIsRefusedBeforeAnyLookup) {
  // With the backslash the walk appends, 259 bytes and the NUL are one too many.
  std::string path = base + "a";
  path += std::string(259 - path.size(), 'b');
  ASSERT_EQ(path.size(), 259u);
  EXPECT_EQ(CreateFolderPath(path.c_str()), FolderPathResult::CreateFailed);
  EXPECT_EQ(CreateFolderPath((path + "\\").c_str()), FolderPathResult::CreateFailed);
  EXPECT_EQ(CreateFolderPath((path + "\\" + std::string(40, 'c') + "\\").c_str()), FolderPathResult::CreateFailed);
  EXPECT_TRUE(lookups.empty());
  EXPECT_TRUE(creations.empty());
  EXPECT_TRUE(Children(base).empty());

  // One byte shorter fits: the walk starts (whether the platform then accepts
  // so long a name is its own affair).
  path.pop_back();
  CreateFolderPath(path.c_str());
  EXPECT_FALSE(lookups.empty());
  testing_support::RemoveTree(base + "a");
}

TEST_F(FolderPathTest, LevelOnReadOnlyMediaCannotBeCreated) {
  SKIP_WITHOUT_SMALL_DRIVES();
  const std::string path = testing_support::SmallDrive("readonly") + "new\\sub\\";
  EXPECT_EQ(CreateFolderPath(path.c_str()), FolderPathResult::CreateFailed);
  EXPECT_EQ(creations, std::vector<std::string>{testing_support::SmallDrive("readonly") + "new"});
  EXPECT_FALSE(FolderExists(path));
}

TEST_F(FolderPathTest, LevelsCreatedBeforeAFailedOneStay) {
  SKIP_WITHOUT_SMALL_DRIVES();
  // The file system has room for two more items: A and A\B, not A\B\C.
  const std::string top = testing_support::SmallDrive("inodes");
  EXPECT_EQ(CreateFolderPath((top + "A\\B\\C\\D\\").c_str()), FolderPathResult::CreateFailed);
  EXPECT_EQ(creations, (std::vector<std::string>{top + "A", top + "A\\B", top + "A\\B\\C"}));
  EXPECT_TRUE(FolderExists(top + "A\\B"));
  EXPECT_FALSE(FolderExists(top + "A\\B\\C"));
  testing_support::RemoveTree(top + "A");
}

}  // namespace
