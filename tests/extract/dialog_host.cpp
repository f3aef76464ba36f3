// progress_dialog_host DEST REPORT SCENARIO [K]
//
// Runs the real progress dialog (template 101, the real extraction worker)
// against the bundle appended to this program's own file, with DEST as the
// destination folder, and writes what happened to REPORT, one line each.
// Test programs copy this host, append a bundle and run the copy. Nobody is
// ever asked anything: a helper thread finds every message box by its
// caption and presses its button itself.
//
// SCENARIO (see the table below); K is a 1-based entry, acted on while the
// worker opens its file:
//   all          nothing is done to the dialog
//   cancel-ok    the cancel command at entry K; the question is confirmed once
//                the worker waits at the gate, then the command comes again
//   cancel-no    likewise, the question declined
//   close-ok     a close request (WM_CLOSE) instead of the cancel command
//   close-no     likewise, the question declined
//   close-asking the cancel command at entry K; while the question is open a
//                close request follows, then the question is declined
//   fail-asking  the cancel command at entry K; once the question is up,
//                entry K's file cannot be created; the question is declined
//                after the worker's WM_JOB_FINISHED
//   fail-after-stop  the cancel command at entry K, confirmed at once; once
//                the stop has taken effect, entry K's file cannot be created
//   late-cancel  (no K) the cancel command once the worker has waited at the
//                gate after the last entry, before it sets the gate again;
//                confirmed after the worker's WM_JOB_FINISHED
//   close-queued (no K) a close request handled while the all-written
//                WM_JOB_FINISHED is queued; confirmed after that message
//   (late-cancel and close-queued: before the answer the installer's file is
//   held open without delete sharing, as security software holds a file;
//   once the removal that follows has met the hold (its DeleteFileW refused),
//   a message is sent to the dialog, and the hold ends when it is answered;
//   the removal thread is held right after posting its finish, until the
//   dialog's thread begins to wait for it, or ends the dialog)
//   other-ids    commands with ids IDOK, IDCANCEL and 1005
//   end-early    the dialog is ended by Dialog's End, the worker still running;
//                the object is then destroyed
//   start-fails  (no K) the worker thread cannot be created
//   slow         (K is a time in ms) the worker pauses K ms before each entry,
//                so that the dialog can be watched at work (scripts/screenshot.sh)
// Every question answered after WM_JOB_FINISHED, and the one of
// close-asking, is preceded by a close request handled before the answer.
//
// REPORT lines, texts with their line breaks written as "\n":
//   init X Y W H DESKTOPRIGHT DESKTOPBOTTOM     the dialog's rectangle when opened
//   title TEXT / status TEXT / button VISIBLE / range MIN MAX POS
//   bar posted|sent POS                          each PBM_SETPOS after opening
//   box owner|none ok|okcancel TEXT              each message box seen
//   asking TEXT POS                              status and bar just before the answer
//   removal refused ERROR                        the first deletion a hold refused
//   answered 0|1 TEXT                            the dialog answered the message sent while
//                                                the removal met the hold; its status then
//   finish TEXT VISIBLE                          status and button on each OnJobFinished
//   removal-ended 0|1                            at each End after a late stop: whether the
//                                                removal thread had ended
//   end N                                        each End the dialog calls
//   result N / worker-running 0|1 / worker-ended-after-delete 0|1
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "common/entry_table.h"
#include "common/language_index.h"
#include "extract/message_table.h"
#include "extract/progress_dialog.h"
#include "host_report.h"
#include "import_hook.h"
#include "resources/resource_ids.h"

