// extraction_job_host DEST REPORT [ask-at=K answer=ok|cancel] [fail-alloc=SIZE]
//
// Runs the extraction job the way the progress dialog does, against the
// bundle appended to this program's own file, with DEST as the destination
// folder, in a JobState of its own whose window is a message-only window
// standing in for the dialog: it records every message it receives, one line
// each in REPORT, and answers as the dialog would (the failure handler opens
// the gate). Test programs copy this host, append a bundle and run the copy.
//
//   ask-at=K        the cancel question comes up while row K is being written
//                   (when the worker creates that row's file) and is answered
//                   once the worker, after row K's step, waits at the closed
//                   gate (its wait is hooked: no guess at how long it takes)
//   answer=ok       confirms (cancelled, then the gate); answer=cancel
//                   declines (the gate only)
//   fail-alloc=SIZE the first SIZE-byte allocation on the worker thread fails
//   clobber-errors  every platform release the worker makes (CloseHandle,
//                   HeapFree, HeapDestroy) leaves ERROR_INVALID_HANDLE as the
//                   last error, as the platform may after a success: an error
//                   the job reports must have been kept across its clean-up.
//                   The C runtime's free is left alone: it never touches the
//                   last error, and the strings the reader takes by value are
//                   freed by the caller after the call returns, out of any
//                   routine's reach.
//
// REPORT lines: "step|back|failed|finished sent|posted WPARAM LPARAM", "ask",
// "answer", "unexpected MESSAGE", "open PATH"
// (the worker opened PATH for writing), then
// "ended 0|1" (the worker thread ended after its last message) and one
// "written PATH" per row left in writtenRows.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/entry_table.h"
#include "extract/destination_folder.h"
#include "extract/extraction_job.h"
#include "host_report.h"
#include "import_hook.h"

namespace {

using testing_support::Note;

// The stand-in's own requests from the worker's hooks: "show the question
// now", and "I wait at the gate".
constexpr UINT WM_HOST_ASK = WM_APP + 0x100;
constexpr UINT WM_HOST_AT_GATE = WM_APP + 0x101;

JobState* job = nullptr;
HWND host = nullptr;
int askAt = -1;
bool confirm = true;
size_t failAllocSize = 0;
DWORD mainThread = 0;
const testing_support::ImportHook* createFileHook = nullptr;
const testing_support::ImportHook* mallocHook = nullptr;
bool clobberErrors = false;
const testing_support::ImportHook* closeHook = nullptr;
const testing_support::ImportHook* heapFreeHook = nullptr;
const testing_support::ImportHook* heapDestroyHook = nullptr;
const testing_support::ImportHook* waitHook = nullptr;


const char* Delivery() { return InSendMessage() ? "sent" : "posted"; }

HANDLE WINAPI WatchingCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE templateFile) {
  if (askAt >= 0 && GetCurrentThreadId() != mainThread && (access & GENERIC_WRITE)) {
    const char* fileName = strrchr(name, '\\');
    if (fileName != nullptr && strcmp(fileName + 1, EntryTable[askAt].fileName) == 0) {
      SendMessageA(host, WM_HOST_ASK, 0, 0);
    }
  }
  if (GetCurrentThreadId() != mainThread && (access & GENERIC_WRITE)) Note("open %s", name);
  return createFileHook->Original<decltype(&CreateFileA)>()(name, access, share, security, disposition, flags,
                                                             templateFile);
}

// Tells the host, before the worker blocks, that it waits at the gate for
// the Nth time (wParam N): after the step of its Nth written row.
DWORD WINAPI WatchingWaitForSingleObject(HANDLE object, DWORD timeoutMs) {
  static WPARAM gateWaits = 0;
  if (job != nullptr && object == job->gate.Handle() && GetCurrentThreadId() != mainThread) {
    PostMessageA(host, WM_HOST_AT_GATE, ++gateWaits, 0);
  }
  return waitHook->Original<decltype(&WaitForSingleObject)>()(object, timeoutMs);
}

void* __cdecl FailingMalloc(size_t size) {
  if (failAllocSize != 0 && size == failAllocSize && GetCurrentThreadId() != mainThread) {
    failAllocSize = 0;  // once
    return nullptr;
  }
  return mallocHook->Original<void*(__cdecl*)(size_t)>()(size);
}

void Clobber() {
  if (clobberErrors && GetCurrentThreadId() != mainThread) SetLastError(ERROR_INVALID_HANDLE);
}

BOOL WINAPI ClobberingCloseHandle(HANDLE handle) {
  const BOOL result = closeHook->Original<decltype(&CloseHandle)>()(handle);
  Clobber();
  return result;
}

