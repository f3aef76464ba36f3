// ProgressDialog: the launcher's only window. Run modally, it starts the
// extraction worker when it opens, moves its bar one step per written entry,
// asks before stopping, reports a failed write, and ends itself once the
// worker has ended: 1 when every entry was written, 0 when the job was
// stopped or failed (or the worker could not start), -1 from RunModal when
// the dialog itself could not open.
//
// The object is also the extraction job's context (extract/extraction_job.h):
// the members under "Shared with the worker" are the only state the two
// threads share, each with the access rule noted beside it.
//
// Protocol. D is the dialog's thread, W the worker. A box (the question, an
// error box) runs a message loop inside its handler, in which W's messages
// keep arriving; an error box can open inside the question's loop.
//
//   State      Holds while                        D may                W may
//   Writing    W runs, cancelled false, no box    ask                  write, send, pass the gate
//   Asking     the question is open, gate reset   show an error box    end its entry, then wait at the
//                                                                      gate (pass it when the reset fell
//                                                                      between its wait and its set)
//   Reporting  an error box is open               -                    wait in its WM_JOB_FAILED send
//   Stopping   cancelled true, W runs             -                    pass the gate, delete, post the finish
//   Pending    W has ended, a box is still open   wait for the answer  -
//   Finishing  W has ended, no box open           remove what W left   -
//                                                 after a stop; end
//
//   Message                     Effect
//   cancel command, WM_CLOSE    Writing: ask (Asking). Any other state: nothing.
//   other commands (IDOK, ...)  nothing, in every state.
//   the question's answer       IDOK, or no box shown: MarkCancelled. Then the gate is set
//                               and, with no box left, Pending goes on to Finishing.
//   WM_JOB_FAILED               cancelled = true; the error box (Reporting, nested in Asking
//                               when the question is open); then the gate is set.
//   WM_JOB_FINISHED             waits for W to end; Pending while a box is open, else Finishing.
//
// Finishing with cancelled true and paths still in writtenFiles means the
// stop was confirmed after W last looked at cancelled, with every entry
// written: D deletes them itself, so a confirmed stop always removes the
// job's files (the installer among them) and the dialog ends with 0. The
// dialog never ends while a box of its own is open.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "common/paths.h"
#include "extract/own_folders.h"
#include "ui/dialog.h"
#include "ui/sync.h"

// Private messages from the worker to the dialog; lParam is always 0.
constexpr UINT WM_JOB_STEP = WM_APP + 1;       // sent: one entry written
constexpr UINT WM_JOB_STEP_BACK = WM_APP + 2;  // sent: one written file removed (wParam 1: to the minimum)
constexpr UINT WM_JOB_FINISHED = WM_APP + 4;   // posted, the worker's last act (wParam 1 stopped, 0 all written)
constexpr UINT WM_JOB_FAILED = WM_APP + 5;     // sent: an entry failed (wParam a JobFailure, extraction_job.h)

// One control of a dialog: its id, its handle, and a GDI object it may own.
class DialogControl {
 public:
  explicit DialogControl(int32_t id) : id(id) {}
  virtual ~DialogControl();  // deletes the owned GDI object, if any
  DialogControl(const DialogControl&) = delete;
  DialogControl& operator=(const DialogControl&) = delete;

  virtual bool Bind(HWND dialog);  // GetDlgItem; true when found

  HWND Handle() const { return window; }
  int32_t Id() const { return id; }

 private:
  HGDIOBJ graphicsObject = nullptr;
  HWND window = nullptr;
  int32_t id;
};

class ProgressDialog : public Dialog {
 public:
  // Template 101, no owner; creates the gate (not signalled). Also registers
  // the progress control's class, without which the template cannot be
  // instantiated: constructing the dialog is all RunModal needs beforehand.
  ProgressDialog();
  // Frees writtenFiles, closes the gate, destroys the controls, then the
  // Dialog part. A worker still running is stopped and waited for first, so
  // it never outlives the object it works on.
  ~ProgressDialog() override;

  // Routes the six messages below to their handlers, and WM_CLOSE to the
  // question the cancel command asks; every other message goes to Dialog.
  BOOL HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  // Virtual operations added after Dialog's, in this slot order; each returns 0.
  virtual int OnInitDialog(UINT message, WPARAM wParam, LPARAM lParam);
  virtual int OnCommand(UINT message, WPARAM wParam, LPARAM lParam);
  virtual int OnJobStep(UINT message, WPARAM wParam, LPARAM lParam);
  virtual int OnJobStepBack(UINT message, WPARAM wParam, LPARAM lParam);
  virtual int OnJobFinished(UINT message, WPARAM wParam, LPARAM lParam);
  virtual int OnJobFailed(UINT message, WPARAM wParam, LPARAM lParam);

  // Fixes destinationFolder from a folder by the drive-root rule: copied
  // (bounded), a backslash appended, and "ZEPHRAQUEST_DEMO_B\" added when the
  // result is a drive root (3 bytes or shorter). ownFolders follows it.
  void SetDestinationFolder(const char* path);
  // Copies destinationFolder into buffer when its length is below capacity;
  // returns its length in either case.
  size_t GetDestinationFolder(char* buffer, size_t capacity) const;

  // The job is to stop and remove what it wrote: sets cancelled, hides the
  // cancel button, shows status text 25. Called on either thread.
  void MarkCancelled();
  // A stop request (the cancel command, a close): asks whether to stop while
  // holding the worker at its next entry boundary. Nothing is asked while
  // the question or an error box is open, after a confirmed stop or a
  // failure, or once the worker has ended.
  void AskToStop();
  void BindControls();
  void ResetProgressBar();

  // ---- Controls and bar state: dialog thread only.
  DialogControl statusText;
  DialogControl progressBar;
  DialogControl cancelButton;
  uint32_t progressPosition;

  // ---- Shared with the worker.
  // Fixed before RunModal; only read while the worker runs.
  char destinationFolder[PATH_CAPACITY];
  // Set by StartExtraction; closed and cleared by the dialog once the worker
  // has ended.
  HANDLE workerThread;
  uint32_t workerThreadId;
  // Only ever goes from false to true: on a confirmed stop (possibly after
  // the worker has ended) and on a failed entry. The worker reads it after
  // passing the gate.
  std::atomic<bool> cancelled;
  // Full paths of the files the worker wrote or tried to write, owned heap
  // strings made with new char[] and freed with delete[]; touched by the
  // worker only while it runs, afterwards by the dialog (Finishing), freed
  // with the object.
  std::vector<char*> writtenFiles;
  // The launcher's own folders under destinationFolder: made afresh and held
  // by the worker's first row, held until the launcher's removal (after the
  // dialog has ended) removes them through their holds. The worker's while it
  // runs, afterwards the dialog's thread's.
  OwnFolders ownFolders;

  uint32_t progressMax;
  uint32_t progressMin;
  uint32_t progressStep;
  // Auto-reset; the worker passes it (Wait, then Set) after each entry, the
  // dialog holds it closed while it asks whether to cancel.
  EventObject gate;

 private:
  // Ends a handler that showed a box, once its answer took effect: with no
  // box left open, a finish that arrived meanwhile is completed.
  void BoxAnswered();

  // Dialog thread only.
  uint32_t openBoxes = 0;      // the question and error boxes now open
  bool finishPending = false;  // WM_JOB_FINISHED arrived while a box was open
};