namespace {

using testing_support::Note;

constexpr UINT WM_HOST_END_EARLY = WM_APP + 0x100;
constexpr UINT WM_HOST_HOLD = WM_APP + 0x101;  // the dialog's thread waits until `released`
constexpr UINT WM_HOST_MARK = WM_APP + 0x102;  // sets `handled`: everything posted before it was handled

enum class Moment { None, Entry, LastGate, QueuedFinish };
enum class Request { None, Cancel, Close, OtherIds, EndEarly };
// When the question is answered: once the worker waits at the gate after
// entry K, once the worker's WM_JOB_FINISHED was handled, or at once.
enum class AnswerAt { Gate, Finish, Once };
// When entry K's file cannot be created: never, while the question is open,
// or once the confirmed stop has taken effect.
enum class Failure { None, Asking, AfterStop };

struct Scenario {
  const char* name;
  Moment moment;  // when the request is made
  Request request;
  int answer;  // to the question: IDOK, IDCANCEL, or 0 when none is expected
  Failure failure;
  AnswerAt answerAt;
  bool closeFirst;       // a close request, handled before the answer
  bool holdForRemoval;   // the installer's file is held open from the answer on
};

// One row a scenario, the columns the fields of Scenario (close: closeFirst,
// hold: holdForRemoval).
const Scenario SCENARIOS[] = {
    // name             moment                request            answer    failure             answerAt          close  hold
    {"all",             Moment::None,         Request::None,     0,        Failure::None,      AnswerAt::Gate,   false, false},
    {"cancel-ok",       Moment::Entry,        Request::Cancel,   IDOK,     Failure::None,      AnswerAt::Gate,   false, false},
    {"cancel-no",       Moment::Entry,        Request::Cancel,   IDCANCEL, Failure::None,      AnswerAt::Gate,   false, false},
    {"close-ok",        Moment::Entry,        Request::Close,    IDOK,     Failure::None,      AnswerAt::Gate,   false, false},
    {"close-no",        Moment::Entry,        Request::Close,    IDCANCEL, Failure::None,      AnswerAt::Gate,   false, false},
    {"close-asking",    Moment::Entry,        Request::Cancel,   IDCANCEL, Failure::None,      AnswerAt::Gate,   true,  false},
    {"fail-asking",     Moment::Entry,        Request::Cancel,   IDCANCEL, Failure::Asking,    AnswerAt::Finish, true,  false},
    {"fail-after-stop", Moment::Entry,        Request::Cancel,   IDOK,     Failure::AfterStop, AnswerAt::Once,   false, false},
    {"late-cancel",     Moment::LastGate,     Request::Cancel,   IDOK,     Failure::None,      AnswerAt::Finish, true,  true},
    {"close-queued",    Moment::QueuedFinish, Request::Close,    IDOK,     Failure::None,      AnswerAt::Finish, true,  true},
    {"other-ids",       Moment::Entry,        Request::OtherIds, 0,        Failure::None,      AnswerAt::Gate,   false, false},
    {"end-early",       Moment::Entry,        Request::EndEarly, 0,        Failure::None,      AnswerAt::Gate,   false, false},
    {"start-fails",     Moment::None,         Request::None,     0,        Failure::None,      AnswerAt::Gate,   false, false},
    {"slow",            Moment::None,         Request::None,     0,        Failure::None,      AnswerAt::Gate,   false, false},
};

const Scenario* scenario = nullptr;
bool Is(const char* name) { return strcmp(scenario->name, name) == 0; }

int triggerEntry = -1;  // 1-based
DWORD mainThread = 0;
std::atomic<int> positionsPosted{0};
std::atomic<int> gateWaits{0};  // waits the worker has begun at the gate
std::atomic<bool> finishArrived{false};
std::atomic<bool> stopAnswering{false};

// Every change that a waiter below may wait for is counted here: a window of
// the dialog's thread moved, shown, hidden, destroyed or given a text, a
// position posted, a gate wait begun, a finish handled, the answering told to
// stop. A waiter
// reads the count, tests its condition, and sleeps until the count moves.
std::mutex changeLock;
std::condition_variable changeSignal;
unsigned long changes = 0;

void NoteChange() {
  {
    std::lock_guard<std::mutex> lock(changeLock);
    ++changes;
  }
  changeSignal.notify_all();
}

unsigned long Changes() {
  std::lock_guard<std::mutex> lock(changeLock);
  return changes;
}

// Runs on the dialog's thread after each window procedure there: message
// boxes and the dialog are shown, hidden and destroyed through these.
LRESULT CALLBACK NoteWindowChanges(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const UINT message = reinterpret_cast<const CWPRETSTRUCT*>(lParam)->message;
    if (message == WM_WINDOWPOSCHANGED || message == WM_DESTROY || message == WM_SETTEXT) NoteChange();
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
HANDLE released = nullptr;
HANDLE handled = nullptr;  // auto-reset: the dialog has handled the mark, or ended early
HANDLE gateHandle = nullptr;
HANDLE removalMet = nullptr;  // manual-reset: a deletion was refused by the hold
const JobState* hostedJob = nullptr;
const ProgressDialog* hostedDialog = nullptr;
// A late stop's removal thread, once it has posted its finish; `joined`
// (manual-reset) lets it end: set when the dialog's thread begins to wait
// for it, or ends the dialog.
std::atomic<HANDLE> removalThread{nullptr};
HANDLE joined = nullptr;
HWND dialogWindow = nullptr;
WNDPROC originalBarProc = nullptr;
bool insideFinish = false;
const testing_support::ImportHook* createFileHook = nullptr;
const testing_support::ImportHook* waitHook = nullptr;
const testing_support::ImportHook* postHook = nullptr;
const testing_support::ImportHook* deleteHook = nullptr;
const testing_support::ImportHook* msgWaitHook = nullptr;

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
    // Only OnJobFinished sends, a plain call on this thread, and it dispatches
    // no posted message meanwhile. InSendMessage cannot tell: a posted
    // position dispatched inside a box that a sent WM_CLOSE opened has it true.
    Note("bar %s %d", insideFinish ? "sent" : "posted", static_cast<int>(wParam));
    ++positionsPosted;
    NoteChange();
  }
  return CallWindowProcA(originalBarProc, window, message, wParam, lParam);
}

