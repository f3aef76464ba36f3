// The launcher end to end, a run as it should go: each case starts the real
// launcher executable, a bundle appended, as its own process under Wine, with
// its own temporary folder, the stand-in installer in row 0 and small data
// entries; the installer runs with all ten entries, and afterwards the exit
// code is 0 and nothing is left behind. A full run, a second copy started
// meanwhile, a drive-root temporary folder, names with a 0x5C trail byte or
// outside the code page, the texts on every system code page, the waits for
// the installer's mutex, an installer started through the shell, and the
// launcher as a publisher ships it, signed. The fixtures are in
// launcher_scenario.h.
#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "extract/message_table.h"
#include "launcher_scenario.h"

using namespace testing_support;
using namespace scenario;

namespace {

// The child's lines after "started <id>".
std::vector<std::string> ChildLines(const InstallerReport& report) {
  if (report.child.empty()) return {};
  return std::vector<std::string>(report.child.begin() + 1, report.child.end());
}

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

TEST_F(HookedLauncherScenario, InstallerThatNeedsElevationIsStartedThroughTheShellAndWaitedFor) {
  const HostRun run = RunHost("elevation", "linger_ms=1500\r\n");
  EXPECT_EQ(0, run.exitCode);
  // The shell started the real installer; the flow went on only after its end.
  EXPECT_EQ((std::vector<std::string>{"shell-execute started", "installer-ended-before-mutex 1", "exit 0"}),
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

}  // namespace
