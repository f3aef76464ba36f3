#include "extract/progress_dialog.h"

#include <commctrl.h>

#include <cassert>
#include <cstring>

#include "common/dll_search.h"
#include "common/language_index.h"
#include "extract/destination_folder.h"
#include "extract/error_box.h"
#include "extract/message_table.h"
#include "resources/resource_ids.h"
#include "ui/cp932_text.h"

namespace {

const char* UiText(int32_t id) { return GetText(LanguageIndex, id); }

// Waits for a thread to end while delivering the messages other threads send
// to this thread's windows. The worker reports with SendMessageA, so a plain
// wait on the dialog's thread would hold a worker that is still reporting,
// and with it this thread, for ever. Posted messages stay queued.
void WaitDeliveringSentMessages(HANDLE thread) {
  for (;;) {
    DWORD result = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
    if (result != WAIT_OBJECT_0 + 1) return;  // ended, or the wait itself failed
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

// The progress control's class must exist before the template is
// instantiated, else the dialog cannot be created at all. The common
// controls library is not imported but loaded from the system folder (see
// common/dll_search.h) and stays loaded with its class.
void RegisterProgressClass() {
  using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  HMODULE library = LoadSystemLibrary("comctl32.dll");
  if (library == nullptr) return;
  const auto init =
      reinterpret_cast<InitFunction>(reinterpret_cast<void*>(GetProcAddress(library, "InitCommonControlsEx")));
  if (init == nullptr) return;
  INITCOMMONCONTROLSEX controls;
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_PROGRESS_CLASS;
  init(&controls);
}

}  // namespace

DialogControl::~DialogControl() {
  if (graphicsObject != nullptr) DeleteObject(graphicsObject);
}

bool DialogControl::Bind(HWND dialog) {
  window = GetDlgItem(dialog, id);
  return window != nullptr;
}

ProgressDialog::ProgressDialog()
    : statusText(IDC_STATUS_TEXT),
      progressBar(IDC_PROGRESS_BAR),
      cancelButton(IDC_CANCEL_BUTTON),
      progressPosition(0),
      workerThreadId(0),
      progressMax(10),
      progressMin(0),
      progressStep(1) {
  SetTemplate(MAKEINTRESOURCEA(IDD_PROGRESS), nullptr);
  RegisterProgressClass();
}

ProgressDialog::~ProgressDialog() {
  // Only a dialog ended some other way than by the worker's last message can
  // get here with the worker alive: stop it as if the user had confirmed a
  // cancel, and let it finish its removal before the job state goes.
  if (workerThread.IsValid()) {
    job.cancelled = true;
    job.gate.Set();
    JoinWorker();
  }
}

void ProgressDialog::JoinWorker() {
  if (!workerThread.IsValid()) return;
  WaitDeliveringSentMessages(workerThread.Get());
  workerThread.Close();
  workerThreadId = 0;
}

void ProgressDialog::SetDestinationFolder(const char* path) { SetJobDestination(job, path); }

size_t ProgressDialog::GetDestinationFolder(char* buffer, size_t capacity) const {
  const size_t length = strlen(job.destinationFolder);
  if (length < capacity) memcpy(buffer, job.destinationFolder, length + 1);
  return length;
}

BOOL ProgressDialog::HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  int result;
  switch (message) {
    case WM_INITDIALOG:
      result = OnInitDialog(message, wParam, lParam);
      break;
    case WM_COMMAND:
      result = OnCommand(message, wParam, lParam);
      break;
    case WM_JOB_STEP:
      result = OnJobStep(message, wParam, lParam);
      break;
    case WM_JOB_STEP_BACK:
      result = OnJobStepBack(message, wParam, lParam);
      break;
    case WM_JOB_FINISHED:
      result = OnJobFinished(message, wParam, lParam);
      break;
    case WM_JOB_FAILED:
      // The job stops whatever the user does from here on: a stop request
      // while the error box is up, or after it, asks nothing.
      job.cancelled = true;
      ++openBoxes;
      result = OnJobFailed(message, wParam, lParam);
      BoxAnswered();
      break;
    case WM_CLOSE:
      // Dialog's own handling would end the dialog under a running worker.
      AskToStop();
      return TRUE;
    default:
      return Dialog::HandleDialogMessage(message, wParam, lParam);
  }
  return result != 0 ? TRUE : FALSE;
}

int ProgressDialog::OnInitDialog(UINT, WPARAM, LPARAM) {
  RefreshRect();
  CenterOnDesktop();
  BindControls();
  if (windowHandle != nullptr) SetWindowTextCp932(windowHandle, UiText(TEXT_DIALOG_TITLE));
  job.window = windowHandle;
  job.gate.Set();
  job.cancelled = false;
  workerThread = StartExtraction(job, &workerThreadId);
  if (!workerThread.IsValid()) {
    ShowErrorBox(ERROR_TEXT_START_FAILED);
    End(0);
  }
  return 0;
}

int ProgressDialog::OnCommand(UINT, WPARAM wParam, LPARAM) {
  if (LOWORD(wParam) == IDC_CANCEL_BUTTON) AskToStop();
  return 0;
}

void ProgressDialog::AskToStop() {
  // One question at a time, and none once the job is stopping or the worker
  // has ended: the answer could change nothing then.
  if (job.cancelled || openBoxes > 0 || !workerThread.IsValid()) return;
  // Hold the worker at its next entry boundary while the user decides.
  job.gate.Reset();
  ++openBoxes;
  int answer = MessageBoxCp932(windowHandle, UiText(TEXT_CANCEL_QUESTION), UiText(TEXT_SETUP_CAPTION), MB_OKCANCEL);
  if (answer != IDCANCEL) MarkCancelled();  // IDOK, or no box at all
  job.gate.Set();
  BoxAnswered();
}

void ProgressDialog::BoxAnswered() {
  assert(openBoxes > 0);
  --openBoxes;
  if (openBoxes == 0 && finishPending) {
    finishPending = false;
    OnJobFinished(WM_JOB_FINISHED, 0, 0);
  }
}

int ProgressDialog::OnJobStep(UINT, WPARAM, LPARAM) {
  assert(progressMin <= progressMax);
  // Clamped at the maximum, so a step larger than what is left cannot carry
  // the position past it.
  if (progressPosition < progressMax) {
    progressPosition = progressMax - progressPosition < progressStep ? progressMax : progressPosition + progressStep;
  }
  if (progressBar.Handle() != nullptr) PostMessageA(progressBar.Handle(), PBM_SETPOS, progressPosition, 0);
  return 0;
}

int ProgressDialog::OnJobStepBack(UINT, WPARAM wParam, LPARAM) {
  assert(progressMin <= progressMax);
  if (wParam == 1) {
    progressPosition = progressMin;
  } else if (progressPosition > progressMin) {
    // Clamped at the minimum: an unsigned subtraction must not wrap.
    progressPosition = progressPosition - progressMin < progressStep ? progressMin : progressPosition - progressStep;
  }
  if (progressBar.Handle() != nullptr) PostMessageA(progressBar.Handle(), PBM_SETPOS, progressPosition, 0);
  return 0;
}

int ProgressDialog::OnJobFinished(UINT, WPARAM, LPARAM) {
  if (cancelButton.Handle() != nullptr) ShowWindow(cancelButton.Handle(), SW_HIDE);
  // The worker, or R, posts this message as its last act, so it ends at once.
  JoinWorker();
  // Arrived inside a box's message loop: ending now would leave the box on
  // screen over an ended dialog, and its answer would act on nothing. The
  // box's handler comes back here once the answer took effect.
  if (openBoxes > 0) {
    finishPending = true;
    return 0;
  }
  // A late stop: the worker ended with every entry written and recorded.
  // Deleting them here could take the whole retry budget, with this thread
  // taking no message meanwhile (Windows draws such a window "Not
  // Responding"); R deletes them instead and its finish comes back here.
  // Should R not start, the files go here all the same.
  if (job.cancelled && job.writtenRows != 0) {
    workerThread = StartRemoval(job, &workerThreadId);
    if (workerThread.IsValid()) return 0;
    DeleteWrittenFiles(job);
  }
  // A stopped job leaves none of its files behind.
  assert(!job.cancelled || job.writtenRows == 0);
  if (progressBar.Handle() != nullptr) {
    SendMessageA(progressBar.Handle(), PBM_SETPOS, job.cancelled ? progressMin : progressMax, 0);
  }
  Sleep(500);  // the final position stays on screen for a moment
  End(job.cancelled ? 0 : 1);
  return 0;
}

int ProgressDialog::OnJobFailed(UINT, WPARAM wParam, LPARAM) {
  // After a confirmed stop the user knows the job stops; a failure of the
  // entry that was being written meanwhile changes nothing for them.
  if (!stopConfirmed) {
    const JobFailure failure = JobFailure(wParam);
    ShowErrorBox(failure == JobFailure::DiskFull   ? ERROR_TEXT_DISK_FULL
                 : failure == JobFailure::Damaged  ? ERROR_TEXT_DAMAGED
                 : failure == JobFailure::NoFolder ? ERROR_TEXT_NO_FOLDER
                                                   : ERROR_TEXT_INSTALL_FAILED);
  }
  job.gate.Set();
  if (cancelButton.Handle() != nullptr) ShowWindow(cancelButton.Handle(), SW_HIDE);
  if (statusText.Handle() != nullptr) SetWindowTextCp932(statusText.Handle(), UiText(TEXT_REMOVING));
  return 0;
}

void ProgressDialog::MarkCancelled() {
  stopConfirmed = true;
  job.cancelled = true;
  if (cancelButton.Handle() != nullptr) ShowWindow(cancelButton.Handle(), SW_HIDE);
  if (statusText.Handle() != nullptr) SetWindowTextCp932(statusText.Handle(), UiText(TEXT_REMOVING));
}

// The cancel button keeps the hidden state the template gives it: the
// template lays it over the right end of the bar, which it would cover. The
// cancel command is handled all the same, whoever sends it.
void ProgressDialog::BindControls() {
  cancelButton.Bind(windowHandle);
  statusText.Bind(windowHandle);
  progressBar.Bind(windowHandle);
  if (cancelButton.Handle() != nullptr) SetWindowTextCp932(cancelButton.Handle(), UiText(TEXT_CANCEL_BUTTON));
  if (statusText.Handle() != nullptr) SetWindowTextCp932(statusText.Handle(), UiText(TEXT_PREPARING));
  if (windowHandle != nullptr) {
    PostMessageA(windowHandle, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(cancelButton.Handle()), TRUE);
  }
  ResetProgressBar();
}

void ProgressDialog::ResetProgressBar() {
  HWND bar = progressBar.Handle();
  if (bar != nullptr) {
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(progressMin, progressMax));
    SendMessageA(bar, PBM_SETSTEP, progressStep, 0);
    SendMessageA(bar, PBM_SETPOS, 0, 0);
  }
  progressPosition = 0;
}
