// Riding through short holds. Security software (on-access scanners), backup
// and indexing programs open a newly written file for a moment, often without
// delete sharing; deleting it, removing its folder or starting it as a program
// is refused meanwhile. A RetryPace spaces the tries of such a step with
// growing pauses and bounds them all together: one pace serves a whole
// removal, so that a file that stays held costs the wait once, not once per
// file. Which refusals are short holds depends on the step, so each kind of
// step names its own (IsShortHoldOnRemoval in extract/own_folders.cpp,
// IsShortHoldOnStart in launcher/main_flow.cpp).
#pragma once

#include <windows.h>

// The bound of one preparation of the own folders, of one removal, or of one
// start of the installer. Peers wait
// about 3 s; an on-access scan of a freshly written program of some
// megabytes can take longer on a slow disk, and the wait is only ever paid
// when something really is still held. 5 s rides through the scans seen in
// practice while keeping a truly stuck file from holding the launcher up for
// long.
constexpr DWORD RETRY_BUDGET_MS = 5000;
// The first pause, doubled after each try up to the longest: a hold that ends
// at once costs little, and a long one is not polled needlessly often.
constexpr DWORD RETRY_FIRST_PAUSE_MS = 20;
constexpr DWORD RETRY_LONGEST_PAUSE_MS = 400;

class RetryPace {
 public:
  explicit RetryPace(DWORD budgetMs = RETRY_BUDGET_MS) : start(GetTickCount()), budget(budgetMs) {}
  RetryPace(const RetryPace&) = delete;
  RetryPace& operator=(const RetryPace&) = delete;

  // After a failed try: false, at once, when the failure cannot pass
  // (mayPass false) or the budget is spent; else pauses and returns true,
  // for one more try. The last pause ends with the budget, so a hold that
  // ends within it is always followed by a try. Keeps the thread's last
  // error.
  bool PauseAfterFailure(bool mayPass) {
    if (!mayPass) return false;
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= budget) return false;
    const DWORD pause = budget - elapsed < nextPause ? budget - elapsed : nextPause;
    const DWORD error = GetLastError();
    Sleep(pause);
    SetLastError(error);
    nextPause = nextPause * 2 < RETRY_LONGEST_PAUSE_MS ? nextPause * 2 : RETRY_LONGEST_PAUSE_MS;
    return true;
  }

 private:
  DWORD start;
  DWORD budget;
  DWORD nextPause = RETRY_FIRST_PAUSE_MS;
};
