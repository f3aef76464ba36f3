// The progress dialog as the user meets it, under Wine on an X display: each
// case appends a bundle to a copy of the dialog host (dialog_host.cpp), which
// runs the real dialog from template 101 with the real worker, answers every
// message box itself, and reports the bar positions, the boxes and texts it
// saw and the modal result. The files left on disk are checked here.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bundled_program.h"
#include "common/entry_table.h"
#include "common/language_index.h"
#include "extract/message_table.h"
#include "extract/progress_dialog.h"
#include "small_drives.h"
#include "win32_test_support.h"

using testing_support::DemoEntries;
using testing_support::FileExists;
using testing_support::FolderExists;
using testing_support::ReadFileBytes;
using testing_support::ScratchFolder;

namespace {

using Lines = std::vector<std::string>;

// A text as the host writes it: line breaks as "\n".
std::string OneLine(const char* text) {
  std::string line;
  for (const char* c = text; *c != '\0'; ++c) line += *c == '\n' ? std::string("\\n") : std::string(1, *c);
  return line;
}
std::string Ui(int32_t id) { return OneLine(GetText(LanguageIndex, id)); }
std::string Error(int32_t id) { return OneLine(GetErrorText(LanguageIndex, id)); }

// What one run of the host reported.
struct DialogRun {
  long exitCode = 0;
  Lines all;
  Lines bar;    // "posted N" / "sent N"
  Lines boxes;  // "owner buttons text"
  std::string Value(const std::string& key) const {
    for (const std::string& line : all) {
      if (line.rfind(key + " ", 0) == 0) return line.substr(key.size() + 1);
    }
    return "<none>";
  }
  Lines Values(const std::string& key) const {
    Lines values;
    for (const std::string& line : all) {
      if (line.rfind(key + " ", 0) == 0) values.push_back(line.substr(key.size() + 1));
    }
    return values;
  }
  // Both keys were reported, the first one's first line before the other's.
  bool Before(const std::string& first, const std::string& second) const {
    const size_t a = FirstLine(first), b = FirstLine(second);
    return a < b && b < all.size();
  }
  // The dialog ended only after the question was answered.
  bool EndedAfterTheAnswer() const { return Before("asking", "end"); }

 private:
  size_t FirstLine(const std::string& key) const {
    for (size_t i = 0; i < all.size(); ++i) {
      if (all[i].rfind(key + " ", 0) == 0) return i;
    }
    return all.size();
  }
};

Lines Posted(std::initializer_list<int> positions) {
  Lines lines;
  for (int p : positions) lines.push_back("posted " + std::to_string(p));
  return lines;
}
Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
const Lines ALL_TEN = Posted({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});

// A scenario's name as a test name: "close-queued" gives close_queued.
std::string ScenarioName(const testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name) c = c == '-' ? '_' : c;
  return name;
}

class ProgressDialogTest : public testing::Test {
 protected:
  static const DemoEntries& Demo() { return testing_support::SharedDemoEntries(); }

  DialogRun Run(const std::vector<bundle::BundleInput>& inputs, const std::string& destination,
                const std::string& scenario) {
    DialogRun run;
    const testing_support::HostRun host = testing_support::RunBundledHost(
        testing_support::WindowsPathOf(DIALOG_HOST_UNIX_PATH), scratch.Path(), inputs, destination, scenario);
    run.exitCode = host.exitCode;
    EXPECT_EQ(0, run.exitCode);
    run.all = host.ReportLines();
    for (const std::string& line : run.all) {
      if (line.rfind("bar ", 0) == 0) run.bar.push_back(line.substr(4));
      if (line.rfind("box ", 0) == 0) run.boxes.push_back(line.substr(4));
    }
    return run;
  }

  DialogRun Run(const std::string& scenario) {
    return Run(testing_support::BundleInputsOf(Demo()), scratch.Path(), scenario);
  }

  std::string Folder() const { return scratch.Path() + "ZEQXPC\\"; }

  void ExpectNothingLeft(const std::string& folder) {
    for (int row = 0; row < ENTRY_COUNT; ++row) EXPECT_FALSE(FileExists(folder + EntryTable[row].fileName)) << row;
    EXPECT_FALSE(FolderExists(folder));
  }

  void ExpectAllWritten() {
    for (int row = 0; row < ENTRY_COUNT; ++row) {
      const auto& content = Demo().contents[row];
      EXPECT_TRUE(ReadFileBytes(Folder() + EntryTable[row].fileName) == std::string(content.begin(), content.end()))
          << row;
    }
  }

