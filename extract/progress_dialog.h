// ProgressDialog: the launcher's only window. Run modally, it starts the
// extraction worker when it opens, moves its bar one step per written entry,
// asks before stopping, reports a failed write, and ends itself once the
// worker has ended: 1 when every entry was written, 0 when the job was
// stopped or failed (or the worker could not start), -1 from RunModal when
// the dialog itself could not open.
//
// What the dialog shares with the extraction worker is its member job, a
// JobState (extract/extraction_job.h): the only state the two threads share,
// each field with the thread that writes it noted beside it. The worker's
// thread is the dialog's own to start and to wait for.
//
// Protocol. D is the dialog's thread, W the worker, R the removal thread
// D starts after a late stop. A box (the question, an error box) runs a
// message loop inside its handler, in which W's messages keep arriving; an
// error box can open inside the question's loop.
//
//   State      Holds while                        D may                W (or R) may
//   Writing    W runs, cancelled false, no box    ask                  write, send, pass the gate
//   Asking     the question is open, gate reset   show an error box    end its entry, then wait at the
//                                                                      gate (pass it when the reset fell
//                                                                      between its wait and its set)
//   Reporting  an error box is open               -                    wait in its WM_JOB_FAILED send
//   Stopping   cancelled true, W runs             -                    pass the gate, delete, post the finish
//   Pending    W has ended, a box is still open   wait for the answer  -
//   Removing   R runs (a late stop)               answer, show text 25 R: delete, post the finish
//   Finishing  W (and R) ended, no box open       end                  -
//
//   Message                     Effect
//   cancel command, WM_CLOSE    Writing: ask (Asking). Any other state: nothing.
//   other commands (IDOK, ...)  nothing, in every state.
//   the question's answer       IDOK, or no box shown: MarkCancelled (a confirmed stop). Then
//                               the gate is set and, with no box left, Pending goes on.
//   WM_JOB_FAILED               cancelled = true; the error box (Reporting, nested in Asking
//                               when the question is open), unless the user has confirmed a
//                               stop: they know the job stops; then the gate is set.
//   WM_JOB_FINISHED             waits for W (or R) to end; Pending while a box is open, else
//                               Removing after a late stop, else Finishing.
//
// (cancelled, writtenRows and the gate are the fields of job.)
// A late stop is one confirmed after W last looked at cancelled, with every
// entry written: cancelled true and rows still in writtenRows once W has
// ended. D then has R delete them, as W would have, while D itself keeps
// taking messages (its window stays drawn and answers) and shows text 25.
// So a confirmed stop always removes the job's files (the installer among
// them) and the dialog ends with 0. The dialog never ends while a box of its
// own is open.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/handle.h"
#include "extract/extraction_job.h"
#include "ui/dialog.h"

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
  // Destroys the job state, the controls, then the Dialog part. A worker
  // still running is stopped and waited for first, so it never outlives the
  // state it works on.
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

  // Fixes job.destinationFolder from a folder by the drive-root rule
  // (extract/destination_folder.h); job.ownFolders follows it.
  void SetDestinationFolder(const char* path);
  // Copies job.destinationFolder into buffer when its length is below
  // capacity; returns its length in either case.
  size_t GetDestinationFolder(char* buffer, size_t capacity) const;

  // The user confirmed a stop: the job is to stop and remove what it wrote.
  // Sets job.cancelled, hides the cancel button, shows status text 25. Dialog
  // thread only (a failed entry sets job.cancelled on the worker, and
  // OnJobFailed does the rest).
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

  // ---- Shared with the worker, and the worker itself.
  JobState job;
  // Started by OnInitDialog (and R by OnJobFinished after a late stop);
  // waited for and closed once, by JoinWorker.
  KernelHandle workerThread;
  uint32_t workerThreadId;

  uint32_t progressMax;
  uint32_t progressMin;
  uint32_t progressStep;

 private:
  // Waits for the worker to end (delivering what it sends meanwhile), then
  // closes its handle; nothing when none runs.
  void JoinWorker();
  // Ends a handler that showed a box, once its answer took effect: with no
  // box left open, a finish that arrived meanwhile is completed.
  void BoxAnswered();

  // Dialog thread only.
  uint32_t openBoxes = 0;      // the question and error boxes now open
  bool finishPending = false;  // WM_JOB_FINISHED arrived while a box was open
  bool stopConfirmed = false;  // the user confirmed a stop (MarkCancelled)
};
