// The launcher end to end: each case starts the real launcher executable, a
// bundle appended, as its own process under Wine, with its own temporary
// folder, the stand-in installer in row 0 and small data entries. After each
// run: exit code 0, and nothing left behind but what the removal is meant to
// leave.
#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bundle/format/bundle_scan.h"
#include "bundle/format/crc32.h"
#include "bundled_program.h"
#include "child_modes.h"
#include "extract/message_table.h"
#include "installer/standin_report.h"
#include "launcher/launcher.h"
#include "launcher_run.h"
#include "win32_test_support.h"

using namespace testing_support;
using scenario::FolderItems;
using scenario::InstallerReport;
using scenario::RunLauncher;
using scenario::RunOptions;
using scenario::RunOutcome;

namespace {

const std::string LAUNCHER_PATH = WindowsPathOf(LAUNCHER_UNIX_PATH);
const std::string INSTALLER_PATH = WindowsPathOf(INSTALLER_UNIX_PATH);
const std::string DRIVES_ROOT = WindowsPathOf(DRIVES_UNIX_ROOT);
const std::string PLANTED_DLL_PATH = WindowsPathOf(PLANTED_DLL_UNIX_PATH);
const std::string LAUNCHER_HOST_PATH = WindowsPathOf(LAUNCHER_HOST_UNIX_PATH);
const std::string SIGNED_FOLDER = WindowsPathOf(SIGNED_UNIX_DIR);

std::string CrcOf(const Bytes& data) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", bundle::Crc32(data.data(), data.size()));
  return text;
}

// The child's lines after "started <id>".
std::vector<std::string> ChildLines(const InstallerReport& report) {
  if (report.child.empty()) return {};
  return std::vector<std::string>(report.child.begin() + 1, report.child.end());
}

bool DriveMapped(const char* root) { return GetDriveTypeA(root) != DRIVE_NO_ROOT_DIR; }

// The DACL of folder grants full control, to everything made inside, to the
// current user and SYSTEM, and to nobody but them and the Administrators.
// Wine keeps the DACL given at creation (without its Administrators entry
// and its protected flag), while a folder made with the inherited one shows
// an entry for everyone. Wine runs everything as one user and does not
// enforce a DACL between users: this reads the descriptor back, no more. Nor
// does Wine show inheritance: it gives a file made inside the entries of its
// Unix mode.
void ExpectOnlyOwnEntries(const std::string& folder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  char* text = nullptr;
  ASSERT_EQ(DWORD(ERROR_SUCCESS), GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                                        nullptr, nullptr, nullptr, nullptr, &descriptor));
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                                   DACL_SECURITY_INFORMATION, &text, nullptr));
  std::string dacl = text;  // D:[flags](entry)(entry)...
  LocalFree(text);
  LocalFree(descriptor);
  HANDLE token = nullptr;
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } user;
  DWORD size = 0;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, &user, sizeof user, &size));
  CloseHandle(token);
  ASSERT_TRUE(ConvertSidToStringSidA(user.user.User.Sid, &text));
  const std::string userEntry = std::string("(A;OICI;FA;;;") + text + ")";
  LocalFree(text);
  std::vector<std::string> others;
  bool userFound = false, systemFound = false;
  for (size_t open = dacl.find('('); open != std::string::npos; open = dacl.find('(', open + 1)) {
    const std::string entry = dacl.substr(open, dacl.find(')', open) + 1 - open);
    userFound = userFound || entry == userEntry;
    systemFound = systemFound || entry == "(A;OICI;FA;;;SY)";
    if (entry != userEntry && entry != "(A;OICI;FA;;;SY)" && entry != "(A;OICI;FA;;;BA)") others.push_back(entry);
  }
  EXPECT_TRUE(userFound && systemFound && others.empty()) << dacl;
}

class LauncherScenario : public ::testing::Test {
 protected:
  void SetUp() override {
    demo = MakeDemoEntries();
    const std::string installer = ReadFileBytes(INSTALLER_PATH);
    ASSERT_FALSE(installer.empty()) << INSTALLER_PATH;
    demo.contents[0].assign(installer.begin(), installer.end());
    tempFolder = scratch.Path() + "temp\\";
    CreateDirectoryA(tempFolder.c_str(), nullptr);
    launcherPath = scratch.Path() + "zephra_trial.exe";
    controlPath = scratch.Path() + "standin.ini";
    reportPath = scratch.Path() + "report.txt";
  }

