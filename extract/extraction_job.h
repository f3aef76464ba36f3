// The extraction job: the worker thread that writes the bundle's entries
// under the progress dialog's destinationFolder, walking EntryTable row by
// row, and reports to the dialog with the private WM_JOB_* messages
// (extract/progress_dialog.h). It stops at the first failed entry or at the
// first entry boundary after a confirmed cancel, then deletes what it wrote;
// a cancel confirmed after its last boundary is the dialog's to honour.
#pragma once

#include <windows.h>

#include <cstdint>

class ProgressDialog;

// WM_JOB_FAILED's wParam: which text the dialog shows.
enum JobFailure : WPARAM {
  JOB_FAILED_OTHER = 0,
  JOB_FAILED_DISK_FULL = 1,  // the failed write's error was ERROR_DISK_FULL
  JOB_FAILED_DAMAGED = 2,    // ERROR_FILE_CORRUPT: the bundle is damaged (a cut or damaged download)
};

// Starts RunExtraction on a new thread through the runtime library (so its
// per-thread state is set up), with the dialog as argument; stores the thread
// handle and id in the dialog. False, with workerThreadId 0, when the thread
// cannot be created.
bool StartExtraction(ProgressDialog& dialog);

// The thread routine; the argument is the ProgressDialog. Always returns 0.
unsigned __stdcall RunExtraction(void* dialog);

// The two routes for one entry; both return false with the failing call's
// error still the thread's last error.
bool ExtractEntryInMemory(const char* filePath, const char* entryName);
bool ExtractEntryStreamed(const char* filePath, const char* entryName);

// Appends a heap copy of filePath to the dialog's writtenFiles.
bool RecordWrittenFile(ProgressDialog& dialog, const char* filePath);
// Deletes every recorded file (one WM_JOB_STEP_BACK each), removes the
// cleanup sub-folders when empty (through their holds), and empties
// writtenFiles. Runs on the
// worker, or on the dialog's thread once the worker has ended.
void DeleteWrittenFiles(ProgressDialog& dialog);