class HostDialog : public ProgressDialog {
 public:
  BOOL HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
      case WM_HOST_END_EARLY:
        Dialog::End(0);
        SetEvent(handled);
        return TRUE;
      case WM_HOST_HOLD:
        WaitForSingleObject(released, 30000);
        return TRUE;
      case WM_HOST_MARK:
        SetEvent(handled);
        return TRUE;
      default:
        return ProgressDialog::HandleDialogMessage(message, wParam, lParam);
    }
  }

  INT_PTR End(INT_PTR result) override {
    // The removal thread, held since its finish, has ended only if the
    // dialog waited for it.
    const HANDLE removal = removalThread.load();
    if (removal != nullptr) {
      Note("removal-ended %d", WaitForSingleObject(removal, 0) == WAIT_OBJECT_0 ? 1 : 0);
      SetEvent(joined);
    }
    Note("end %d", static_cast<int>(result));
    return ProgressDialog::End(result);
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
        SetWindowLongPtrA(progressBar.Handle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LoggingBarProc)));
    return result;
  }

  int OnJobFinished(UINT message, WPARAM wParam, LPARAM lParam) override {
    Note("finish %s %d", TextOf(statusText.Handle()).c_str(), IsWindowVisible(cancelButton.Handle()) ? 1 : 0);
    insideFinish = true;
    int result = ProgressDialog::OnJobFinished(message, wParam, lParam);
    insideFinish = false;
    finishArrived = true;
    NoteChange();
    return result;
  }
};

// The visible message boxes of this process, by class and caption: other
// copies of the host may run beside this one.
BOOL CALLBACK CollectBox(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char className[16] = "", caption[64] = "";
  GetClassNameA(window, className, sizeof className);
  GetWindowTextA(window, caption, sizeof caption);
  if (process == GetCurrentProcessId() && strcmp(className, "#32770") == 0 &&
      strcmp(caption, GetText(LanguageIndex, TEXT_SETUP_CAPTION)) == 0 && IsWindowVisible(window)) {
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
  }
  return TRUE;
}

std::vector<HWND> Boxes() {
  std::vector<HWND> found;
  EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&found));
  return found;
}

bool IsQuestion(HWND box) { return GetDlgItem(box, IDCANCEL) != nullptr; }

// Tests condition() at once and again at each change; the bound fails only
// a hung run.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const unsigned long seen = Changes();
    if (condition()) return true;
    std::unique_lock<std::mutex> lock(changeLock);
    if (!changeSignal.wait_until(lock, deadline, [seen] { return changes != seen; })) return false;
  }
}