  void Pack(const std::vector<bundle::BundleInput>& inputs) {
    ASSERT_TRUE(WriteBundledCopy(LAUNCHER_PATH, launcherPath, inputs)) << launcherPath;
  }
  void PackAll() { Pack(BundleInputsOf(demo)); }

  // Runs the launcher with TMP = temp and a control file with these lines
  // besides the report.
  RunOutcome Run(const std::string& temp, const std::string& control = "", bool cancel = false) {
    RunOptions options;
    options.tempFolder = temp;
    options.cancel = cancel;
    return RunWith(options, control);
  }
  // The same with options as given, and the launcher at launcher when set.
  RunOutcome RunWith(RunOptions options, const std::string& control = "", const std::wstring& launcher = L"") {
    scenario::WriteControl(controlPath, "report=" + reportPath + "\r\n" + control);
    options.controlFile = controlPath;
    return RunLauncher(launcher.empty() ? Widen(launcherPath) : launcher, options);
  }

  InstallerReport Report() { return scenario::ReadInstallerReport(reportPath); }

  // The installer ran from folder (ends with a backslash), its path quoted
  // and no arguments, owning its mutex (unless the test took it first), and
  // found all ten entries as packed and nothing else.
  void ExpectInstallerSawEverything(const InstallerReport& report, const std::string& folder,
                                    const char* mutex = "created") {
    ASSERT_TRUE(report.present) << "the installer did not run";
    EXPECT_TRUE(report.strays.empty()) << "the installer found " << report.strays[0] << " beside itself";
    EXPECT_EQ(folder + "i_autorun.exe", report.self);
    EXPECT_EQ("\"" + report.self + "\"", report.commandLine) << "started with arguments or unquoted";
    EXPECT_EQ(1, report.argc) << report.commandLine;
    EXPECT_EQ(mutex, report.mutex);
    for (int row = 0; row < ENTRY_COUNT; ++row) {
      const std::string& name = demo.names[row];
      const auto found = report.files.find(name);
      ASSERT_TRUE(found != report.files.end() && found->second.present) << name << " did not arrive";
      const InstallerReport::File& file = found->second;
      EXPECT_EQ(demo.contents[row].size(), file.size) << name;
      EXPECT_EQ(CrcOf(demo.contents[row]), file.crc) << name;
      EXPECT_EQ(name == "readme_traial.txt", file.readOnly) << name;
    }
  }

  ScratchFolder scratch{"scenario"};
  DemoEntries demo;
  std::string tempFolder, launcherPath, controlPath, reportPath;
};

TEST_F(LauncherScenario, FullRunWritesAllTenStartsTheInstallerAndRemovesEverything) {
  PackAll();
  const RunOutcome outcome = Run(tempFolder);
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_TRUE(outcome.dialogSeen);
  EXPECT_TRUE(outcome.boxes.empty()) << outcome.boxes[0];
  ExpectInstallerSawEverything(Report(), tempFolder + "ZEQXPC\\");
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
}

TEST_F(LauncherScenario, SecondCopyStartedWhileTheFirstRunsExitsAtOnceAndTouchesNothing) {
  PackAll();
  scenario::WriteControl(controlPath, "report=" + reportPath + "\r\nlinger_ms=4000\r\n");
  scenario::LauncherProcess first;
  ASSERT_TRUE(first.Start(launcherPath, RunOptions{tempFolder, controlPath}));
  ASSERT_TRUE(testing_support::WaitForFile(reportPath, 30000)) << "the first copy's installer never started";

  const std::string otherTemp = scratch.Path() + "temp2\\";
  CreateDirectoryA(otherTemp.c_str(), nullptr);
  RunOptions second{otherTemp, ""};
  second.timeoutMs = 20000;
  const RunOutcome refused = RunLauncher(launcherPath, second);
  EXPECT_EQ(0, refused.exitCode);
  EXPECT_FALSE(refused.dialogSeen);
  EXPECT_TRUE(first.Running()) << "the second copy did not end while the first's installer still ran";
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(otherTemp));

  const RunOutcome outcome = first.Wait();
  EXPECT_EQ(0, outcome.exitCode);
  ExpectInstallerSawEverything(Report(), tempFolder + "ZEQXPC\\");
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
}

