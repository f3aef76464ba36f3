// scenario_launcher_host TEMP REPORT FAULT CONTROL
//
// Runs the launcher's whole main flow (RunLauncher, after the entry's DLL
// search limit) against the bundle appended to this program's own file, with
// TEMP as its temporary folder and CONTROL as the stand-in installer's
// control file, while one platform call fails the way Windows makes it fail
// and Wine never does (Wine runs everything with full rights):
//   elevation  CreateProcessA refuses with ERROR_ELEVATION_REQUIRED (740), as
//              for an installer that requires administrator rights; the real
//              ShellExecuteExA then starts it
//   declined   the same, and ShellExecuteExA fails with ERROR_CANCELLED, as
//              when the user declines the consent prompt
//   shell-refused  the same, and ShellExecuteExA fails with
//              ERROR_ACCESS_DISABLED_BY_POLICY (1260), as when a policy
//              blocks the elevated installer; called without
//              SEE_MASK_FLAG_NO_UI, Windows would first show an error box of
//              its own, which is reported as "box shell"
//   refused    CreateMutexA of the installer mutex fails with
//              ERROR_ACCESS_DENIED and OpenMutexA grants SYNCHRONIZE only, as
//              for a mutex created by a program with administrator rights
//   blocked    CreateProcessA refuses with ERROR_ACCESS_DISABLED_BY_POLICY
//              (1260), as when a software restriction policy or AppLocker
//              blocks the installer
//   held       CreateProcessA refuses its first three calls, with
//              ERROR_SHARING_VIOLATION and ERROR_LOCK_VIOLATION as while
//              security software scans the installer just written, then with
//              ERROR_INTERNAL_ERROR as when the new process dies before it
//              runs; then it starts it
//   no-temp    GetTempPathW fails (ERROR_ENVVAR_NOT_FOUND)
//   watch=NAME nothing fails: every deletion runs for real, and the first one
//              a hold refuses (DeleteFileW, or the folder's removal through
//              SetFileInformationByHandle) is reported and sets the event
//              NAME, on which a holder lets go (child mode hold-files). The
//              first deletion waits until the holder holds its files (it
//              sets NAME_ready), so the removal always meets the hold
//   probe=NAME nothing fails: at the first deletion (in a run that leaves
//              nothing behind from before, the removal's first) the event
//              NAME_begun is set, and the deletion waits until the test has
//              probed the installer mutex from its own process and set
//              NAME_probed
// Every message box the flow shows (MessageBoxW) is answered at once.
//
// REPORT lines, in order:
//   shell-execute started|failed|declined|refused 1260
//                                           each ShellExecuteExA the flow makes
//   removal refused delete-file|remove-folder ERROR
//                                           (watch) the first deletion a hold refused
//   removal began                           (probe) the first deletion, once probed
//   installer-ended-before-mutex 0|1        (elevation) whether the process the
//                                           shell started had ended when the
//                                           flow asked for the installer mutex
//   create-mutex refused                    (refused) the installer mutex
//   open-mutex ACCESS granted|refused       (refused) each OpenMutexA, ACCESS in hex
//   create-process refused ERROR            (blocked, held) each refused CreateProcessA
//   create-process started                  (blocked, held) the real one
//   box ID [owned] [no-stop-icon] [other-caption]
//                                           each message box: ID the error text it shows
//                                           (-1 none), and what differs from an error box
//   exit N                                  RunLauncher's result
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <memory>
#include <string>

#include "common/dll_search.h"
#include "host_report.h"
#include "import_hook.h"
#include "extract/message_table.h"
#include "launcher/launcher.h"

namespace {

using testing_support::ImportHook;
using testing_support::Note;

using ShellExecuteExFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOA*);

using SetInformationFunction = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);

std::string fault;
HANDLE letGo = nullptr;  // watch: set at the first refused deletion
HANDLE holding = nullptr;  // watch: NAME_ready, set once the holder holds its files
HANDLE probeBegun = nullptr, probeDone = nullptr;  // probe: the events NAME_begun, NAME_probed
SetInformationFunction realSetInformation = nullptr;
const ImportHook* deleteFileHook = nullptr;
const ImportHook* createProcessHook = nullptr;
const ImportHook* getProcAddressHook = nullptr;
const ImportHook* createMutexHook = nullptr;
const ImportHook* openMutexHook = nullptr;
ShellExecuteExFunction realShellExecute = nullptr;
HANDLE installerProcess = nullptr;  // a copy of the handle the shell returned

