// progress_dialog_host DEST REPORT SCENARIO [K]
//
// Runs the real progress dialog (template 101, the real extraction worker)
// against the bundle appended to this program's own file, with DEST as the
// destination folder, and writes what happened to REPORT, one line each.
// Test programs copy this host, append a bundle and run the copy. Nobody is
// ever asked anything: a helper thread finds every message box by its
// caption and presses its button itself.
//
// SCENARIO, acting while entry K (1-based) is being written, that is when
// the worker opens its file:
//   all          nothing is done to the dialog
//   cancel-ok    the cancel command; the question is confirmed once the
//                worker waits at the gate, then a second cancel command follows
//   cancel-no    the cancel command; the question is declined likewise
//   close        a close request (WM_CLOSE)
//   other-ids    commands with ids IDOK, IDCANCEL and 1005
//   end-early    the dialog is ended by Dialog's End, the worker still running;
//                the object is then destroyed
//   start-fails  (no K) the worker thread cannot be created
//   slow         (K is a time in ms) the worker pauses K ms before each entry,
//                so that the dialog can be watched at work (scripts/screenshot.sh)
//
// REPORT lines, texts with their line breaks written as "\n":
//   init X Y W H DESKTOPRIGHT DESKTOPBOTTOM     the dialog's rectangle when opened
//   title TEXT / status TEXT / button VISIBLE / range MIN MAX POS
//   bar posted|sent POS                          each PBM_SETPOS after opening
//   box owner|none ok|okcancel TEXT              each message box seen
//   asking TEXT POS                              status and bar before the answer
//   finish TEXT VISIBLE                          status and button on WM_JOB_FINISHED
//   result N / worker-running 0|1 / worker-ended-after-delete 0|1
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "extract/message_table.h"
#include "extract/progress_dialog.h"
#include "host_report.h"
#include "import_hook.h"
#include "launcher/launcher.h"
#include "resources/resource_ids.h"

namespace {

using testing_support::Note;

constexpr UINT WM_HOST_END_EARLY = WM_APP + 0x100;

std::string scenario;
int triggerEntry = -1;  // 1-based
DWORD mainThread = 0;
std::atomic<int> lastPosition{-1};
std::atomic<int> positionsPosted{0};
std::atomic<bool> stopAnswering{false};
HWND dialogWindow = nullptr;
WNDPROC originalBarProc = nullptr;
bool insideFinish = false;
const testing_support::ImportHook* createFileHook = nullptr;

std::string OneLine(const char* text) {
  std::string line;
  for (const char* c = text; *c != '\0'; ++c) line += *c == '\n' ? std::string("\\n") : std::string(1, *c);
  return line;
}

std::string TextOf(HWND window) {
  char text[512] = "";
  GetWindowTextA(window, text, sizeof text);
  return OneLine(text);
}

int BarPosition(HWND bar) { return static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)); }

LRESULT CALLBACK LoggingBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == PBM_SETPOS) {
    // The dialog's own sends are plain calls on this thread; only
    // OnJobFinished sends, and it dispatches no posted message meanwhile.
    Note("bar %s %d", InSendMessage() || insideFinish ? "sent" : "posted", static_cast<int>(wParam));
    lastPosition = static_cast<int>(wParam);
    ++positionsPosted;
  }
  return CallWindowProcA(originalBarProc, window, message, wParam, lParam);
}

class HostDialog : public ProgressDialog {
 public:
  BOOL HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_HOST_END_EARLY) {
      Dialog::End(0);
      return TRUE;
    }
    return ProgressDialog::HandleDialogMessage(message, wParam, lParam);
  }

  int OnInitDialog(UINT message, WPARAM wParam, LPARAM lParam) override {
    dialogWindow = windowHandle;
    int result = ProgressDialog::OnInitDialog(message, wParam, lParam);
    // The worker's first step cannot be handled before this returns: both
    // run on this thread.
    RECT rect, desktop;
    GetWindowRect(windowHandle, &rect);
    GetWindowRect(GetDesktopWindow(), &desktop);
    Note("init %ld %ld %ld %ld %ld %ld", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
         desktop.right, desktop.bottom);
    Note("title %s", TextOf(windowHandle).c_str());
    Note("status %s", TextOf(statusText.Handle()).c_str());
    Note("button %d", IsWindowVisible(cancelButton.Handle()) ? 1 : 0);
    PBRANGE range = {};
    SendMessageA(progressBar.Handle(), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    Note("range %d %d %d", range.iLow, range.iHigh, BarPosition(progressBar.Handle()));
    originalBarProc = reinterpret_cast<WNDPROC>(
        SetWindowLongA(progressBar.Handle(), GWL_WNDPROC, reinterpret_cast<LONG>(&LoggingBarProc)));
    return result;
  }

  int OnJobFinished(UINT message, WPARAM wParam, LPARAM lParam) override {
    Note("finish %s %d", TextOf(statusText.Handle()).c_str(), IsWindowVisible(cancelButton.Handle()) ? 1 : 0);
    insideFinish = true;
    int result = ProgressDialog::OnJobFinished(message, wParam, lParam);
    insideFinish = false;
    return result;
  }
};

HostDialog* dialog = nullptr;

// A message box of this process, by its class and caption: other copies of
// the host may run beside this one.
BOOL CALLBACK MatchBox(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char className[16] = "", caption[64] = "";
  GetClassNameA(window, className, sizeof className);
  GetWindowTextA(window, caption, sizeof caption);
  if (process == GetCurrentProcessId() && strcmp(className, "#32770") == 0 &&
      strcmp(caption, GetText(LanguageIndex, TEXT_SETUP_CAPTION)) == 0) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindBox() {
  HWND found = nullptr;
  EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&found));
  return found;
}