TEST_F(LauncherScenario, DriveRootTemporaryFolderGetsPrivateFoldersHeldUntilTheRemoval) {
  if (!DriveMapped("S:\\")) GTEST_SKIP() << "drive S: is not mapped (scenario_drives fixture)";
  RemoveTree("S:\\ZEPHRAQUEST_DEMO_B");
  PackAll();
  // Taken before the launcher starts, the installer's mutex keeps the
  // removal waiting until the folders have been looked at.
  HANDLE installerMutex = CreateMutexA(nullptr, TRUE, INSTALLER_MUTEX_NAME);
  ASSERT_NE(nullptr, installerMutex);
  scenario::WriteControl(controlPath, "report=" + reportPath + "\r\n");
  scenario::LauncherProcess launcher;
  ASSERT_TRUE(launcher.Start(launcherPath, RunOptions{"S:\\", controlPath}));
  ASSERT_TRUE(testing_support::WaitForFile(reportPath, 30000)) << "the installer never started";
  for (const std::string folder : {"S:\\ZEPHRAQUEST_DEMO_B", "S:\\ZEPHRAQUEST_DEMO_B\\ZEQXPC"}) {
    SCOPED_TRACE(folder);
    ExpectOnlyOwnEntries(folder);
    // Held: nobody can move it away and put a link in its place.
    EXPECT_FALSE(MoveFileA(folder.c_str(), (folder + "_moved").c_str()));
    EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
  }
  ReleaseMutex(installerMutex);
  CloseHandle(installerMutex);

  const RunOutcome outcome = launcher.Wait();
  EXPECT_EQ(0, outcome.exitCode);
  ExpectInstallerSawEverything(Report(), "S:\\ZEPHRAQUEST_DEMO_B\\ZEQXPC\\", "existed");
  // The drive-root folder goes too: left behind, private, it would bar every
  // other user from extracting there.
  EXPECT_EQ(std::vector<std::string>{}, FolderItems("S:\\"));
}

TEST_F(LauncherScenario, TemporaryFolderEndingInATrailByte5CStillGetsItsBackslash) {
  // "temp表": 表 is 0x95 0x5C in code page 932; TMP is given without a
  // trailing backslash, so the last byte of the value is that 0x5C.
  const std::string temp = scratch.Path() + "temp\x95\x5C";
  ASSERT_TRUE(CreateDirectoryA(temp.c_str(), nullptr)) << "cannot create a folder with a Japanese name (LOCPATH?)";
  PackAll();
  const RunOutcome outcome = Run(temp);
  EXPECT_EQ(0, outcome.exitCode);
  ExpectInstallerSawEverything(Report(), temp + "\\ZEQXPC\\");
  EXPECT_TRUE(FolderExists(temp));
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(temp));
  // Nothing went to the parent, as it would if the 0x5C were taken for the
  // folder's trailing backslash ("temp\x95" + "ZEQXPC").
  EXPECT_EQ((std::vector<std::string>{"report.txt", "standin.ini", "temp", "temp\x95\x5C", "zephra_trial.exe"}),
            FolderItems(scratch.Path()));
}

TEST_F(LauncherScenario, ConfirmedCancelStartsNoInstallerAndLeavesNothing) {
  // Data entries large enough (64 MiB together) that the command, sent as
  // soon as the dialog exists, arrives while they are being written.
  for (int row = 5; row < ENTRY_COUNT; ++row) {
    if (EntryTable[row].flags & ENTRY_STREAMED) demo.contents[row] = DemoContent(16 << 20, row);
  }
  PackAll();
  const RunOutcome outcome = Run(tempFolder, "", /*cancel=*/true);
  EXPECT_EQ(0, outcome.exitCode);
  ASSERT_TRUE(outcome.cancelSent);
  ASSERT_EQ(1u, outcome.boxes.size());
  EXPECT_EQ(GetText(0, TEXT_CANCEL_QUESTION), outcome.boxes[0]);
  EXPECT_FALSE(Report().present) << "the installer ran after a confirmed cancel";
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
}

TEST_F(LauncherScenario, MissingEntryIsReportedAndEverythingWrittenIsRemoved) {
  Pack(BundleInputsOf(demo, {8}));  // inst_se.dat: after the read-only read-me
  const RunOutcome outcome = Run(tempFolder);
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_EQ(std::vector<std::string>{GetErrorText(0, ERROR_TEXT_INSTALL_FAILED)}, outcome.boxes);
  EXPECT_FALSE(Report().present);
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
}

