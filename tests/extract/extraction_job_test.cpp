// The extraction job under Wine with real files: each case appends a bundle
// to a copy of the job host (job_host.cpp), runs it against a destination
// folder and reads back the messages the job sent to its stand-in dialog,
// the files it opened, and what it left on disk. Disk-full cases write onto
// small mounted file systems (the small_drives fixture).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "bundled_program.h"
#include "common/entry_table.h"
#include "common/language_index.h"
#include "extract/extraction_job.h"
#include "import_hook.h"
#include "small_drives.h"
#include "win32_test_support.h"

using testing_support::Bytes;
using testing_support::DemoEntries;
using testing_support::FileExists;
using testing_support::FolderExists;
using testing_support::ReadFileBytes;
using testing_support::ScratchFolder;
using testing_support::WriteFileBytes;

namespace {

// What one run of the host reported.
struct JobRun {
  long exitCode = 0;
  std::vector<std::string> trace;    // messages, "ask" and "answer", in order
  std::vector<std::string> opened;   // file names the worker opened for writing
  std::vector<std::string> written;  // the paths of writtenRows once the worker had ended
  bool ended = false;                // the worker ended after its last message
};

std::vector<std::string> Repeat(const std::string& line, int count) { return std::vector<std::string>(count, line); }

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::string STEP = "step sent 0 0";
const std::string BACK = "back sent 0 0";
const std::string FAILED_OTHER = "failed sent 0 0";
const std::string FAILED_DISK_FULL = "failed sent 1 0";
const std::string FAILED_DAMAGED = "failed sent 2 0";
const std::string FINISHED_ALL = "finished posted 0 0";
const std::string FINISHED_STOPPED = "finished posted 1 0";
// The question comes up while a row is written, the row is stepped, then the
// answer comes.
const std::vector<std::string> ASKED_ROW = {"ask", STEP, "answer"};

std::vector<std::string> RowNames(int first, int last) {
  std::vector<std::string> names;
  for (int row = first; row <= last; ++row) names.push_back(EntryTable[row].fileName);
  return names;
}

class ExtractionJobTest : public testing::Test {
 protected:
  static const DemoEntries& Demo() { return testing_support::SharedDemoEntries(); }

  // Runs the host with inputs as its bundle, destination as its destination
  // folder and the given options.
  JobRun Run(const std::vector<bundle::BundleInput>& inputs, const std::string& destination,
             const std::string& options = "", const std::vector<bundle::CheckItem>* checks = nullptr) {
    JobRun run;
    const testing_support::HostRun host = testing_support::RunBundledHost(
        testing_support::WindowsPathOf(JOB_HOST_UNIX_PATH), scratch.Path(), inputs, destination, options, checks);
    run.exitCode = host.exitCode;
    for (const std::string& line : host.ReportLines()) {
      if (line.rfind("open ", 0) == 0) {
        run.opened.push_back(line.substr(line.rfind('\\') + 1));
      } else if (line.rfind("written ", 0) == 0) {
        run.written.push_back(line.substr(8));
      } else if (line.rfind("ended ", 0) == 0) {
        run.ended = line == "ended 1";
      } else {
        run.trace.push_back(line);
      }
    }
    EXPECT_EQ(run.exitCode, 0);
    return run;
  }

  // Each of the ten files under folder holds its entry's content; only the
  // read-me is read-only.
  void ExpectAllRowsWritten(const std::string& folder, const DemoEntries& entries) {
    for (int row = 0; row < ENTRY_COUNT; ++row) {
      const std::string path = folder + entries.names[row];
      SCOPED_TRACE(path);
      EXPECT_TRUE(ReadFileBytes(path) == std::string(entries.contents[row].begin(), entries.contents[row].end()));
      const DWORD attributes = GetFileAttributesA(path.c_str());
      EXPECT_EQ((attributes & FILE_ATTRIBUTE_READONLY) != 0, EntryTable[row].flags & ENTRY_READ_ONLY ? true : false);
    }
  }

  std::vector<std::string> PathsOf(const std::string& folder, int first, int last) {
    std::vector<std::string> paths;
    for (int row = first; row <= last; ++row) paths.push_back(folder + EntryTable[row].fileName);
    return paths;
  }

