// The launcher's whole life, one straight pass on the main thread. Its steps,
// which main_flow.cpp cites by number:
//    1. store the module instance handle;
//    2. choose the interface language (before the single-instance test);
//    3. create the single-instance mutex; any result but Created ends the
//       program at once, silently, with 0;
//    4. construct the progress dialog (it lives until after the removal);
//    5. read the temporary folder and end it with a backslash; without a
//       usable one, show error text 0 and end, having created nothing;
//    6. fix the dialog's destination folder from it (drive-root rule);
//    7. run the dialog modally while the extraction job writes the entries;
//       a dialog that cannot open is reported with error text 2;
//    8. build the installer path: destination + row 0's prefix and name;
//    9. start the installer and wait for its process; one that cannot be
//       started is reported (error text 10 when a policy or security
//       software blocked it, else 2; nothing when the user declined);
//   10. create the installer mutex, or wait for it while another holds it;
//   11. remove the extracted files;
//   12. close the single-instance mutex;
//   13. close the installer mutex;
//   14. destroy the dialog object and return 0.
#pragma once

#include <windows.h>

#include "common/fault_result.h"

// Runs steps 1 to 14; returns the exit code, 0 whatever happens.
int RunLauncher(HINSTANCE instance, const char* commandLine);

// The exit code of a launcher its own C++ runtime ended (launcher/cxx_runtime.cpp:
// out of memory where only the end can follow, a call of a pure virtual
// function, a standard exception raised): 3, as abort() gave, in the range of
// error codes that no system status takes, so that it is told from abort's 3
// and from a crash.
constexpr UINT RUNTIME_END_EXIT_CODE = 0xE0000003;

// What became of a program's start, with the error of the call that failed.
enum class StartFault {
  None,            // started, and its process has ended
  CommandTooLong,  // the command line does not fit its buffer (ERROR_FILENAME_EXCED_RANGE)
  Refused,         // the system or the shell refused to start it (their error)
  Declined,        // the user declined the consent prompt (ERROR_CANCELLED)
};

using StartResult = FaultResult<StartFault>;

// Starts program (a full path, given unquoted; it is quoted on the command
// line) with optional arguments and the given show state and waits until its
// process ends. A program that requires administrator rights is started
// through the shell, which asks the user's consent first and shows no error
// box of its own: a failure is the caller's to tell.
StartResult RunProcessAndWait(const char* program, const char* arguments, int showState);