TEST_F(LauncherScenario, DamagedBlockIsReportedAndEverythingWrittenIsRemoved) {
  std::vector<bundle::BundleInput> inputs = BundleInputsOf(demo);
  Bytes& block = inputs[4].data;  // zephra.exe: its stream ends half-way
  ASSERT_EQ("zephra.exe", inputs[4].name);
  block.resize(block.size() / 2);
  Pack(inputs);
  const RunOutcome outcome = Run(tempFolder);
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_EQ(std::vector<std::string>{GetErrorText(0, ERROR_TEXT_DAMAGED)}, outcome.boxes);
  EXPECT_FALSE(Report().present);
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
}

TEST_F(LauncherScenario, FullDiskIsReportedAsSuchAndEverythingWrittenIsRemoved) {
  if (!FileExists(DRIVES_ROOT + "\\u-mounted")) GTEST_SKIP() << "no 1 MiB file system on U: (mounting tmpfs needs root)";
  RemoveTree("U:\\ZEPHRAQUEST_DEMO_B");
  demo.contents[7] = DemoContent(600000, 8);  // inst_bgm.dat no longer fits
  PackAll();
  const RunOutcome outcome = Run("U:\\");
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_EQ(std::vector<std::string>{GetErrorText(0, ERROR_TEXT_DISK_FULL)}, outcome.boxes);
  EXPECT_FALSE(Report().present);
  EXPECT_EQ(std::vector<std::string>{}, FolderItems("U:\\"));
}

// Every text read back in UTF-16 from the launcher's windows, under the
// system code page this program runs with: ctest runs this case under the
// Japanese one (932), a Western one (1252) and UTF-8 (65001), which Wine
// takes from the locale each process starts with (tests/scenario/
// CMakeLists.txt). The launcher inherits it; the installer it starts reports
// it.
TEST_F(LauncherScenario, TextsReadBackInUtf16AreTheJapaneseOnEveryCodePage) {
  const char* expected = getenv("ZEPHRA_EXPECT_CODE_PAGE");
  const UINT codePage = expected != nullptr ? UINT(atoi(expected)) : 932;
  ASSERT_EQ(codePage, GetACP()) << "the run's locale did not reach Wine";
  PackAll();
  RunOutcome outcome = Run(tempFolder);
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_EQ(Widen(GetText(0, TEXT_DIALOG_TITLE), 932), outcome.title);
  EXPECT_EQ(Widen(GetText(0, TEXT_PREPARING), 932), outcome.status);
  EXPECT_TRUE(outcome.boxes.empty()) << outcome.boxes[0];
  EXPECT_EQ(codePage, Report().codePage);

  std::vector<bundle::BundleInput> inputs = BundleInputsOf(demo);
  inputs[4].data.resize(inputs[4].data.size() / 2);  // zephra.exe: a cut block
  Pack(inputs);
  DeleteFileA(reportPath.c_str());
  outcome = Run(tempFolder);
  EXPECT_EQ(std::vector<std::string>{GetErrorText(0, ERROR_TEXT_DAMAGED)}, outcome.boxes);
  EXPECT_FALSE(Report().present);
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
}

// A temporary folder that does not fit the path buffer, or that names a
// file: the user is told no folder can be made, and nothing is made or
// touched.
TEST_F(LauncherScenario, TemporaryFolderTooLongOrAFileIsReportedAndNothingIsMade) {
  PackAll();
  const std::string tooLong = tempFolder + std::string(300, 'y');
  RunOutcome outcome = Run(tooLong);
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_FALSE(outcome.dialogSeen);
  EXPECT_EQ(std::vector<std::string>{GetErrorText(0, ERROR_TEXT_NO_FOLDER)}, outcome.boxes);
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));

  const std::string file = tempFolder + "notes.txt";
  WriteFileBytes(file, "the user's notes");
  outcome = Run(file);
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_EQ(std::vector<std::string>{GetErrorText(0, ERROR_TEXT_NO_FOLDER)}, outcome.boxes);
  EXPECT_FALSE(Report().present);
  EXPECT_EQ(std::vector<std::string>{"notes.txt"}, FolderItems(tempFolder));
  EXPECT_EQ("the user's notes", ReadFileBytes(file));
}