BOOL WINAPI WatchingCreateProcessA(LPCSTR program, LPSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                                   LPSECURITY_ATTRIBUTES threadSecurity, BOOL inherit, DWORD flags, LPVOID environment,
                                   LPCSTR folder, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION process) {
  static int calls = 0;
  ++calls;
  if (fault == "elevation" || fault == "declined" || fault == "shell-refused") {
    SetLastError(740);  // ERROR_ELEVATION_REQUIRED
    return FALSE;
  }
  if (fault == "blocked" || (fault == "held" && calls <= 3)) {
    static const DWORD held[] = {ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, ERROR_INTERNAL_ERROR};
    const DWORD error = fault == "blocked" ? ERROR_ACCESS_DISABLED_BY_POLICY : held[calls - 1];
    Note("create-process refused %lu", error);
    SetLastError(error);
    return FALSE;
  }
  if (fault == "blocked" || fault == "held") Note("create-process started");
  return createProcessHook->Original<decltype(&CreateProcessA)>()(program, commandLine, processSecurity,
                                                                  threadSecurity, inherit, flags, environment, folder,
                                                                  startup, process);
}

BOOL WINAPI WatchedShellExecuteExA(SHELLEXECUTEINFOA* info) {
  if (fault == "declined") {
    Note("shell-execute declined");
    SetLastError(ERROR_CANCELLED);
    return FALSE;
  }
  if (fault == "shell-refused") {
    Note("shell-execute refused %lu", static_cast<unsigned long>(ERROR_ACCESS_DISABLED_BY_POLICY));
    if (!(info->fMask & SEE_MASK_FLAG_NO_UI)) Note("box shell");
    SetLastError(ERROR_ACCESS_DISABLED_BY_POLICY);
    return FALSE;
  }
  const BOOL started = realShellExecute(info);
  Note("shell-execute %s", started ? "started" : "failed");
  if (started && info->hProcess != nullptr) {
    DuplicateHandle(GetCurrentProcess(), info->hProcess, GetCurrentProcess(), &installerProcess, SYNCHRONIZE, FALSE,
                    0);
  }
  return started;
}

DWORD WINAPI FailingGetTempPathW(DWORD, LPWSTR) {
  SetLastError(ERROR_ENVVAR_NOT_FOUND);
  return 0;
}

// A stored text as the box should show it.
std::wstring Widen(const char* text) {
  wchar_t wide[512] = L"";
  MultiByteToWideChar(932, 0, text, -1, wide, 512);
  return wide;
}

int WINAPI AnsweringMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  int id = -1;
  for (int32_t i = 0; i < ERROR_TEXT_COUNT; ++i) {
    if (Widen(GetErrorText(0, i)) == text) id = i;
  }
  Note("box %d%s%s%s", id, owner != nullptr ? " owned" : "", type != (MB_OK | MB_ICONERROR) ? " no-stop-icon" : "",
       Widen(GetText(0, TEXT_SETUP_CAPTION)) != caption ? " other-caption" : "");
  return IDOK;
}

// The first deletion a hold refused, once: the holder may then let go.
void NoteRefusal(const char* call, DWORD error) {
  if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION && error != ERROR_ACCESS_DENIED &&
      error != ERROR_DIR_NOT_EMPTY) {
    return;
  }
  if (letGo == nullptr || WaitForSingleObject(letGo, 0) == WAIT_OBJECT_0) return;
  Note("removal refused %s %lu", call, error);
  SetEvent(letGo);
}

BOOL WINAPI WatchingDeleteFileW(LPCWSTR path) {
  if (holding != nullptr) {
    WaitForSingleObject(holding, 60000);
    CloseHandle(holding);
    holding = nullptr;
  }
  if (probeBegun != nullptr) {
    SetEvent(probeBegun);
    WaitForSingleObject(probeDone, 60000);
    Note("removal began");
    CloseHandle(probeBegun);
    probeBegun = nullptr;
  }
  const BOOL deleted = deleteFileHook->Original<decltype(&DeleteFileW)>()(path);
  const DWORD error = GetLastError();
  if (!deleted) NoteRefusal("delete-file", error);
  SetLastError(error);
  return deleted;
}

BOOL WINAPI WatchingSetInformation(HANDLE handle, int type, void* data, DWORD size) {
  const BOOL set = realSetInformation(handle, type, data, size);
  const DWORD error = GetLastError();
  if (!set) NoteRefusal("remove-folder", error);
  SetLastError(error);
  return set;
}

