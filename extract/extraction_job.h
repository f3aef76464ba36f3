// The extraction job: the worker thread that writes the bundle's entries
// under the destination folder, walking EntryTable row by row, and reports to
// a window (the progress dialog) with the private WM_JOB_* messages below.
// It stops at the first failed entry or at the first
// entry boundary after a confirmed cancel, then deletes what it wrote; a
// cancel confirmed after its last boundary is the dialog's to honour.
//
// The steps of one row, which extraction_job.cpp cites by number:
//   1. the terminating row (empty name and prefix): post WM_JOB_FINISHED(0)
//      and end;
//   2. a row without ENTRY_EXTRACT is skipped;
//   3. the row's file path is taken from those the own folders built once
//      (DestinationPaths::Entry), its folder from it;
//   4. the first row makes the launcher's own folders afresh and holds them
//      (extract/own_folders.h);
//   5. the row is recorded in writtenRows before anything is written, so
//      that a partly written file is removed with the rest;
//   6. the row's folder is made (CreateFolderPath) and the entry written by
//      the route its flags choose;
//   7. written: send WM_JOB_STEP; failed: send WM_JOB_FAILED with the text to
//      show (FailureOf) and mark the job cancelled;
//   8. pass the gate (wait, then set it again);
//   9. cancelled: delete what was written, post WM_JOB_FINISHED(1) and end;
//      else the next row.
// A row that fails at step 3, 4 or 5 has nothing made or written for it.
//
// A stop confirmed after the worker's last look at `cancelled` finds every
// row written and the worker ended: the dialog then starts a removal thread
// (StartRemoval), which deletes what was written as step 9 does and posts
// WM_JOB_FINISHED(1) in its turn, while the dialog keeps answering.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "common/entry_table.h"
#include "common/fault_result.h"
#include "common/handle.h"
#include "common/paths.h"
#include "extract/own_folders.h"
#include "ui/sync.h"

static_assert(ENTRY_COUNT <= 32, "writtenRows has a bit for every row");

// Private messages from the worker to its window; lParam is always 0.
constexpr UINT WM_JOB_STEP = WM_APP + 1;       // sent: one entry written
constexpr UINT WM_JOB_STEP_BACK = WM_APP + 2;  // sent: one written file removed (wParam 1: to the minimum)
constexpr UINT WM_JOB_FINISHED = WM_APP + 4;   // posted, the worker's last act (wParam 1 stopped, 0 all written)
constexpr UINT WM_JOB_FAILED = WM_APP + 5;     // sent: an entry failed (wParam a JobFailure)

// What the worker shares with the window that started it: the only state the
// two threads share. The progress dialog holds one (ProgressDialog::job);
// test hosts make their own with a window of theirs. Each field says which
// thread writes it, and when.
struct JobState {
  JobState() = default;
  JobState(const JobState&) = delete;
  JobState& operator=(const JobState&) = delete;

  // Where every WM_JOB_* message goes. Set before the worker starts; read
  // only while it runs.
  HWND window = nullptr;
  // Ends with a backslash. Fixed before the worker starts (SetJobDestination,
  // extract/destination_folder.h); read only while it runs.
  char destinationFolder[PATH_CAPACITY] = "";
  // Goes only from false to true: the worker sets it after a failed entry,
  // the dialog's thread on a confirmed stop (possibly after the worker has
  // ended) and on WM_JOB_FAILED. The worker reads it after passing the gate.
  std::atomic<bool> cancelled{false};
  // The rows whose files the worker wrote or tried to write, bit r for row r
  // (their paths are ownFolders.Paths().Entry). Set by the worker while it
  // runs; once it has ended, read by the dialog's thread and cleared by the
  // removal thread the dialog starts.
  uint32_t writtenRows = 0;
  // The launcher's own folders under destinationFolder: made afresh and held
  // by the worker's first row; once the worker has ended, held until the
  // launcher's removal (a late stop's removal thread uses them meanwhile).
  OwnFolders ownFolders;
  // Auto-reset. The worker passes it (Wait, then Set) after each entry; the
  // dialog's thread sets it before the worker starts, resets it while it asks
  // whether to stop, and sets it again after the answer and after an error box.
  EventObject gate;
};

// What became of one entry: written, or what failed, with the error of the
// call that failed (the job's own code where no platform call failed).
enum class EntryFault {
  None,            // written
  PathTooLong,     // a path of the row does not fit PATH_CAPACITY
  NoMemory,        // a buffer could not be had
  NoFolder,        // a level of the destination, or an own folder, is a file: nothing can be made there
  FoldersRefused,  // the own folders could not be made afresh for another reason (OwnFolders::Prepare)
  Unreadable,      // the program's own file could not be read
  Missing,         // the bundle, sound in itself, lacks the entry
  Damaged,         // no sound bundle, a block that does not decode, content that fails its check
  CreateFailed,    // the entry's file could not be created
  WriteFailed,     // a write of the entry's file failed
};

// Ok(): the entry's file is written whole.
using EntryResult = FaultResult<EntryFault>;

// WM_JOB_FAILED's wParam: which text the dialog shows.
enum class JobFailure : WPARAM {
  Other = 0,
  DiskFull = 1,  // the failed call's error was ERROR_DISK_FULL
  Damaged = 2,   // the bundle is damaged (a cut or damaged download)
  NoFolder = 3,  // no folder can be made at the destination (EntryFault::NoFolder)
};

// The one place that turns a failed entry into what the user is told.
JobFailure FailureOf(const EntryResult& result);

// Starts RunExtraction on a new thread through the runtime library (so its
// per-thread state is set up), with job as its argument. Returns the thread's
// owner and stores its id in *threadId; an empty owner and id 0 when the
// thread cannot be created.
KernelHandle StartExtraction(JobState& job, uint32_t* threadId);

// The thread routine; the argument is the JobState. Always returns 0.
unsigned __stdcall RunExtraction(void* job);

// Starts, as StartExtraction does, a thread that removes what a job stopped
// after its last entry wrote (job.cancelled set, rows in job.writtenRows, no
// worker running): DeleteWrittenFiles, then WM_JOB_FINISHED(1) posted as its
// last act. The files go while the dialog's thread keeps taking messages.
KernelHandle StartRemoval(JobState& job, uint32_t* threadId);

// The two routes for one entry, each with a bundle reader of its own.
EntryResult ExtractEntryInMemory(const char* filePath, const char* entryName);
EntryResult ExtractEntryStreamed(const char* filePath, const char* entryName);

// Deletes the files of writtenRows through the job's removal
// (OwnFolders::RemoveJobFiles; one WM_JOB_STEP_BACK each), removes the
// cleanup sub-folders when empty, and clears writtenRows. Runs on the worker,
// or on the thread StartRemoval starts once the worker has ended.
void DeleteWrittenFiles(JobState& job);