TEST_F(LauncherScenario, ChildKeepingTheInstallerMutexIsWaitedForBeforeTheRemoval) {
  PackAll();
  const RunOutcome outcome = Run(tempFolder, "child_ms=1500\r\n");
  EXPECT_EQ(0, outcome.exitCode);
  const InstallerReport report = Report();
  ExpectInstallerSawEverything(report, tempFolder + "ZEQXPC\\");
  // The child counted the files at the end of its hold: all ten were still
  // there, so the launcher had not begun the removal.
  EXPECT_EQ((std::vector<std::string>{"holds 1500", "present 10", "released"}), ChildLines(report));
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
}

TEST_F(LauncherScenario, AbandonedInstallerMutexEndsTheWait) {
  PackAll();
  // A child that ends holding the mutex: the launcher's wait ends abandoned.
  RunOutcome outcome = Run(tempFolder, "child_ms=500\r\nchild_release=0\r\n");
  EXPECT_EQ(0, outcome.exitCode);
  InstallerReport report = Report();
  ExpectInstallerSawEverything(report, tempFolder + "ZEQXPC\\");
  EXPECT_EQ((std::vector<std::string>{"holds 500", "present 10", "abandoned"}), ChildLines(report));
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));

  // The installer itself ends without releasing it.
  DeleteFileA(reportPath.c_str());
  outcome = Run(tempFolder, "release=0\r\n");
  EXPECT_EQ(0, outcome.exitCode);
  ExpectInstallerSawEverything(Report(), tempFolder + "ZEQXPC\\");
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
}

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

// The launcher's own C++ runtime ends a program built as the launcher is at
// once, with its own exit code, rather than through the C runtime's abort():
// on Windows that shows a box in a GUI program and waits for the user. Wine's
// abort() ends with 3 and no box, so the exit code is what tells the two
// apart here (and a box would hang the run past the bound). What a launcher
// so ended leaves, the next run's preparation removes (the case above).
TEST(LauncherRuntime, EndsTheProcessAtOnceWithoutABox) {
  const std::string host = WindowsPathOf(RUNTIME_END_HOST_UNIX_PATH);
  for (const char* cause : {"new", "length"}) {
    EXPECT_EQ(long(RUNTIME_END_EXIT_CODE), RunAndWait("\"" + host + "\" " + cause, 30000)) << cause;
  }
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

// Folder names users really have, in UTF-16: a blank, as in profiles named
// "John Smith", and characters code page 932 lacks, which the ANSI calls turn
// into a look-alike that names another folder or none: é into e, ¥ into a
// backslash, 한 into "?". The launcher must then take the folder's short
// (8.3) form.
struct FolderName {
  const char* label;
  const wchar_t* name;
  bool shortForm;
};

void PrintTo(const FolderName& folder, std::ostream* out) { *out << folder.label; }

class TemporaryFolderNamed : public LauncherScenario, public ::testing::WithParamInterface<FolderName> {};

TEST_P(TemporaryFolderNamed, InstallerRunsFromItAndNothingIsLeftAnywhere) {
  const std::wstring parent = Widen(scratch.Path());
  const std::wstring temp = parent + GetParam().name + L"\\";
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  std::wstring ansiForm = temp;
  if (GetParam().shortForm) {
    wchar_t shortForm[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(temp.c_str(), shortForm, MAX_PATH), 0u);
    ansiForm = shortForm;
  }
  PackAll();
  RunOptions options;
  options.wideTempFolder = temp;
  const RunOutcome outcome = RunWith(options);
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_TRUE(outcome.boxes.empty()) << outcome.boxes[0];
  ExpectInstallerSawEverything(Report(), Narrow(ansiForm) + "ZEQXPC\\");
  EXPECT_EQ(std::vector<std::wstring>{}, FolderItems(temp));
  // No look-alike folder ("cafe", "a" holding "b") was made beside it.
  std::vector<std::wstring> expected = {L"report.txt", L"standin.ini", L"temp", GetParam().name, L"zephra_trial.exe"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, FolderItems(parent));
}

INSTANTIATE_TEST_SUITE_P(Names, TemporaryFolderNamed,
                         ::testing::Values(FolderName{"Blanks", L"my temp dir", false},
                                           FolderName{"Hangul", L"\xD55C", true},
                                           FolderName{"EAcute", L"caf\xE9", true},
                                           FolderName{"Yen", L"a\xA5" L"b", true}),
                         [](const ::testing::TestParamInfo<FolderName>& info) { return info.param.label; });

TEST_F(LauncherScenario, LauncherSavedInAFolderNamedOutsideTheCodePageInstalls) {
  const std::wstring folder = Widen(scratch.Path()) + L"\xD55C\\";  // 한
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  PackAll();
  const std::wstring launcher = folder + L"zephra_trial.exe";
  ASSERT_TRUE(MoveFileW(Widen(launcherPath).c_str(), launcher.c_str()));
  RunOptions options;
  options.tempFolder = tempFolder;
  const RunOutcome outcome = RunWith(options, "", launcher);
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_TRUE(outcome.boxes.empty()) << outcome.boxes[0];
  ExpectInstallerSawEverything(Report(), tempFolder + "ZEQXPC\\");
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
}

// Wine runs everything with full rights: it never refuses CreateProcessA with
// ERROR_ELEVATION_REQUIRED (740), as Windows does for an installer that
// requires administrator rights, nor a mutex with ERROR_ACCESS_DENIED, as for
// one created by such an installer. These run the whole main flow in a test
// host (launcher_host.cpp) that makes those calls fail through the
// import-table hook; everything else is real, the stand-in installer included.
class HookedLauncherScenario : public LauncherScenario {
 protected:
  testing_support::HostRun RunHost(const std::string& fault, const std::string& control) {
    scenario::WriteControl(controlPath, "report=" + reportPath + "\r\n" + control);
    const std::string folder = scratch.Path() + "host\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return RunBundledHost(LAUNCHER_HOST_PATH, folder, BundleInputsOf(demo), tempFolder, fault + " \"" + controlPath + "\"");
  }

  // A run that ended with 0 after the steps in lines, having started no
  // installer and left nothing in the temporary folder.
  void ExpectNoInstallerAndNothingLeft(const HostRun& run, const std::vector<std::string>& lines) {
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ(lines, run.ReportLines());
    EXPECT_FALSE(Report().present);
    EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
  }
};