  ScratchFolder scratch{"dialog"};
};

TEST_F(ProgressDialogTest, AllEntriesWrittenMoveTheBarToTenAndEndWithOne) {
  const DialogRun run = Run("all");
  EXPECT_EQ(ALL_TEN + Lines{"sent 10"}, run.bar);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ("1", run.Value("result"));
  EXPECT_EQ("0", run.Value("worker-running"));
  // What the dialog showed when it opened, and at the end.
  EXPECT_EQ(Ui(TEXT_DIALOG_TITLE), run.Value("title"));
  EXPECT_EQ(Ui(TEXT_PREPARING), run.Value("status"));
  EXPECT_EQ("0", run.Value("button"));
  EXPECT_EQ("0 10 0", run.Value("range"));
  EXPECT_EQ(Ui(TEXT_PREPARING) + " 0", run.Value("finish"));
  ExpectAllWritten();
}

TEST_F(ProgressDialogTest, OpensCentredOnTheDesktop) {
  const DialogRun run = Run("all");
  long x, y, width, height, right, bottom;
  ASSERT_EQ(6, sscanf(run.Value("init").c_str(), "%ld %ld %ld %ld %ld %ld", &x, &y, &width, &height, &right, &bottom));
  EXPECT_EQ((right - width) / 2, x);
  EXPECT_EQ((bottom - height) / 2, y);
  EXPECT_GT(width, 200);
}

// The cancel command and a close request ask the same question and are
// handled alike.
class StopQuestionTest : public ProgressDialogTest, public testing::WithParamInterface<std::string> {};

TEST_P(StopQuestionTest, ConfirmedWhileTheFourthEntryIsWrittenRemovesEverything) {
  const DialogRun run = Run(GetParam() + "-ok 4");
  // One question only: the same request again after the confirmation asks
  // nothing.
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ("dialog okcancel " + Ui(TEXT_CANCEL_QUESTION), run.boxes[0]);
  // The worker completed the fourth entry and waited at the gate.
  EXPECT_EQ(Ui(TEXT_PREPARING) + " 4", run.Value("asking"));
  EXPECT_EQ(Posted({1, 2, 3, 4, 3, 2, 1, 0}) + Lines{"sent 0"}, run.bar);
  EXPECT_EQ(Ui(TEXT_REMOVING) + " 0", run.Value("finish"));
  EXPECT_EQ("0", run.Value("result"));
  EXPECT_EQ("0", run.Value("worker-running"));
  ExpectNothingLeft(Folder());
}

TEST_P(StopQuestionTest, DeclinedChangesNothingAndTheJobGoesOn) {
  const DialogRun run = Run(GetParam() + "-no 4");
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ(Ui(TEXT_PREPARING) + " 4", run.Value("asking"));
  EXPECT_EQ(ALL_TEN + Lines{"sent 10"}, run.bar);
  EXPECT_EQ(Ui(TEXT_PREPARING) + " 0", run.Value("finish"));
  EXPECT_EQ("1", run.Value("result"));
  ExpectAllWritten();
}

INSTANTIATE_TEST_SUITE_P(CancelCommandAndClose, StopQuestionTest, testing::Values("cancel", "close"), ScenarioName);

// A stop confirmed after the worker last looked at `cancelled`: it has
// written every entry and posted the all-written finish, which arrives while
// the question is open (late-cancel: the question's gate reset fell between
// the worker's wait and set after the last entry; close-queued: the close
// was handled with that finish already queued). Before the answer a close
// arrives too, with the worker ended: it is ignored. The installer's file is
// held, as security software holds a file, until the dialog has answered a
// message sent while the removal meets that hold: a dialog whose own thread
// did the removal would answer only after giving up on the file.
class LateStopTest : public ProgressDialogTest, public testing::WithParamInterface<std::string> {};