void WaitForQuestion() {
  WaitFor([] {
    for (HWND box : Boxes()) {
      if (IsQuestion(box)) return true;
    }
    return false;
  }, 10000);
}

void Press(HWND box, int id) {
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

void MakeRequest() {
  switch (scenario->request) {
    case Request::Cancel:
      PostMessageA(dialogWindow, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_BUTTON, BN_CLICKED), 0);
      break;
    case Request::Close:
      PostMessageA(dialogWindow, WM_CLOSE, 0, 0);
      break;
    case Request::OtherIds:
      PostMessageA(dialogWindow, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      PostMessageA(dialogWindow, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      PostMessageA(dialogWindow, WM_COMMAND, MAKEWPARAM(IDC_STATUS_TEXT, 0), 0);
      PostMessageA(dialogWindow, WM_HOST_MARK, 0, 0);
      break;
    case Request::EndEarly:
      PostMessageA(dialogWindow, WM_HOST_END_EARLY, 0, 0);
      break;
    case Request::None:
      break;
  }
}

// A close request, then the mark: returns once the dialog has handled both.
void CloseAndWaitUntilHandled() {
  PostMessageA(dialogWindow, WM_CLOSE, 0, 0);
  PostMessageA(dialogWindow, WM_HOST_MARK, 0, 0);
  WaitForSingleObject(handled, 30000);
}

bool ReadyToAnswer() {
  switch (scenario->answerAt) {
    case AnswerAt::Finish: return finishArrived;
    case AnswerAt::Once: return true;
    case AnswerAt::Gate: break;
  }
  return gateWaits >= triggerEntry && positionsPosted >= triggerEntry;
}

// The text of a window of the dialog's thread, read without a message to
// that thread, which may be busy.
std::string TextWithoutMessage(HWND window) {
  wchar_t wide[512] = L"";
  InternalGetWindowText(window, wide, 512);
  char text[1024] = "";
  WideCharToMultiByte(932, 0, wide, -1, text, sizeof text, nullptr, nullptr);
  return OneLine(text);
}

// Once the removal after the answer has met held (a deletion refused), a
// message is sent to the dialog: it must be answered while the removal still
// meets the hold. Then the hold ends, and the removal can finish.
void AnswerWhileHeld(HANDLE held) {
  const bool met = WaitForSingleObject(removalMet, 30000) == WAIT_OBJECT_0;
  DWORD_PTR ignored = 0;
  // The bound only ends a hung run; a dialog thread that does the removal
  // itself answers only once it has given up on the held file.
  const bool answered =
      met && SendMessageTimeoutA(dialogWindow, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored) != 0;
  Note("answered %d %s", answered ? 1 : 0, TextWithoutMessage(GetDlgItem(dialogWindow, IDC_STATUS_TEXT)).c_str());
  CloseHandle(held);
}

// Notes every box once, presses OK on each error box at once, and answers
// the question when the scenario says so (any other question is declined).
DWORD WINAPI Answer(void*) {
  std::vector<HWND> noted;
  while (!stopAnswering) {
    const unsigned long seen = Changes();
    for (HWND box : Boxes()) {
      if (!IsWindowVisible(box)) continue;  // closed since Boxes() looked
      const bool question = IsQuestion(box);
      if (std::find(noted.begin(), noted.end(), box) == noted.end()) {
        noted.push_back(box);
        char text[512] = "";
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        HWND owner = GetWindow(box, GW_OWNER);
        Note("box %s %s %s", owner == nullptr ? "none" : owner == dialogWindow ? "dialog" : "other",
             question ? "okcancel" : "ok", OneLine(text).c_str());
      }
      if (!question) {
        Press(box, IDOK);
      } else if (scenario->answer == 0) {
        Press(box, IDCANCEL);
      } else if (ReadyToAnswer()) {
        if (scenario->closeFirst) CloseAndWaitUntilHandled();
        HWND status = GetDlgItem(dialogWindow, IDC_STATUS_TEXT);
        Note("asking %s %d", TextOf(status).c_str(), BarPosition(GetDlgItem(dialogWindow, IDC_PROGRESS_BAR)));
        // As security software holds a file: the worker has ended, the
        // installer is written and closed.
        HANDLE held = INVALID_HANDLE_VALUE;
        if (scenario->holdForRemoval) {
          held = CreateFileA(hostedJob->ownFolders.Paths().Entry(0), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
          if (held == INVALID_HANDLE_VALUE) Note("hold-failed %lu", GetLastError());
        }
        Press(box, scenario->answer);
        // Hidden by its end: its loop takes no message after that one.
        WaitFor([box] { return !IsWindowVisible(box); }, 5000);
        // A confirmed stop is asked for once only.
        if (scenario->answer == IDOK) MakeRequest();
        if (held != INVALID_HANDLE_VALUE) AnswerWhileHeld(held);
      }
    }
    WaitFor([seen] { return Changes() != seen; }, 60000);
  }
  return 0;
}

bool OnWorker() { return GetCurrentThreadId() != mainThread; }

HANDLE WINAPI WatchingCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE templateFile) {
  if (Is("slow") && OnWorker() && (access & GENERIC_WRITE)) {
    Sleep(static_cast<DWORD>(triggerEntry));  // the pause is the scenario: a dialog slow enough to watch
  } else if (scenario->moment == Moment::Entry && OnWorker() && (access & GENERIC_WRITE)) {
    const char* fileName = strrchr(name, '\\');
    if (fileName != nullptr && strcmp(fileName + 1, EntryTable[triggerEntry - 1].fileName) == 0) {
      MakeRequest();
      if (scenario->failure == Failure::AfterStop) {
        // The question came and was confirmed: the dialog has marked the job
        // cancelled (its status text changes right after).
        WaitFor([] { return hostedJob->cancelled.load(); }, 30000);
      } else if (scenario->answer != 0) {
        // The question is up, so the gate is closed before this entry ends.
        WaitForQuestion();
      } else {
        // The worker goes on only once the dialog has handled the request.
        WaitForSingleObject(handled, 30000);
      }
      if (scenario->failure != Failure::None) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
    }
  }
  return createFileHook->Original<decltype(&CreateFileA)>()(name, access, share, security, disposition, flags,
                                                             templateFile);
}

DWORD WINAPI WatchingWaitForSingleObject(HANDLE object, DWORD timeoutMs) {
  const bool gate = OnWorker() && object == gateHandle;
  if (gate) {
    ++gateWaits;
    NoteChange();
  }
  const DWORD result = waitHook->Original<decltype(&WaitForSingleObject)>()(object, timeoutMs);
  if (gate && gateWaits == ENTRY_COUNT && scenario->moment == Moment::LastGate) {
    // Between the worker's wait and its set: the question's reset falls here.
    MakeRequest();
    WaitForQuestion();
  }
  return result;
}

BOOL WINAPI WatchingPostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto post = postHook->Original<decltype(&PostMessageA)>();
  if (message == WM_JOB_FINISHED && wParam == 1 && scenario->holdForRemoval) {
    // The late stop's removal thread (the worker posted the all-written
    // finish): its last act, after which it must still be waited for.
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, SYNCHRONIZE, FALSE, 0);
    removalThread = self;
    const BOOL posted = post(window, message, wParam, lParam);
    WaitForSingleObject(joined, 30000);
    return posted;
  }
  if (message != WM_JOB_FINISHED || wParam != 0 || scenario->moment != Moment::QueuedFinish) {
    return post(window, message, wParam, lParam);
  }
  // The dialog's thread is held while the finish is queued and a close is
  // sent behind it; sent messages are handled before posted ones.
  post(window, WM_HOST_HOLD, 0, 0);
  const BOOL posted = post(window, message, wParam, lParam);
  SendNotifyMessageA(window, WM_CLOSE, 0, 0);
  SetEvent(released);
  return posted;
}