BOOL WINAPI ClobberingHeapFree(HANDLE heap, DWORD flags, LPVOID block) {
  const BOOL result = heapFreeHook->Original<decltype(&HeapFree)>()(heap, flags, block);
  Clobber();
  return result;
}

BOOL WINAPI ClobberingHeapDestroy(HANDLE heap) {
  const BOOL result = heapDestroyHook->Original<decltype(&HeapDestroy)>()(heap);
  Clobber();
  return result;
}

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_HOST_ASK:
      job->gate.Reset();
      Note("ask");
      return 0;
    case WM_JOB_STEP:
      Note("step %s %u %ld", Delivery(), static_cast<unsigned>(wParam), static_cast<long>(lParam));
      return 0;
    case WM_HOST_AT_GATE:
      // The question stays open until the worker is held by it: at the gate
      // after row K's step.
      if (askAt < 0 || wParam != WPARAM(askAt + 1)) return 0;
      Note("answer");
      if (confirm) job->cancelled = true;
      job->gate.Set();
      return 0;
    case WM_JOB_STEP_BACK:
      Note("back %s %u %ld", Delivery(), static_cast<unsigned>(wParam), static_cast<long>(lParam));
      return 0;
    case WM_JOB_FAILED:
      Note("failed %s %u %ld", Delivery(), static_cast<unsigned>(wParam), static_cast<long>(lParam));
      job->gate.Set();
      return 0;
    case WM_JOB_FINISHED:
      Note("finished %s %u %ld", Delivery(), static_cast<unsigned>(wParam), static_cast<long>(lParam));
      PostQuitMessage(0);
      return 0;
    default:
      if (message >= WM_APP) Note("unexpected %#x", message);
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  if (!testing_support::OpenHostReport(argv[2])) return 3;
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    if (option.rfind("ask-at=", 0) == 0) askAt = atoi(option.c_str() + 7);
    if (option == "answer=cancel") confirm = false;
    if (option.rfind("fail-alloc=", 0) == 0) failAllocSize = strtoul(option.c_str() + 11, nullptr, 10);
    if (option == "clobber-errors") clobberErrors = true;
  }
  mainThread = GetCurrentThreadId();
  testing_support::ImportHook watchCreate("KERNEL32.dll", "CreateFileA",
                                          reinterpret_cast<const void*>(&WatchingCreateFileA));
  testing_support::ImportHook failMalloc("msvcrt.dll", "malloc", reinterpret_cast<const void*>(&FailingMalloc));
  createFileHook = &watchCreate;
  mallocHook = &failMalloc;
  testing_support::ImportHook clobberClose("KERNEL32.dll", "CloseHandle",
                                           reinterpret_cast<const void*>(&ClobberingCloseHandle));
  testing_support::ImportHook clobberHeapFree("KERNEL32.dll", "HeapFree",
                                              reinterpret_cast<const void*>(&ClobberingHeapFree));
  testing_support::ImportHook clobberHeapDestroy("KERNEL32.dll", "HeapDestroy",
                                                 reinterpret_cast<const void*>(&ClobberingHeapDestroy));
  testing_support::ImportHook watchWait("KERNEL32.dll", "WaitForSingleObject",
                                        reinterpret_cast<const void*>(&WatchingWaitForSingleObject));
  waitHook = &watchWait;
  closeHook = &clobberClose;
  heapFreeHook = &clobberHeapFree;
  heapDestroyHook = &clobberHeapDestroy;
  if (!watchCreate.Installed() || !failMalloc.Installed() || !clobberClose.Installed() ||
      !clobberHeapFree.Installed() || !clobberHeapDestroy.Installed() || !watchWait.Installed()) {
    return 4;
  }

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = HostProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "ExtractionJobHost";
  RegisterClassA(&windowClass);
  host = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         windowClass.hInstance, nullptr);
  if (host == nullptr) return 5;

  // As the dialog's initialisation does it.
  JobState hosted;
  job = &hosted;
  hosted.window = host;
  SetJobDestination(hosted, argv[1]);
  hosted.gate.Set();
  uint32_t threadId = 1234;
  KernelHandle worker = StartExtraction(hosted, &threadId);
  if (!worker.IsValid()) {
    Note("not-started %u", threadId);
    return 6;
  }

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);

  Note("ended %d", WaitForSingleObject(worker.Get(), 10000) == WAIT_OBJECT_0 ? 1 : 0);
  worker.Close();
  for (int row = 0; row < ENTRY_COUNT; ++row) {
    if (hosted.writtenRows & (1u << row)) Note("written %s", hosted.ownFolders.Paths().Entry(row));
  }
  DestroyWindow(host);
  testing_support::CloseHostReport();
  return 0;
}