TEST_P(LateStopTest, IsHonouredAfterTheAnswerWhileTheDialogKeepsAnswering) {
  const DialogRun run = Run(GetParam());
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ("dialog okcancel " + Ui(TEXT_CANCEL_QUESTION), run.boxes[0]);
  EXPECT_EQ(Ui(TEXT_PREPARING) + " 10", run.Value("asking"));
  EXPECT_TRUE(run.EndedAfterTheAnswer());
  // The removal met the hold, and the dialog answered meanwhile, showing
  // the removal text, before it ended.
  EXPECT_EQ(std::to_string(ERROR_SHARING_VIOLATION), run.Value("removal refused"));
  EXPECT_EQ("1 " + Ui(TEXT_REMOVING), run.Value("answered"));
  EXPECT_TRUE(run.Before("answered", "end"));
  // The finish waited for the answer; the removal that followed ran the bar
  // back to 0 and finished in its turn, the status saying so.
  EXPECT_EQ((Lines{Ui(TEXT_PREPARING) + " 0", Ui(TEXT_REMOVING) + " 0", Ui(TEXT_REMOVING) + " 0"}),
            run.Values("finish"));
  EXPECT_EQ(ALL_TEN + Posted({9, 8, 7, 6, 5, 4, 3, 2, 1, 0}) + Lines{"sent 0"}, run.bar);
  EXPECT_EQ((Lines{"0"}), run.Values("end"));
  // The dialog ended only once the removal thread had ended: the host holds
  // that thread after its finish until the dialog begins to wait for it.
  EXPECT_EQ((Lines{"1"}), run.Values("removal-ended"));
  EXPECT_EQ("0", run.Value("result"));
  // The installer is gone, so nothing can start it; the read-only read-me
  // went too, as every removal deletes alike.
  for (int row = 0; row < ENTRY_COUNT; ++row) EXPECT_FALSE(FileExists(Folder() + EntryTable[row].fileName)) << row;
}

INSTANTIATE_TEST_SUITE_P(AfterTheLastEntry, LateStopTest, testing::Values("late-cancel", "close-queued"),
                         ScenarioName);

TEST_F(ProgressDialogTest, CloseWhileTheQuestionIsOpenAsksNothingMoreAndDecidesNothing) {
  const DialogRun run = Run("close-asking 4");
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ(ALL_TEN + Lines{"sent 10"}, run.bar);
  EXPECT_EQ("1", run.Value("result"));
  ExpectAllWritten();
}

TEST_F(ProgressDialogTest, FailureWhileTheQuestionIsOpenEndsTheDialogOnlyAfterTheAnswer) {
  const DialogRun run = Run("fail-asking 4");
  // The error box opened inside the question's (the host may see the two
  // appear in either order); a close after the failure asked nothing.
  Lines boxes = run.boxes;
  std::sort(boxes.begin(), boxes.end());
  EXPECT_EQ((Lines{"dialog okcancel " + Ui(TEXT_CANCEL_QUESTION), "none ok " + Error(ERROR_TEXT_INSTALL_FAILED)}),
            boxes);
  EXPECT_TRUE(run.EndedAfterTheAnswer());
  // Declining changes nothing: the failed job was removed, and the dialog
  // ends with 0.
  EXPECT_EQ(Posted({1, 2, 3, 2, 1, 0, 0}) + Lines{"sent 0"}, run.bar);
  EXPECT_EQ(Ui(TEXT_REMOVING) + " 0", run.Values("finish").back());
  EXPECT_EQ("0", run.Value("result"));
  ExpectNothingLeft(Folder());
}

// The user confirmed a stop while the fourth entry was written, and that
// entry then fails: the user knows the job stops, so no error box follows.
TEST_F(ProgressDialogTest, FailureAfterAConfirmedStopShowsNoBox) {
  const DialogRun run = Run("fail-after-stop 4");
  EXPECT_EQ((Lines{"dialog okcancel " + Ui(TEXT_CANCEL_QUESTION)}), run.boxes);
  EXPECT_EQ(Posted({1, 2, 3, 2, 1, 0, 0}) + Lines{"sent 0"}, run.bar);
  EXPECT_EQ(Ui(TEXT_REMOVING) + " 0", run.Value("finish"));
  EXPECT_EQ("0", run.Value("result"));
  ExpectNothingLeft(Folder());
}

TEST_F(ProgressDialogTest, FailedWriteShowsErrorThreeAndRemovesWhatWasWritten) {
  // The fourth entry is missing from the bundle.
  const DialogRun run = Run(testing_support::BundleInputsOf(Demo(), {3}), scratch.Path(), "all");
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ("none ok " + Error(ERROR_TEXT_INSTALL_FAILED), run.boxes[0]);
  // Three written and the failed one recorded: four removals, the last at 0.
  EXPECT_EQ(Posted({1, 2, 3, 2, 1, 0, 0}) + Lines{"sent 0"}, run.bar);
  EXPECT_EQ(Ui(TEXT_REMOVING) + " 0", run.Value("finish"));
  EXPECT_EQ("0", run.Value("result"));
  ExpectNothingLeft(Folder());
}

