#include <windows.h>
#include <shellapi.h>

#include "common/dll_search.h"
#include "common/retry_pace.h"
#include "extract/error_box.h"
#include "extract/message_table.h"
#include "extract/progress_dialog.h"
#include "launcher/launcher.h"
#include "ui/sync.h"

// Since Windows Vista; the headers of older systems lack it.
#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740
#endif

namespace {

// The errors with which the system refuses to start a program because a
// policy or security software blocks it: the user can act on them (allow the
// program, or ask the administrator), so they get a text of their own.
//    225, 226   an antivirus found the file infected, or removed it
//    786, 1260  a software restriction policy or AppLocker rule
//    4551       an application control policy (Windows Defender Application
//               Control; Smart App Control in enforcement)
//    4556-4559, 4580-4582
//               Smart App Control's reputation verdicts (malicious, unwanted,
//               dangerous extension, no reputation offline, unfriendly,
//               unattainable, explicitly denied)
bool IsBlockedByPolicy(DWORD error) {
  switch (error) {
    case 225:   // ERROR_VIRUS_INFECTED
    case 226:   // ERROR_VIRUS_DELETED
    case 786:   // ERROR_ACCESS_DISABLED_NO_SAFER_UI_BY_POLICY
    case 1260:  // ERROR_ACCESS_DISABLED_BY_POLICY
    case 4551:  // ERROR_SYSTEM_INTEGRITY_POLICY_VIOLATION
    case 4556:  // ERROR_SYSTEM_INTEGRITY_REPUTATION_MALICIOUS
    case 4557:  // ERROR_SYSTEM_INTEGRITY_REPUTATION_PUA
    case 4558:  // ERROR_SYSTEM_INTEGRITY_REPUTATION_DANGEROUS_EXT
    case 4559:  // ERROR_SYSTEM_INTEGRITY_REPUTATION_OFFLINE
    case 4580:  // ERROR_SYSTEM_INTEGRITY_REPUTATION_UNFRIENDLY_FILE
    case 4581:  // ERROR_SYSTEM_INTEGRITY_REPUTATION_UNATTAINABLE
    case 4582:  // ERROR_SYSTEM_INTEGRITY_REPUTATION_EXPLICIT_DENY_FILE
      return true;
    default:
      return false;
  }
}

// The short holds of a start: refusals that pass when the start is tried
// again. A sharing or lock violation, while security software still scans
// the program just written; ERROR_INTERNAL_ERROR, when the new process died
// inside the system before it ran (one start in a few thousand under Wine).
// Unlike a deletion's (extract/own_folders.cpp), access denied is not one: a
// start refused so is a matter of rights or policy, which waiting does not
// change, and the program was just written, so it is no file whose deletion
// is pending.
bool IsShortHoldOnStart(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_INTERNAL_ERROR;
}

// Starts program with arguments (or none) through the shell, which asks for
// an administrator's consent when the program's manifest requires those
// rights, and waits for the process it started. The shell is told to show no
// error box: the launcher tells the user itself, once. The shell is loaded
// only here, by its full path (common/dll_search.h), and stays loaded:
// threads it started may outlive the call.
StartResult ShellExecuteAndWait(const char* program, const char* arguments, int showState) {
  using ShellExecuteExFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOA*);
  HMODULE shell = LoadSystemLibrary("shell32.dll");
  if (shell == nullptr) return StartResult::Failed(StartFault::Refused, ERROR_MOD_NOT_FOUND);
  auto execute = reinterpret_cast<ShellExecuteExFunction>(
      reinterpret_cast<void*>(GetProcAddress(shell, "ShellExecuteExA")));
  if (execute == nullptr) return StartResult::Failed(StartFault::Refused, ERROR_PROC_NOT_FOUND);
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpFile = program;  // the default verb
  info.lpParameters = arguments;
  info.nShow = showState;
  if (!execute(&info)) {
    const DWORD error = GetLastError();
    return StartResult::Failed(error == ERROR_CANCELLED ? StartFault::Declined : StartFault::Refused, error);
  }
  // No handle when the shell handed the start to a running program: then
  // there is nothing to wait for.
  if (info.hProcess != nullptr) {
    WaitForSingleObject(info.hProcess, INFINITE);
    CloseHandle(info.hProcess);
  }
  return StartResult();
}

}  // namespace