TEST_F(HookedLauncherScenario, InstallerThatNeedsElevationIsStartedThroughTheShellAndWaitedFor) {
  const HostRun run = RunHost("elevation", "linger_ms=1500\r\n");
  EXPECT_EQ(0, run.exitCode);
  // The shell started the real installer; the flow went on only after its end.
  EXPECT_EQ((std::vector<std::string>{"shell-execute started", "installer-ended-before-mutex 1", "exit 0"}),
            run.ReportLines());
  ExpectInstallerSawEverything(Report(), tempFolder + "ZEQXPC\\");
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
}

TEST_F(HookedLauncherScenario, DeclinedElevationGoesOnAndRemovesEverything) {
  ExpectNoInstallerAndNothingLeft(RunHost("declined", ""), {"shell-execute declined", "exit 0"});
}

// The shell refuses the elevated start: it is told to show no box of its
// own, so the user sees one box, the launcher's.
TEST_F(HookedLauncherScenario, ElevatedStartRefusedByTheShellShowsOneBox) {
  ExpectNoInstallerAndNothingLeft(RunHost("shell-refused", ""), {"shell-execute refused 1260", "box 10", "exit 0"});
}

// Refused starts: by a policy, told with the text of its own before the
// files go; by a short hold or a start that died, tried again until it starts.
TEST_F(HookedLauncherScenario, InstallerStartRefusedByAPolicyIsToldAndOneHeldForAMomentStarts) {
  ExpectNoInstallerAndNothingLeft(RunHost("blocked", ""), {"create-process refused 1260", "box 10", "exit 0"});

  const HostRun run = RunHost("held", "");
  EXPECT_EQ(0, run.exitCode);
  EXPECT_EQ((std::vector<std::string>{"create-process refused 32", "create-process refused 33",
                                      "create-process refused 1359", "create-process started", "exit 0"}),
            run.ReportLines());
  ExpectInstallerSawEverything(Report(), tempFolder + "ZEQXPC\\");
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
}