FARPROC WINAPI WatchingGetProcAddress(HMODULE module, LPCSTR name) {
  const FARPROC found = getProcAddressHook->Original<decltype(&GetProcAddress)>()(module, name);
  // A name, not an ordinal, and the shell's start function or the folders'
  // removal: hand out ours.
  if (HIWORD(reinterpret_cast<UINT_PTR>(name)) == 0 || found == nullptr) return found;
  if (std::strcmp(name, "ShellExecuteExA") == 0) {
    realShellExecute = reinterpret_cast<ShellExecuteExFunction>(reinterpret_cast<void*>(found));
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&WatchedShellExecuteExA));
  }
  if (std::strcmp(name, "SetFileInformationByHandle") == 0) {
    realSetInformation = reinterpret_cast<SetInformationFunction>(reinterpret_cast<void*>(found));
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&WatchingSetInformation));
  }
  return found;
}

HANDLE WINAPI WatchingCreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL owned, LPCSTR name) {
  if (name != nullptr && std::strcmp(name, INSTALLER_MUTEX_NAME) == 0) {
    if (fault == "elevation") {
      Note("installer-ended-before-mutex %d",
           installerProcess != nullptr && WaitForSingleObject(installerProcess, 0) == WAIT_OBJECT_0 ? 1 : 0);
    }
    if (fault == "refused") {
      Note("create-mutex refused");
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
  }
  return createMutexHook->Original<decltype(&CreateMutexA)>()(security, owned, name);
}

HANDLE WINAPI WatchingOpenMutexA(DWORD access, BOOL inherit, LPCSTR name) {
  if (fault != "refused") return openMutexHook->Original<decltype(&OpenMutexA)>()(access, inherit, name);
  if ((access & ~SYNCHRONIZE) != 0) {
    Note("open-mutex %lx refused", access);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  Note("open-mutex %lx granted", access);
  return openMutexHook->Original<decltype(&OpenMutexA)>()(access, inherit, name);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (__argc < 5) return 2;
  if (!testing_support::OpenHostReport(__argv[2])) return 3;
  fault = __argv[3];
  if (fault.rfind("watch=", 0) == 0) {
    letGo = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, fault.c_str() + 6);
    holding = OpenEventA(SYNCHRONIZE, FALSE, (fault.substr(6) + "_ready").c_str());
    if (letGo == nullptr || holding == nullptr) return 5;
  }
  if (fault.rfind("probe=", 0) == 0) {
    const std::string name = fault.substr(6);
    probeBegun = OpenEventA(EVENT_MODIFY_STATE, FALSE, (name + "_begun").c_str());
    probeDone = OpenEventA(SYNCHRONIZE, FALSE, (name + "_probed").c_str());
    if (probeBegun == nullptr || probeDone == nullptr) return 5;
  }
  SetEnvironmentVariableA("TMP", __argv[1]);
  SetEnvironmentVariableA("TEMP", __argv[1]);
  SetEnvironmentVariableA("ZEPHRA_STANDIN_CONTROL", __argv[4]);

  ImportHook createProcess("KERNEL32.dll", "CreateProcessA", reinterpret_cast<const void*>(&WatchingCreateProcessA));
  ImportHook getProcAddress("KERNEL32.dll", "GetProcAddress", reinterpret_cast<const void*>(&WatchingGetProcAddress));
  ImportHook createMutex("KERNEL32.dll", "CreateMutexA", reinterpret_cast<const void*>(&WatchingCreateMutexA));
  ImportHook openMutex("KERNEL32.dll", "OpenMutexA", reinterpret_cast<const void*>(&WatchingOpenMutexA));
  ImportHook messageBox("USER32.dll", "MessageBoxW", reinterpret_cast<const void*>(&AnsweringMessageBoxW));
  ImportHook deleteFile("KERNEL32.dll", "DeleteFileW", reinterpret_cast<const void*>(&WatchingDeleteFileW));
  std::unique_ptr<ImportHook> tempPath;
  if (fault == "no-temp") {
    tempPath.reset(new ImportHook("KERNEL32.dll", "GetTempPathW", reinterpret_cast<const void*>(&FailingGetTempPathW)));
    if (!tempPath->Installed()) return 4;
  }
  createProcessHook = &createProcess;
  getProcAddressHook = &getProcAddress;
  createMutexHook = &createMutex;
  openMutexHook = &openMutex;
  deleteFileHook = &deleteFile;
  if (!createProcess.Installed() || !getProcAddress.Installed() || !createMutex.Installed() || !openMutex.Installed() ||
      !messageBox.Installed() || !deleteFile.Installed()) {
    return 4;
  }

  LimitDllSearch();
  const int result = RunLauncher(instance, "");
  Note("exit %d", result);
  if (installerProcess != nullptr) CloseHandle(installerProcess);
  if (letGo != nullptr) CloseHandle(letGo);
  if (probeDone != nullptr) CloseHandle(probeDone);
  testing_support::CloseHostReport();
  return result;
}