StartResult RunProcessAndWait(const char* program, const char* arguments, int showState) {
  // The program path is quoted: unquoted, a path with blanks ("C:\Users\John
  // Smith\...") would reach the program as several arguments.
  char commandLine[520];
  const bool fits = CopyPath(commandLine, sizeof commandLine, "\"") &&
                    AppendPath(commandLine, sizeof commandLine, program) &&
                    AppendPath(commandLine, sizeof commandLine, arguments != nullptr ? "\" " : "\"") &&
                    (arguments == nullptr || AppendPath(commandLine, sizeof commandLine, arguments));
  // A command line that does not fit would start the program with cut
  // arguments; refuse instead.
  if (!fits) {
    return StartResult::Failed(StartFault::CommandTooLong, ERROR_FILENAME_EXCED_RANGE);
  }

  STARTUPINFOA startup = {};
  static_assert(sizeof startup == (sizeof(void*) == 4 ? 68 : 104), "the start-up information of this Windows");
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showState);
  PROCESS_INFORMATION process = {};
  RetryPace pace;
  while (!CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    const DWORD error = GetLastError();
    if (pace.PauseAfterFailure(IsShortHoldOnStart(error))) continue;
    // A program that requires administrator rights (as installers usually
    // declare) is refused by CreateProcess; only the shell can start it.
    if (error == ERROR_ELEVATION_REQUIRED) return ShellExecuteAndWait(program, arguments, showState);
    return StartResult::Failed(StartFault::Refused, error);
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  return StartResult();
}

// The launcher's whole life, in the order of its steps. Nothing is reported
// and the exit code is 0 whatever happens.
int RunLauncher(HINSTANCE instance, const char* commandLine) {
  // 1. 2. The instance handle for windows and the bundle reader; the interface
  // language, chosen before the single-instance test.
  SetModuleInstance(instance);
  ChooseLanguage(commandLine != nullptr ? commandLine : "");

  // 3. One copy at a time: any result but Created ends the program silently.
  NamedMutex launcherMutex;
  if (launcherMutex.Create(LAUNCHER_MUTEX_NAME) != MutexCreateResult::Created) {
    launcherMutex.Close();
    return 0;
  }

  // 4. 5. The dialog object lives until after the removal: its destination
  // folder and gate are used throughout.
  ProgressDialog dialog;
  // The temporary folder is read in UTF-16 and taken in an ANSI form that
  // names exactly that folder (common/paths.h). Without one (the call
  // failed, the answer does not fit, or no ANSI form names it) there is
  // nowhere to extract to: the user is told so and the launcher ends, having
  // created nothing. The buffer is never used unfilled.
  wchar_t wideTemp[PATH_CAPACITY + 1];
  char tempFolder[PATH_CAPACITY];
  const DWORD tempLength = GetTempPathW(PATH_CAPACITY + 1, wideTemp);
  if (tempLength == 0 || tempLength > PATH_CAPACITY || !ExactAnsiPath(wideTemp, tempFolder, sizeof tempFolder) ||
      !AppendBackslash(tempFolder, sizeof tempFolder)) {
    ShowErrorBox(ERROR_TEXT_NO_FOLDER);
    return 0;
  }

  // 6. 7. Extract under the destination folder while the dialog shows
  // progress. The job holds its folders until the removal (step 11), so the
  // installer started from there is the one it wrote.
  dialog.SetDestinationFolder(tempFolder);
  // A dialog that cannot open (RunModal -1) has told nobody anything.
  const INT_PTR extracted = dialog.RunModal();
  if (extracted == -1) ShowErrorBox(ERROR_TEXT_START_FAILED);

  // 8. 9. Start the installer that was written and wait for its process:
  // only after a completed job. A failed or cancelled one has removed its
  // installer, and a program under that name then is not the launcher's (the
  // job may have failed because the folder leads somewhere else). The path
  // is the one the job wrote (DestinationPaths::Entry). An installer that does
  // not start is reported before its files are removed, unless the user
  // declined the consent prompt and so knows.
  const char* installerPath = dialog.job.ownFolders.Paths().Entry(0);
  if (extracted == 1 && installerPath != nullptr) {
    const StartResult started = RunProcessAndWait(installerPath, nullptr, SW_SHOWNORMAL);
    if (!started.Ok() && started.fault != StartFault::Declined) {
      ShowErrorBox(IsBlockedByPolicy(started.error) ? ERROR_TEXT_BLOCKED : ERROR_TEXT_START_FAILED);
    }
  }

  // 10. Hold the installer's mutex during the removal: created here, or, while
  // the installer or a program it started still holds it, acquired by waiting
  // (an abandoned mutex ends the wait too). A failed creation waits not at all.
  NamedMutex installerMutex;
  if (installerMutex.Create(INSTALLER_MUTEX_NAME) != MutexCreateResult::Created) installerMutex.Wait();

  // 11. - 14.
  RemoveExtractedFiles(dialog.job.ownFolders);
  launcherMutex.Close();
  installerMutex.Close();
  return 0;
}