// A program that waits for the installer mutex (the installer's next stage,
// an uninstaller) must find it held until the removal is over. This process
// is that program: at the removal's first deletion, which the host holds
// back meanwhile, it tries the mutex without waiting and must be refused;
// then it waits for it, and once it has it nothing of the launcher's is left.
TEST_F(HookedLauncherScenario, InstallerMutexStaysHeldUntilTheRemovalIsOver) {
  const std::string name = "ZT_removal_" + std::to_string(GetCurrentProcessId());
  HANDLE begun = CreateEventA(nullptr, TRUE, FALSE, (name + "_begun").c_str());
  HANDLE probed = CreateEventA(nullptr, TRUE, FALSE, (name + "_probed").c_str());
  ASSERT_TRUE(begun != nullptr && probed != nullptr);
  DWORD tried = WAIT_FAILED, waited = WAIT_FAILED;
  std::vector<std::string> leftWhenHad = {"<not had>"};
  std::thread nextStage([&] {
    if (WaitForSingleObject(begun, 120000) != WAIT_OBJECT_0) return;
    HANDLE mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, INSTALLER_MUTEX_NAME);
    if (mutex != nullptr) {
      tried = WaitForSingleObject(mutex, 0);
      if (tried == WAIT_OBJECT_0 || tried == WAIT_ABANDONED) ReleaseMutex(mutex);
    }
    SetEvent(probed);
    if (mutex == nullptr) return;
    waited = WaitForSingleObject(mutex, 120000);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
      leftWhenHad = FolderItems(tempFolder);
      ReleaseMutex(mutex);
    }
    CloseHandle(mutex);
  });
  const HostRun run = RunHost("probe=" + name, "");
  SetEvent(begun);  // a run that never deleted anything: the thread ends
  nextStage.join();
  CloseHandle(begun);
  CloseHandle(probed);

  EXPECT_EQ(0, run.exitCode);
  EXPECT_EQ((std::vector<std::string>{"removal began", "exit 0"}), run.ReportLines());
  ExpectInstallerSawEverything(Report(), tempFolder + "ZEQXPC\\");
  EXPECT_EQ(DWORD(WAIT_TIMEOUT), tried) << "the installer mutex was free while the launcher removed its files";
  EXPECT_EQ(DWORD(WAIT_OBJECT_0), waited) << "released, not abandoned";
  EXPECT_EQ(std::vector<std::string>{}, leftWhenHad);
}

