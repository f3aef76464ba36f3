// The launcher end to end in folders that others have been at: its folder
// left by an earlier run or another user, one that cannot be emptied, one
// redirected through a link to someone else's, a file still held open by
// another process, DLLs planted beside the launcher, files held by security
// software. The launcher installs when it safely can, and otherwise fails the
// first row; nothing is written, deleted or started through what was
// planted. The fixtures are in launcher_scenario.h.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "child_modes.h"
#include "extract/message_table.h"
#include "launcher_scenario.h"

using namespace testing_support;
using namespace scenario;

namespace {

TEST_F(LauncherScenario, FolderLeftBeforeTheRunIsEmptiedSoTheInstallerFindsOnlyTheTen) {
  // Read-only files of the same names, as an earlier run leaves them; a DLL
  // the installer would load, a sub-folder with a file and a read-only
  // stray, as another user could leave them.
  const std::string folder = tempFolder + "ZEQXPC\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  CreateDirectoryA((folder + "plugins").c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(PLANTED_DLL_PATH.c_str(), (folder + "version.dll").c_str(), FALSE));
  for (const char* name : {"readme_traial.txt", "inst_se.dat", "zephra.exe", "old.log", "plugins\\hook.dll"}) {
    WriteFileBytes(folder + name, "left over from an earlier run");
    SetFileAttributesA((folder + name).c_str(), FILE_ATTRIBUTE_READONLY);
  }
  PackAll();
  const RunOutcome outcome = Run(tempFolder);
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_TRUE(outcome.boxes.empty()) << outcome.boxes[0];
  ExpectInstallerSawEverything(Report(), folder);
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
}

TEST_F(LauncherScenario, FolderThatCannotBeEmptiedFailsTheFirstRowAndStartsNothing) {
  // A program left under the installer's name, and a file held open
  // without delete sharing, which cannot be removed.
  const std::string folder = tempFolder + "ZEQXPC\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(INSTALLER_PATH.c_str(), (folder + "i_autorun.exe").c_str(), FALSE));
  WriteFileBytes(folder + "busy.log", "held");
  HANDLE busy = CreateFileA((folder + "busy.log").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, busy);
  PackAll();
  const RunOutcome outcome = Run(tempFolder);
  CloseHandle(busy);
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_EQ(std::vector<std::string>{GetErrorText(0, ERROR_TEXT_INSTALL_FAILED)}, outcome.boxes);
  EXPECT_FALSE(Report().present) << "a program left in the folder was started";
  EXPECT_EQ(std::vector<std::string>{"busy.log"}, FolderItems(folder));
}

// One of the launcher's folders made, before the run, a link to a folder of
// someone else's, the victim: on Windows a junction, which any user can make
// where the folder is shared. Wine 8 cannot make junctions; it shows a Unix
// symbolic link as a reparse point, and writes and deletes through it.
struct Redirection {
  const char* label;
  bool driveRoot;      // the temporary folder is S:\, else a folder of its own
  const char* folder;  // a plain folder made first, below the temporary folder, or ""
  const char* link;    // the link, below the temporary folder
};

void PrintTo(const Redirection& redirection, std::ostream* out) { *out << redirection.label; }

class RedirectedFolder : public LauncherScenario, public ::testing::WithParamInterface<Redirection> {};

TEST_P(RedirectedFolder, FailsTheFirstRowAndNothingThroughItIsWrittenDeletedOrStarted) {
  const Redirection& redirection = GetParam();
  if (redirection.driveRoot && !DriveMapped("S:\\")) GTEST_SKIP() << "drive S: is not mapped";
  const std::string temp = redirection.driveRoot ? "S:\\" : tempFolder;
  if (redirection.driveRoot) RemoveTree("S:\\ZEPHRAQUEST_DEMO_B");
  // The victim holds table names, a file of its own, and programs where the
  // launcher would start its installer through the link.
  const std::string victim = scratch.Path() + "victim\\";
  CreateDirectoryA(victim.c_str(), nullptr);
  CreateDirectoryA((victim + "ZEQXPC").c_str(), nullptr);
  const std::vector<std::string> files = {"setup.exe", "readme_traial.txt", "notes.txt", "i_autorun.exe",
                                          "ZEQXPC\\i_autorun.exe"};
  for (const std::string& file : files) WriteFileBytes(victim + file, "the victim's " + file);
  for (const std::string& file : {files[3], files[4]}) {
    ASSERT_TRUE(CopyFileA(INSTALLER_PATH.c_str(), (victim + file).c_str(), FALSE));
  }
  // Everything in it, names and bytes: equal afterwards, nothing was
  // written, deleted or added there.
  const auto contents = [&] {
    std::vector<std::string> all = FolderItems(victim);
    for (const std::string& name : FolderItems(victim + "ZEQXPC\\")) all.push_back("ZEQXPC\\" + name);
    for (const std::string& file : files) all.push_back(ReadFileBytes(victim + file));
    return all;
  };
  const std::vector<std::string> before = contents();

  if (*redirection.folder) CreateDirectoryA((temp + redirection.folder).c_str(), nullptr);
  const std::string link = temp + redirection.link;
  ASSERT_TRUE(MakeUnixLink(link, victim)) << link;
  PackAll();
  const RunOutcome outcome = Run(temp);
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_EQ(std::vector<std::string>{GetErrorText(0, ERROR_TEXT_INSTALL_FAILED)}, outcome.boxes);
  EXPECT_FALSE(Report().present) << "a program was started through the link";
  EXPECT_TRUE(before == contents()) << "the victim's folder changed";
  EXPECT_NE(0u, GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) << "the link is gone";
  if (redirection.driveRoot) RemoveTree("S:\\ZEPHRAQUEST_DEMO_B");
}

INSTANTIATE_TEST_SUITE_P(Links, RedirectedFolder,
                         ::testing::Values(Redirection{"Zeqxpc", false, "", "ZEQXPC"},
                                           Redirection{"FolderInsideZeqxpc", false, "ZEQXPC", "ZEQXPC\\plugins"},
                                           Redirection{"DriveRootFolder", true, "", "ZEPHRAQUEST_DEMO_B"}),
                         [](const ::testing::TestParamInfo<Redirection>& info) { return info.param.label; });

TEST_F(LauncherScenario, FileStillOpenInAnotherProcessStaysWithItsFolder) {
  PackAll();
  scenario::WriteControl(controlPath, "report=" + reportPath + "\r\nlinger_ms=2000\r\n");
  scenario::LauncherProcess launcher;
  ASSERT_TRUE(launcher.Start(launcherPath, RunOptions{tempFolder, controlPath}));
  ASSERT_TRUE(testing_support::WaitForFile(reportPath, 30000));
  // Held without delete sharing, as a program still reading it would.
  const std::string held = tempFolder + "ZEQXPC\\inst_se.dat";
  HANDLE file = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  const RunOutcome outcome = launcher.Wait();
  CloseHandle(file);
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_EQ(std::vector<std::string>{"ZEQXPC"}, FolderItems(tempFolder));
  EXPECT_EQ(std::vector<std::string>{"inst_se.dat"}, FolderItems(tempFolder + "ZEQXPC\\"));
}

// A launcher started from a folder others can write to (downloads, a
// temporary folder) must take none of the DLLs planted there under the names
// of system DLLs it loads: the common controls library and, through it, the
// theme library. Wine is told to take planted copies, as Windows would.
TEST_F(LauncherScenario, DllsPlantedBesideTheLauncherAreNotLoaded) {
  const std::vector<std::string> planted = {"comctl32.dll", "uxtheme.dll"};
  for (const std::string& name : planted) {
    ASSERT_TRUE(CopyFileA(PLANTED_DLL_PATH.c_str(), (scratch.Path() + name).c_str(), FALSE)) << name;
  }
  launcherPath = scratch.Path() + "zephra_planted_trial.exe";
  NativeDllsFirst nativeFirst("zephra_planted_trial.exe", {"comctl32", "uxtheme"});
  PackAll();
  const RunOutcome outcome = Run(tempFolder);
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_TRUE(outcome.dialogSeen);
  ExpectInstallerSawEverything(Report(), tempFolder + "ZEQXPC\\");
  for (const std::string& name : planted) {
    EXPECT_FALSE(FileExists(scratch.Path() + name + ".loaded")) << "the planted " << name << " was loaded";
  }
}

// Stand-ins for security software, real processes (child mode hold-files):
// each holds files as a scanner does, and lets go only once a deletion of
// the launcher's has met the hold (the host reports the real call the hold
// refused, then tells the holder). The launcher rides the hold out: the
// installer runs with all ten, and nothing is left.
struct HeldFiles {
  const char* label;
  int count;            // files held, of the sub-folder
  const char* sharing;  // "none", or "delete": deleted, a file stays in its folder until let go
  bool leftover;        // the one file held is left by an earlier run, held before the launcher starts
  const char* refusal;  // the first refusal the host reports
};

void PrintTo(const HeldFiles& held, std::ostream* out) { *out << held.label; }

class FilesHeldBySecuritySoftware : public HookedLauncherScenario,
                                    public ::testing::WithParamInterface<HeldFiles> {};

TEST_P(FilesHeldBySecuritySoftware, AreRiddenOutAndNothingIsLeft) {
  const HeldFiles& held = GetParam();
  const std::string folder = tempFolder + "ZEQXPC";
  if (held.leftover) {
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    WriteFileBytes(folder + "\\old.log", "left by an earlier run");
  }
  const std::string name = "ZT_let_go_" + std::to_string(GetCurrentProcessId());
  HANDLE letGo = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, (name + "_ready").c_str());
  ASSERT_TRUE(letGo != nullptr && ready != nullptr);
  PROCESS_INFORMATION holder = {};
  ASSERT_TRUE(StartProcess(
      Widen(ChildCommand("hold-files", folder + " " + std::to_string(held.count) + " " + held.sharing + " " + name)),
      holder));
  CloseHandle(holder.hThread);
  if (held.leftover) {
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 30000)) << "the leftover was never held";
  }

  const HostRun run = RunHost("watch=" + name, "");
  SetEvent(letGo);  // the holder ends however the run went
  DWORD holderExit = 99;
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(holder.hProcess, 60000));
  GetExitCodeProcess(holder.hProcess, &holderExit);
  CloseHandle(holder.hProcess);
  CloseHandle(ready);
  CloseHandle(letGo);
  EXPECT_EQ(0u, holderExit) << "the holder did not hold " << held.count << " files";
  EXPECT_EQ(0, run.exitCode);
  EXPECT_EQ((std::vector<std::string>{std::string("removal refused ") + held.refusal, "exit 0"}), run.ReportLines());
  ExpectInstallerSawEverything(Report(), folder + "\\");
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
}

INSTANTIATE_TEST_SUITE_P(
    Holds, FilesHeldBySecuritySoftware,
    ::testing::Values(HeldFiles{"EachWrittenFileAtTheRemoval", ENTRY_COUNT, "none", false, "delete-file 32"},
                      HeldFiles{"EachWrittenFileSharingDeletion", ENTRY_COUNT, "delete", false, "remove-folder 145"},
                      HeldFiles{"LeftoverAtTheNextRunsPreparation", 1, "none", true, "delete-file 32"}),
    [](const ::testing::TestParamInfo<HeldFiles>& info) { return info.param.label; });

}  // namespace
