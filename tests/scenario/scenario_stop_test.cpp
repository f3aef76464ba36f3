// The launcher end to end, a run the user stops: a cancel confirmed while the
// entries are written, and the elevation of an installer that needs it
// declined. Either way no installer runs and nothing is left behind. The
// fixtures are in launcher_scenario.h.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "extract/message_table.h"
#include "launcher_scenario.h"

using namespace testing_support;
using namespace scenario;

namespace {

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

TEST_F(HookedLauncherScenario, DeclinedElevationGoesOnAndRemovesEverything) {
  ExpectNoInstallerAndNothingLeft(RunHost("declined", ""), {"shell-execute declined", "exit 0"});
}

}  // namespace