// Notes the first deletion that a hold refused, and tells AnswerWhileHeld.
BOOL WINAPI WatchingDeleteFileW(LPCWSTR path) {
  const BOOL deleted = deleteHook->Original<decltype(&DeleteFileW)>()(path);
  const DWORD error = GetLastError();
  if (!deleted && WaitForSingleObject(removalMet, 0) == WAIT_TIMEOUT) {
    Note("removal refused %lu", error);
    SetEvent(removalMet);
  }
  SetLastError(error);
  return deleted;
}

// The dialog's thread waits for the thread it started: noted once it is the
// removal thread's turn.
DWORD WINAPI WatchingMsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL all, DWORD timeoutMs,
                                               DWORD wakeMask) {
  if (!OnWorker() && removalThread.load() != nullptr && count == 1 && handles[0] == hostedDialog->workerThread.Get()) {
    SetEvent(joined);
  }
  return msgWaitHook->Original<decltype(&MsgWaitForMultipleObjects)>()(count, handles, all, timeoutMs, wakeMask);
}

uintptr_t __cdecl FailingThreadStart(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*) {
  errno = EAGAIN;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  if (!testing_support::OpenHostReport(argv[2])) return 3;
  for (const Scenario& known : SCENARIOS) {
    if (strcmp(known.name, argv[3]) == 0) scenario = &known;
  }
  if (scenario == nullptr) return 7;
  if (argc > 4) triggerEntry = atoi(argv[4]);
  mainThread = GetCurrentThreadId();
  released = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  handled = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  removalMet = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  joined = CreateEventA(nullptr, TRUE, FALSE, nullptr);

  testing_support::ImportHook watchCreate("KERNEL32.dll", "CreateFileA",
                                          reinterpret_cast<const void*>(&WatchingCreateFileA));
  testing_support::ImportHook watchWait("KERNEL32.dll", "WaitForSingleObject",
                                        reinterpret_cast<const void*>(&WatchingWaitForSingleObject));
  testing_support::ImportHook watchPost("USER32.dll", "PostMessageA",
                                        reinterpret_cast<const void*>(&WatchingPostMessageA));
  testing_support::ImportHook watchDelete("KERNEL32.dll", "DeleteFileW",
                                          reinterpret_cast<const void*>(&WatchingDeleteFileW));
  testing_support::ImportHook watchMsgWait("USER32.dll", "MsgWaitForMultipleObjects",
                                           reinterpret_cast<const void*>(&WatchingMsgWaitForMultipleObjects));
  createFileHook = &watchCreate;
  waitHook = &watchWait;
  postHook = &watchPost;
  deleteHook = &watchDelete;
  msgWaitHook = &watchMsgWait;
  if (!watchCreate.Installed() || !watchWait.Installed() || !watchPost.Installed() || !watchDelete.Installed() ||
      !watchMsgWait.Installed()) {
    return 4;
  }
  testing_support::ImportHook* failStart = nullptr;
  if (Is("start-fails")) {
    failStart = new testing_support::ImportHook("msvcrt.dll", "_beginthreadex",
                                                reinterpret_cast<const void*>(&FailingThreadStart));
    if (!failStart->Installed()) return 5;
  }

  if (SetWindowsHookExA(WH_CALLWNDPROCRET, NoteWindowChanges, nullptr, mainThread) == nullptr) return 8;
  HostDialog* dialog = new HostDialog;
  gateHandle = dialog->job.gate.Handle();
  hostedJob = &dialog->job;
  hostedDialog = dialog;
  dialog->SetDestinationFolder(argv[1]);
  HANDLE answering = CreateThread(nullptr, 0, Answer, nullptr, 0, nullptr);
  if (answering == nullptr) return 6;
  INT_PTR result = dialog->RunModal();
  Note("result %d", static_cast<int>(result));
  Note("worker-running %d", dialog->workerThread.IsValid() ? 1 : 0);
  HANDLE worker = nullptr;
  if (dialog->workerThread.IsValid()) {
    DuplicateHandle(GetCurrentProcess(), dialog->workerThread.Get(), GetCurrentProcess(), &worker, SYNCHRONIZE, FALSE, 0);
  }
  delete dialog;
  if (worker != nullptr) {
    Note("worker-ended-after-delete %d", WaitForSingleObject(worker, 0) == WAIT_OBJECT_0 ? 1 : 0);
    CloseHandle(worker);
  }

  delete failStart;
  stopAnswering = true;
  NoteChange();
  WaitForSingleObject(answering, 5000);
  CloseHandle(answering);
  testing_support::CloseHostReport();
  return 0;
}
