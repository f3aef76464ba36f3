// ProgressDialog: the launcher's only window. Run modally, it starts the
// extraction worker when it opens, moves its bar one step per written entry,
// asks before cancelling, reports a failed write, and ends itself once the
// worker has ended: 1 when every entry was written, 0 when the job was
// cancelled or failed (or the worker could not start), -1 from RunModal when
// the dialog itself could not open.
//
// The object is also the extraction job's context (extract/extraction_job.h):
// the members under "Shared with the worker" are the only state the two
// threads share, each with the access rule noted beside it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "launcher/paths.h"
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

  // Routes the six messages below to their handlers. A close request while
  // the worker runs is taken as a confirmed cancel, without a question: the
  // dialog then ends on the worker's WM_JOB_FINISHED like any stopped job.
  // Any other close request, and every other message, goes to Dialog.
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
  // result is a drive root (3 bytes or shorter).
  void SetDestinationFolder(const char* path);
  // Copies destinationFolder into buffer when its length is below capacity;
  // returns its length in either case.
  size_t GetDestinationFolder(char* buffer, size_t capacity) const;

  // The job is to stop and remove what it wrote: sets cancelled, hides the
  // cancel button, shows status text 25. Called on either thread.
  void MarkCancelled();
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
  // Only ever goes from false to true while the worker runs; the worker
  // reads it after passing the gate.
  std::atomic<bool> cancelled;
  // Full paths of the files the worker wrote or tried to write, owned heap
  // strings made with new char[] and freed with delete[]; touched by the
  // worker only while it runs, freed with the object.
  std::vector<char*> writtenFiles;

  uint32_t progressMax;
  uint32_t progressMin;
  uint32_t progressStep;
  // Auto-reset; the worker passes it (Wait, then Set) after each entry, the
  // dialog holds it closed while it asks whether to cancel.
  EventObject gate;
};
