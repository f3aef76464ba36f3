// The launcher end to end, a run that fails: an entry missing, a damaged
// block or a damaged download, a full disk, a temporary folder that is too
// long, a file or unreadable, the installer's start refused, the launcher's
// own runtime ending it. The user is told with the one fitting text, no
// installer runs, and nothing written is left behind. The fixtures are in
// launcher_scenario.h.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "extract/message_table.h"
#include "launcher_scenario.h"

using namespace testing_support;
using namespace scenario;

namespace {

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

// The launcher's own C++ runtime ends a program built as the launcher is at
// once, with its own exit code, rather than through the C runtime's abort():
// on Windows that shows a box in a GUI program and waits for the user. Wine's
// abort() ends with 3 and no box, so the exit code is what tells the two
// apart here (and a box would hang the run past the bound). What a launcher
// so ended leaves, the next run's preparation removes
// (FolderLeftBeforeTheRunIsEmptiedSoTheInstallerFindsOnlyTheTen, in
// scenario_hostile_folder_test.cpp).
TEST(LauncherRuntime, EndsTheProcessAtOnceWithoutABox) {
  const std::string host = WindowsPathOf(RUNTIME_END_HOST_UNIX_PATH);
  for (const char* cause : {"new", "length"}) {
    EXPECT_EQ(long(RUNTIME_END_EXIT_CODE), RunAndWait("\"" + host + "\" " + cause, 30000)) << cause;
  }
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

TEST_F(HookedLauncherScenario, TemporaryFolderThatCannotBeReadIsToldAndNothingIsMade) {
  ExpectNoInstallerAndNothingLeft(RunHost("no-temp", ""), {"box 0", "exit 0"});
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