TEST_F(HookedLauncherScenario, TemporaryFolderThatCannotBeReadIsToldAndNothingIsMade) {
  ExpectNoInstallerAndNothingLeft(RunHost("no-temp", ""), {"box 0", "exit 0"});
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

TEST_F(HookedLauncherScenario, InstallerMutexRefusedToTheLauncherIsStillWaitedFor) {
  const HostRun run = RunHost("refused", "child_ms=1500\r\n");
  EXPECT_EQ(0, run.exitCode);
  EXPECT_EQ((std::vector<std::string>{"create-mutex refused", "open-mutex 100001 refused", "open-mutex 100000 granted",
                                      "exit 0"}),
            run.ReportLines());
  const InstallerReport report = Report();
  ExpectInstallerSawEverything(report, tempFolder + "ZEQXPC\\");
  // All ten files were still there at the end of the child's hold.
  EXPECT_EQ((std::vector<std::string>{"holds 1500", "present 10", "released"}), ChildLines(report));
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
}

// The launcher as a publisher ships it: packed by bundletool, then signed
// with osslsigncode, both at test time (the signed_launcher fixture, with the
// commands of README.md), and run as it was signed.
class SignedLauncherScenario : public LauncherScenario {
 protected:
  void SetUp() override {
    LauncherScenario::SetUp();
    if (FileExists(SIGNED_FOLDER + "\\skipped")) GTEST_SKIP() << ReadFileBytes(SIGNED_FOLDER + "\\skipped");
    ASSERT_TRUE(FileExists(SIGNED_FOLDER + "\\ready")) << "signed_launcher fixture: " << ReadFileBytes(SIGNED_FOLDER + "\\failed");
    for (int row = 0; row < ENTRY_COUNT; ++row) {
      const std::string bytes = ReadFileBytes(SIGNED_FOLDER + "\\payload\\" + demo.names[row]);
      demo.contents[row].assign(bytes.begin(), bytes.end());
    }
    signedLauncher = ReadFileBytes(SIGNED_FOLDER + "\\zephra_signed.exe");
    ASSERT_FALSE(signedLauncher.empty());
  }

  // The data of the named entry of the signed launcher, as the scan finds it.
  bundle::BundleEntry EntryOfSigned(const std::string& name) {
    bundle::MemorySource source(signedLauncher.data(), uint32_t(signedLauncher.size()));
    std::vector<bundle::BundleEntry> entries;
    EXPECT_EQ(bundle::ScanStatus::Ok, bundle::ScanBundle(source, entries).status);
    for (const bundle::BundleEntry& entry : entries) {
      if (name == entry.name) return entry;
    }
    ADD_FAILURE() << name << " is not in the signed launcher";
    return bundle::BundleEntry{};
  }

  std::string signedLauncher;
};

TEST_F(SignedLauncherScenario, SignedLauncherInstallsAllTenAndRemovesThem) {
  const std::string verified = ReadFileBytes(SIGNED_FOLDER + "\\osslsigncode-verify.txt");
  EXPECT_NE(std::string::npos, verified.find("\nexit 0")) << verified;
  const std::string checked = ReadFileBytes(SIGNED_FOLDER + "\\bundletool-verify.txt");
  EXPECT_NE(std::string::npos, checked.find("lies inside the signed part")) << checked;
  EXPECT_NE(std::string::npos, checked.find("\nexit 0")) << checked;

  WriteFileBytes(launcherPath, signedLauncher);
  const RunOutcome outcome = Run(tempFolder);
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_TRUE(outcome.boxes.empty()) << outcome.boxes[0];
  ExpectInstallerSawEverything(Report(), tempFolder + "ZEQXPC\\");
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
}

// Signed, then stripped again, as internal builds often are: the signature's
// zero padding stays behind the bundle, which the launcher and the tool read
// all the same.
TEST_F(SignedLauncherScenario, LauncherWhoseSignatureWasRemovedInstallsAllTen) {
  const std::string checked = ReadFileBytes(SIGNED_FOLDER + "\\bundletool-verify-stripped.txt");
  EXPECT_NE(std::string::npos, checked.find("\nexit 0")) << checked;
  const std::string stripped = ReadFileBytes(SIGNED_FOLDER + "\\zephra_stripped.exe");
  const std::string packed = ReadFileBytes(SIGNED_FOLDER + "\\zephra_trial.exe");
  ASSERT_GT(stripped.size(), packed.size()) << "no padding was left to skip";
  EXPECT_EQ(std::string(stripped.size() - packed.size(), '\0'), stripped.substr(packed.size()));

  WriteFileBytes(launcherPath, stripped);
  const RunOutcome outcome = Run(tempFolder);
  EXPECT_EQ(0, outcome.exitCode);
  EXPECT_TRUE(outcome.boxes.empty()) << outcome.boxes[0];
  ExpectInstallerSawEverything(Report(), tempFolder + "ZEQXPC\\");
  EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
}

// A damaged download: one bit of a stored entry, one bit in the middle of a
// compressed block, or the first 60% of the file. None reaches the
// installer; the user is told the file is damaged.
TEST_F(SignedLauncherScenario, DamagedCopiesAreRefusedWithTheDamagedDownloadText) {
  const bundle::BundleEntry stored = EntryOfSigned("inst_se.dat");
  const bundle::BundleEntry block = EntryOfSigned("zephra.exe");
  std::string storedFlip = signedLauncher;
  storedFlip[size_t(stored.dataStart + stored.dataSize / 2)] ^= 0x08;
  std::string blockFlip = signedLauncher;
  blockFlip[size_t(block.dataStart + block.dataSize / 2)] ^= 0x08;
  const struct {
    const char* what;
    std::string bytes;
  } copies[] = {{"a bit flipped in a stored entry", storedFlip},
                {"a bit flipped in a compressed block", blockFlip},
                {"cut at 60%", signedLauncher.substr(0, signedLauncher.size() * 6 / 10)}};
  for (const auto& copy : copies) {
    SCOPED_TRACE(copy.what);
    WriteFileBytes(launcherPath, copy.bytes);
    DeleteFileA(reportPath.c_str());
    const RunOutcome outcome = Run(tempFolder);
    EXPECT_EQ(0, outcome.exitCode);
    EXPECT_EQ(std::vector<std::string>{GetErrorText(0, ERROR_TEXT_DAMAGED)}, outcome.boxes);
    EXPECT_FALSE(Report().present) << "the installer started";
    EXPECT_EQ(std::vector<std::string>{}, FolderItems(tempFolder));
  }
}

}  // namespace