TEST_F(ProgressDialogTest, DiskFullOnTheFifthEntryShowsErrorSeven) {
  SKIP_WITHOUT_SMALL_DRIVES();
  DemoEntries entries = Demo();
  for (int row = 0; row < ENTRY_COUNT; ++row) {
    entries.contents[row] = testing_support::DemoContent(row == 4 ? 400000 : 8000, 300 + row);
  }
  const std::string destination = testing_support::SmallDrive("full-memory") + "dialog\\";
  const DialogRun run = Run(testing_support::BundleInputsOf(entries), destination, "all");
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ("none ok " + Error(ERROR_TEXT_DISK_FULL), run.boxes[0]);
  EXPECT_EQ(Posted({1, 2, 3, 4, 3, 2, 1, 0, 0}) + Lines{"sent 0"}, run.bar);
  EXPECT_EQ("0", run.Value("result"));
  ExpectNothingLeft(destination + "ZEQXPC\\");
  testing_support::RemoveTree(destination);
}

TEST_F(ProgressDialogTest, CommandsWithOtherIdsAreIgnored) {
  const DialogRun run = Run("other-ids 2");
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(ALL_TEN + Lines{"sent 10"}, run.bar);
  EXPECT_EQ("1", run.Value("result"));
}

TEST_F(ProgressDialogTest, DestroyingTheObjectStopsAndAwaitsAWorkerStillRunning) {
  // The dialog is ended behind the job's back; the object is destroyed with
  // the worker still at work.
  const DialogRun run = Run("end-early 4");
  EXPECT_EQ("0", run.Value("result"));
  EXPECT_EQ("1", run.Value("worker-running"));
  EXPECT_EQ("1", run.Value("worker-ended-after-delete"));
  ExpectNothingLeft(Folder());
}

TEST_F(ProgressDialogTest, WorkerThatCannotStartShowsErrorTwoAndEndsWithZero) {
  const DialogRun run = Run("start-fails");
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ("none ok " + Error(ERROR_TEXT_START_FAILED), run.boxes[0]);
  EXPECT_TRUE(run.bar.empty());
  EXPECT_EQ("0", run.Value("result"));
  EXPECT_FALSE(FolderExists(Folder()));
}

// In this process, without a bundle: the dialog never opens.
TEST(ProgressDialogObject, AMissingTemplateMakesRunModalFailWithMinusOneAndStartsNoWorker) {
  ProgressDialog dialog;
  EXPECT_EQ(MAKEINTRESOURCEA(101), dialog.TemplateName());
  EXPECT_EQ(nullptr, dialog.Owner());
  EXPECT_EQ(10u, dialog.progressMax);
  EXPECT_EQ(0u, dialog.progressMin);
  EXPECT_EQ(1u, dialog.progressStep);
  EXPECT_EQ(1004, dialog.cancelButton.Id());
  EXPECT_EQ(1005, dialog.statusText.Id());
  EXPECT_EQ(1006, dialog.progressBar.Id());
  dialog.SetTemplate(MAKEINTRESOURCEA(999), nullptr);
  EXPECT_EQ(-1, dialog.RunModal());
  EXPECT_FALSE(dialog.workerThread.IsValid());
  EXPECT_EQ(0u, dialog.workerThreadId);
}

// The bar arithmetic on an object whose dialog is not open: positions stay
// within the range whatever the worker reports.
TEST(ProgressDialogObject, StepsStayWithinTheRange) {
  ProgressDialog dialog;
  for (int i = 0; i < 12; ++i) dialog.OnJobStep(WM_JOB_STEP, 0, 0);
  EXPECT_EQ(10u, dialog.progressPosition);
  dialog.OnJobStepBack(WM_JOB_STEP_BACK, 0, 0);
  EXPECT_EQ(9u, dialog.progressPosition);
  dialog.OnJobStepBack(WM_JOB_STEP_BACK, 1, 0);  // straight to the minimum
  EXPECT_EQ(0u, dialog.progressPosition);
  dialog.OnJobStepBack(WM_JOB_STEP_BACK, 0, 0);
  EXPECT_EQ(0u, dialog.progressPosition);
  dialog.progressStep = 3;
  for (int i = 0; i < 4; ++i) dialog.OnJobStep(WM_JOB_STEP, 0, 0);
  EXPECT_EQ(10u, dialog.progressPosition);  // 9, then clamped
  dialog.progressMin = 2;
  for (int i = 0; i < 4; ++i) dialog.OnJobStepBack(WM_JOB_STEP_BACK, 0, 0);
  EXPECT_EQ(2u, dialog.progressPosition);  // 7, 4, then clamped
}

}  // namespace