template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 10) {
    if (condition()) return true;
    Sleep(10);
  }
  return condition();
}

void Press(HWND box, int id) {
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

// Finds every box by its caption, notes it and answers it.
DWORD WINAPI Answer(void*) {
  while (!stopAnswering) {
    HWND box = FindBox();
    if (box == nullptr || !IsWindowVisible(box)) {
      Sleep(10);
      continue;
    }
    char text[512] = "";
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    HWND owner = GetWindow(box, GW_OWNER);
    bool question = GetDlgItem(box, IDCANCEL) != nullptr;
    Note("box %s %s %s", owner == nullptr ? "none" : owner == dialogWindow ? "dialog" : "other",
         question ? "okcancel" : "ok", OneLine(text).c_str());
    if (question && (scenario == "cancel-ok" || scenario == "cancel-no")) {
      // The worker completes the entry it writes, then waits at the gate.
      WaitFor([] { return positionsPosted >= triggerEntry; }, 10000);
      Sleep(300);
      HWND status = GetDlgItem(dialogWindow, IDC_STATUS_TEXT);
      Note("asking %s %d", TextOf(status).c_str(), BarPosition(GetDlgItem(dialogWindow, IDC_PROGRESS_BAR)));
      Press(box, scenario == "cancel-ok" ? IDOK : IDCANCEL);
      WaitFor([box] { return !IsWindow(box); }, 5000);
      if (scenario == "cancel-ok") {
        PostMessageA(dialogWindow, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_BUTTON, BN_CLICKED), 0);
      }
    } else {
      Press(box, question ? IDCANCEL : IDOK);
      WaitFor([box] { return !IsWindow(box); }, 5000);
    }
  }
  return 0;
}

HANDLE WINAPI WatchingCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE templateFile) {
  if (scenario == "slow" && GetCurrentThreadId() != mainThread && (access & GENERIC_WRITE)) {
    Sleep(static_cast<DWORD>(triggerEntry));
  } else if (triggerEntry > 0 && GetCurrentThreadId() != mainThread && (access & GENERIC_WRITE)) {
    const char* fileName = strrchr(name, '\\');
    if (fileName != nullptr && strcmp(fileName + 1, EntryTable[triggerEntry - 1].fileName) == 0) {
      if (scenario == "cancel-ok" || scenario == "cancel-no") {
        PostMessageA(dialogWindow, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_BUTTON, BN_CLICKED), 0);
        // The question is up, so the gate is closed before this entry ends.
        WaitFor([] { return FindBox() != nullptr; }, 5000);
      } else if (scenario == "close") {
        PostMessageA(dialogWindow, WM_CLOSE, 0, 0);
        WaitFor([] { return dialog->cancelled.load(); }, 5000);
      } else if (scenario == "other-ids") {
        PostMessageA(dialogWindow, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        PostMessageA(dialogWindow, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        PostMessageA(dialogWindow, WM_COMMAND, MAKEWPARAM(IDC_STATUS_TEXT, 0), 0);
        Sleep(300);
      } else if (scenario == "end-early") {
        PostMessageA(dialogWindow, WM_HOST_END_EARLY, 0, 0);
        Sleep(300);
      }
    }
  }
  return createFileHook->Original<decltype(&CreateFileA)>()(name, access, share, security, disposition, flags,
                                                             templateFile);
}

uintptr_t __cdecl FailingThreadStart(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*) {
  errno = EAGAIN;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  if (!testing_support::OpenHostReport(argv[2])) return 3;
  scenario = argv[3];
  if (argc > 4) triggerEntry = atoi(argv[4]);
  mainThread = GetCurrentThreadId();

  testing_support::ImportHook watchCreate("KERNEL32.dll", "CreateFileA",
                                          reinterpret_cast<const void*>(&WatchingCreateFileA));
  createFileHook = &watchCreate;
  if (!watchCreate.Installed()) return 4;
  HANDLE answering = CreateThread(nullptr, 0, Answer, nullptr, 0, nullptr);
  if (answering == nullptr) return 6;
  testing_support::ImportHook* failStart = nullptr;
  if (scenario == "start-fails") {
    failStart = new testing_support::ImportHook("msvcrt.dll", "_beginthreadex",
                                                reinterpret_cast<const void*>(&FailingThreadStart));
    if (!failStart->Installed()) return 5;
  }

  dialog = new HostDialog;
  dialog->SetDestinationFolder(argv[1]);
  INT_PTR result = dialog->RunModal();
  Note("result %d", static_cast<int>(result));
  Note("worker-running %d", dialog->workerThread != nullptr ? 1 : 0);
  HANDLE worker = nullptr;
  if (dialog->workerThread != nullptr) {
    DuplicateHandle(GetCurrentProcess(), dialog->workerThread, GetCurrentProcess(), &worker, SYNCHRONIZE, FALSE, 0);
  }
  delete dialog;
  if (worker != nullptr) {
    Note("worker-ended-after-delete %d", WaitForSingleObject(worker, 0) == WAIT_OBJECT_0 ? 1 : 0);
    CloseHandle(worker);
  }

  delete failStart;
  stopAnswering = true;
  WaitForSingleObject(answering, 5000);
  CloseHandle(answering);
  testing_support::CloseHostReport();
  return 0;
}