  ScratchFolder scratch{"job"};
};

TEST_F(ExtractionJobTest, WritesEveryRowInTableOrderIntoAFolderThatDidNotExist) {
  const std::string destination = scratch.Path() + "new\\deeper\\";
  const std::string folder = destination + "ZEQXPC\\";
  const JobRun run = Run(testing_support::BundleInputsOf(Demo()), destination);
  EXPECT_EQ(run.trace, Repeat(STEP, 10) + std::vector<std::string>{FINISHED_ALL});
  EXPECT_TRUE(run.ended);
  EXPECT_EQ(run.opened, RowNames(0, 9));
  EXPECT_EQ(run.written, PathsOf(folder, 0, 9));
  ExpectAllRowsWritten(folder, Demo());
}

TEST_F(ExtractionJobTest, StaleReadOnlyFilesOfTheSameNamesAreReplaced) {
  const std::string folder = scratch.Path() + "ZEQXPC\\";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  for (int row : {0, 5, 6}) {  // in memory, streamed, and the read-me
    const std::string path = folder + EntryTable[row].fileName;
    WriteFileBytes(path, std::string(400000, 'x'));  // longer than the entry: must be cut
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  }
  const JobRun run = Run(testing_support::BundleInputsOf(Demo()), scratch.Path());
  EXPECT_EQ(run.trace, Repeat(STEP, 10) + std::vector<std::string>{FINISHED_ALL});
  ExpectAllRowsWritten(folder, Demo());
}

TEST_F(ExtractionJobTest, EntryMissingFromTheBundleFailsItsRowAndEverythingGoes) {
  const std::string folder = scratch.Path() + "ZEQXPC\\";
  const JobRun run = Run(testing_support::BundleInputsOf(Demo(), {3}), scratch.Path());
  // Three rows written, the fourth fails and is recorded too: four removals.
  EXPECT_EQ(run.trace, Repeat(STEP, 3) + std::vector<std::string>{FAILED_OTHER} + Repeat(BACK, 4) +
                           std::vector<std::string>{FINISHED_STOPPED});
  EXPECT_TRUE(run.ended);
  EXPECT_TRUE(run.written.empty());
  EXPECT_EQ(run.opened, RowNames(0, 2));
  EXPECT_FALSE(FolderExists(folder));
}

TEST_F(ExtractionJobTest, DamagedCompressedBlockFailsItsRow) {
  std::vector<bundle::BundleInput> inputs = testing_support::BundleInputsOf(Demo());
  Bytes& block = inputs[2].data;  // setup.exe
  block.resize(20 + (block.size() - 20) / 2);  // the stream ends long before its decoded size
  const JobRun run = Run(inputs, scratch.Path());
  EXPECT_EQ(run.trace, Repeat(STEP, 2) + std::vector<std::string>{FAILED_DAMAGED} + Repeat(BACK, 3) +
                           std::vector<std::string>{FINISHED_STOPPED});
  EXPECT_EQ(run.opened, RowNames(0, 1));  // nothing is created for an entry that does not decode
  EXPECT_FALSE(FolderExists(scratch.Path() + "ZEQXPC"));
}

TEST_F(ExtractionJobTest, CheckRecordPassesSoundEntriesAndRefusesOthersAsDamage) {
  const std::vector<bundle::BundleInput> inputs = testing_support::BundleInputsOf(Demo());
  const std::vector<bundle::CheckItem> checks = testing_support::CheckItemsOf(Demo());
  const std::string folder = scratch.Path() + "ZEQXPC\\";
  JobRun run = Run(inputs, scratch.Path(), "", &checks);
  EXPECT_EQ(run.trace, Repeat(STEP, 10) + std::vector<std::string>{FINISHED_ALL});
  ExpectAllRowsWritten(folder, Demo());
  testing_support::RemoveTree(folder);

  // A CRC that differs: row 4 decodes in memory and is refused before its
  // file is created; row 5 is streamed, refused after its last piece, and
  // removed with the rest.
  for (int row : {4, 5}) {
    SCOPED_TRACE(EntryTable[row].fileName);
    std::vector<bundle::CheckItem> wrong = checks;
    wrong[size_t(row)].crc ^= 0x100;
    run = Run(inputs, scratch.Path(), "", &wrong);
    EXPECT_EQ(run.trace, Repeat(STEP, row) + std::vector<std::string>{FAILED_DAMAGED} + Repeat(BACK, row + 1) +
                             std::vector<std::string>{FINISHED_STOPPED});
    EXPECT_EQ(run.opened, RowNames(0, row == 4 ? 3 : 5));
    EXPECT_FALSE(FolderExists(folder));
  }

  // A record that leaves an entry out: the bundle is damaged from the first
  // row on.
  std::vector<bundle::CheckItem> partial = checks;
  partial.pop_back();
  run = Run(inputs, scratch.Path(), "", &partial);
  EXPECT_EQ(run.trace, std::vector<std::string>{FAILED_DAMAGED} + Repeat(BACK, 1) +
                           std::vector<std::string>{FINISHED_STOPPED});
  EXPECT_TRUE(run.opened.empty());
}

// Entries small enough for the 256 KiB file systems, but row `big` of 400 KB.
DemoEntries SmallEntriesWithOneTooBig(int big) {
  DemoEntries entries = testing_support::MakeDemoEntries();
  for (int row = 0; row < ENTRY_COUNT; ++row) {
    entries.contents[row] = testing_support::DemoContent(row == big ? 400000 : 8000, 100 + row);
  }
  return entries;
}

TEST_F(ExtractionJobTest, DiskFullWhileAStreamedEntryIsWritten) {
  SKIP_WITHOUT_SMALL_DRIVES();
  const std::string destination = testing_support::SmallDrive("full-stream") + "dest\\";
  const JobRun run =
      Run(testing_support::BundleInputsOf(SmallEntriesWithOneTooBig(5)), destination, "clobber-errors");
  // The write's ERROR_DISK_FULL survived the route's clean-up, although every
  // release there replaced the thread's last error: wParam 1.
  EXPECT_EQ(run.trace, Repeat(STEP, 5) + std::vector<std::string>{FAILED_DISK_FULL} + Repeat(BACK, 6) +
                           std::vector<std::string>{FINISHED_STOPPED});
  EXPECT_TRUE(run.ended);
  // The partly written file went with the others; the folder made above the
  // sub-folder stays, empty.
  EXPECT_FALSE(FolderExists(destination + "ZEQXPC"));
  EXPECT_TRUE(FolderExists(destination));
  testing_support::RemoveTree(destination);
}

TEST_F(ExtractionJobTest, DiskFullWhileAnInMemoryEntryIsWritten) {
  SKIP_WITHOUT_SMALL_DRIVES();
  const std::string destination = testing_support::SmallDrive("full-memory") + "dest\\";
  const JobRun run =
      Run(testing_support::BundleInputsOf(SmallEntriesWithOneTooBig(4)), destination, "clobber-errors");
  EXPECT_EQ(run.trace, Repeat(STEP, 4) + std::vector<std::string>{FAILED_DISK_FULL} + Repeat(BACK, 5) +
                           std::vector<std::string>{FINISHED_STOPPED});
  EXPECT_EQ(run.opened, RowNames(0, 4));
  EXPECT_FALSE(FolderExists(destination + "ZEQXPC"));
  testing_support::RemoveTree(destination);
}

TEST_F(ExtractionJobTest, FolderThatCannotBeMadeFailsTheFirstRowBeforeAnythingIsWritten) {
  SKIP_WITHOUT_SMALL_DRIVES();
  const std::string destination = testing_support::SmallDrive("readonly") + "dest\\";
  const JobRun run = Run(testing_support::BundleInputsOf(Demo()), destination);
  // Nothing was written or recorded, so nothing is removed.
  EXPECT_EQ(run.trace, (std::vector<std::string>{FAILED_OTHER, FINISHED_STOPPED}));
  EXPECT_TRUE(run.opened.empty());
  EXPECT_TRUE(run.ended);
}

TEST_F(ExtractionJobTest, CancelConfirmedWhileARowIsWrittenStopsAfterThatRow) {
  const std::string folder = scratch.Path() + "ZEQXPC\\";
  const JobRun run = Run(testing_support::BundleInputsOf(Demo()), scratch.Path(), "ask-at=3 answer=ok");
  // Row 3 completes and is stepped; the worker then waits at the gate until
  // the answer (else a later step or removal would come before it).
  EXPECT_EQ(run.trace, Repeat(STEP, 3) + ASKED_ROW + Repeat(BACK, 4) +
                           std::vector<std::string>{FINISHED_STOPPED});
  EXPECT_EQ(run.opened, RowNames(0, 3));
  EXPECT_FALSE(FolderExists(folder));
}

TEST_F(ExtractionJobTest, CancelAfterTheReadMeRemovesItWithTheRest) {
  const std::string folder = scratch.Path() + "ZEQXPC\\";
  const JobRun run = Run(testing_support::BundleInputsOf(Demo()), scratch.Path(), "ask-at=6 answer=ok");
  EXPECT_EQ(run.trace, Repeat(STEP, 6) + ASKED_ROW + Repeat(BACK, 7) +
                           std::vector<std::string>{FINISHED_STOPPED});
  // The job deletes as the launcher's removal does: the read-only mark is
  // cleared, and the folder goes too.
  EXPECT_FALSE(FolderExists(folder));
}

TEST_F(ExtractionJobTest, CancelDeclinedLetsTheJobGoOn) {
  const std::string folder = scratch.Path() + "ZEQXPC\\";
  const JobRun run = Run(testing_support::BundleInputsOf(Demo()), scratch.Path(), "ask-at=4 answer=cancel");
  EXPECT_EQ(run.trace, Repeat(STEP, 4) + ASKED_ROW + Repeat(STEP, 5) +
                           std::vector<std::string>{FINISHED_ALL});
  EXPECT_EQ(run.written, PathsOf(folder, 0, 9));
  ExpectAllRowsWritten(folder, Demo());
}

TEST_F(ExtractionJobTest, RowWhosePathDoesNotFitFailsWithoutWritingUnderACutName) {
  // 237 bytes: the folder and the names of rows 0 to 5 fit (at most 13
  // bytes), the read-me's 17 do not.
  std::string destination = scratch.Path();
  while (destination.size() < 237) {
    destination += std::string(std::min<size_t>(60, 236 - destination.size()), 'd') + "\\";
  }
  ASSERT_EQ(destination.size(), 237u);
  const JobRun run = Run(testing_support::BundleInputsOf(Demo()), destination);
  // The cut path is neither written nor recorded: six removals, not seven.
  EXPECT_EQ(run.trace, Repeat(STEP, 6) + std::vector<std::string>{FAILED_OTHER} + Repeat(BACK, 6) +
                           std::vector<std::string>{FINISHED_STOPPED});
  EXPECT_EQ(run.opened, RowNames(0, 5));
  EXPECT_FALSE(FolderExists(destination + "ZEQXPC"));
}

TEST_F(ExtractionJobTest, EntryBufferThatCannotBeHadFailsTheRow) {
  const std::vector<bundle::BundleInput> inputs = testing_support::BundleInputsOf(Demo());
  const JobRun run = Run(inputs, scratch.Path(), "fail-alloc=" + std::to_string(inputs[2].data.size()));
  EXPECT_EQ(run.trace, Repeat(STEP, 2) + std::vector<std::string>{FAILED_OTHER} + Repeat(BACK, 3) +
                           std::vector<std::string>{FINISHED_STOPPED});
  EXPECT_EQ(run.opened, RowNames(0, 1));
}

uintptr_t __cdecl FailingBeginThread(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*) {
  return 0;
}

TEST(StartExtractionTest, ThreadThatCannotBeStartedLeavesNoWorker) {
  testing_support::ImportHook failing("msvcrt.dll", "_beginthreadex",
                                      reinterpret_cast<const void*>(&FailingBeginThread));
  ASSERT_TRUE(failing.Installed());
  JobState job;
  uint32_t threadId = 1234;
  EXPECT_FALSE(StartExtraction(job, &threadId).IsValid());
  EXPECT_EQ(threadId, 0u);
  EXPECT_EQ(job.writtenRows, 0u);
}

}  // namespace
