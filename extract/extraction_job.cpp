#include "extract/extraction_job.h"

#include <process.h>

#include <cstring>
#include <new>

#include "bundle/block_decoder.h"
#include "bundle/bundle_reader.h"
#include "bundle/format/crc32.h"
#include "bundle/format/lzss.h"
#include "extract/folder_path.h"
#include "extract/progress_dialog.h"
#include "common/entry_table.h"
#include "common/last_error.h"
#include "common/paths.h"

// Errors the job sets itself where no platform call failed. Each is set
// before WM_JOB_FAILED reads the thread's last error, so a stale
// ERROR_DISK_FULL left by some earlier call can never be reported for an
// entry that failed for another reason.
//   ERROR_FILE_CORRUPT          the bundle is damaged: none found, a record
//                               that does not fit the file, a check record
//                               that fails, a block that does not decode,
//                               content that fails its CRC (the reader sets
//                               it too, for the streamed copy)
//   ERROR_INVALID_DATA          the bundle, sound in itself, lacks the entry,
//                               or the program's file could not be read
//   ERROR_NOT_ENOUGH_MEMORY     a buffer or a path copy could not be had (the
//                               private heap sets it too)
//   ERROR_FILENAME_EXCED_RANGE  the row's path does not fit PATH_CAPACITY
// The first row may also fail with the errors of OwnFolders::Prepare.

namespace {

// Makes sure a failure carries an error of its own: keeps the failing
// platform call's error, or sets fallback when there is none.
void EnsureError(DWORD fallback) {
  if (GetLastError() == ERROR_SUCCESS) SetLastError(fallback);
}

// Writes count bytes at bytes to file: one WriteFile where the platform takes
// them all at once (Windows does, or fails with ERROR_DISK_FULL). Wine may
// instead write part of them and report success when the medium fills; the
// next call then fails with the real error, so a short write is continued
// rather than taken for success or for an error without a cause.
bool WriteAll(HANDLE file, const void* bytes, uint32_t count) {
  const auto* next = static_cast<const uint8_t*>(bytes);
  do {
    DWORD done = 0;
    SetLastError(ERROR_SUCCESS);
    if (!WriteFile(file, next, count, &done, nullptr)) {
      EnsureError(ERROR_WRITE_FAULT);
      return false;
    }
    if (done == 0 && count > 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    next += done;
    count -= done;
  } while (count > 0);
  return true;
}

// The error for a failed listing: damage when the file holds no sound
// bundle, else the failed read's own (the file could not be read).
void SetListingError(const BundleReader& reader) {
  const bundle::ScanStatus status = reader.LastScan().status;
  if (status == bundle::ScanStatus::NoBundle || status == bundle::ScanStatus::Damaged) {
    SetLastError(ERROR_FILE_CORRUPT);
  } else {
    EnsureError(ERROR_INVALID_DATA);
  }
}

// An entry's bytes in memory, released on every way out with the thread's
// last error kept.
struct EntryBuffers {
  uint8_t* stored = nullptr;  // general heap
  void* decoded = nullptr;    // private heap
  EntryBuffers() = default;
  EntryBuffers(const EntryBuffers&) = delete;
  EntryBuffers& operator=(const EntryBuffers&) = delete;
  ~EntryBuffers() {
    PreserveLastError keep;
    PrivateHeapFree(decoded);
    delete[] stored;
  }
};

// The in-memory route with a reader the caller owns; see ExtractEntryInMemory.
bool WriteEntryFromMemory(BundleReader& reader, const char* filePath, const char* entryName) {
  SetLastError(ERROR_SUCCESS);
  if (!reader.ListEntries()) {
    SetListingError(reader);
    return false;
  }
  const int32_t size = reader.EntrySize(entryName);
  EntryBuffers buffers;
  // One byte at least, so that an empty entry still has a buffer to read into.
  buffers.stored = new (std::nothrow) uint8_t[size > 0 ? size : 1];
  if (buffers.stored == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (!reader.ReadEntry(entryName, buffers.stored, size)) {
    // A failed read keeps its error; a listed entry whose bytes end early is
    // damage; a name the bundle lacks is not.
    EnsureError(reader.Find(entryName) != nullptr ? ERROR_FILE_CORRUPT : ERROR_INVALID_DATA);
    return false;
  }

  SetFileAttributesA(filePath, FILE_ATTRIBUTE_NORMAL);
  const void* bytes = buffers.stored;
  uint32_t count = static_cast<uint32_t>(size);
  // The length-checked test: an entry shorter than a block header is stored
  // data, and must not be read past its end.
  if (IsCompressedBlock(buffers.stored, count)) {
    // A decoded size the stream cannot reach is damage, not a request for
    // that much memory.
    const uint32_t claimed = bundle::ReadBlockHeader(buffers.stored).decodedSize;
    if (claimed > bundle::MaxDecodedSize(count - bundle::BLOCK_HEADER_SIZE)) {
      SetLastError(ERROR_FILE_CORRUPT);
      return false;
    }
    uint32_t decodedSize = 0;
    SetLastError(ERROR_SUCCESS);
    buffers.decoded = DecodeBlock(buffers.stored, count, &decodedSize);
    if (buffers.decoded == nullptr) {
      EnsureError(ERROR_FILE_CORRUPT);  // the private heap's ERROR_NOT_ENOUGH_MEMORY stands
      return false;
    }
    bytes = buffers.decoded;
    count = decodedSize;
  }
  uint32_t expected = 0;
  if (reader.ExpectedCrc(entryName, &expected) && bundle::Crc32(bytes, count) != expected) {
    SetLastError(ERROR_FILE_CORRUPT);
    return false;
  }

  bool written = false;
  const HANDLE file =
      CreateFileA(filePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    written = WriteAll(file, bytes, count);
    // The write's error (ERROR_DISK_FULL, for one) must outlive the clean-up.
    PreserveLastError keep;
    CloseHandle(file);
  }
  return written;
}

// Step 6 of a row: writes the entry by the route its flags choose.
bool WriteRow(const EntryRow& row, const char* filePath, const char* fileName) {
  if (row.flags & ENTRY_STREAMED) {
    // A read-only file left by an earlier run must not stop the copy.
    SetFileAttributesA(filePath, FILE_ATTRIBUTE_NORMAL);
    return ExtractEntryStreamed(filePath, fileName);
  }
  Sleep(1);  // hands the processor to the dialog between entries
  if (!ExtractEntryInMemory(filePath, fileName)) return false;
  if (row.flags & ENTRY_READ_ONLY) SetFileAttributesA(filePath, FILE_ATTRIBUTE_READONLY);
  return true;
}

// The row's three paths, each bounded to PATH_CAPACITY: false when any of
// them would be cut. A cut path names some other file, which the job must
// neither write nor, later, delete.
bool ComposeRowPaths(const ProgressDialog& dialog, const EntryRow& row, char* fileName, char* folder,
                     char* filePath) {
  return CopyPath(fileName, PATH_CAPACITY, row.fileName) &&
         CopyPath(folder, PATH_CAPACITY, dialog.destinationFolder) &&
         AppendPath(folder, PATH_CAPACITY, row.folderPrefix) && CopyPath(filePath, PATH_CAPACITY, folder) &&
         AppendPath(filePath, PATH_CAPACITY, fileName);
}

}  // namespace

bool StartExtraction(ProgressDialog& dialog) {
  unsigned threadId = 0;
  const uintptr_t thread = _beginthreadex(nullptr, 0, RunExtraction, &dialog, 0, &threadId);
  if (thread == 0) {
    dialog.workerThread = nullptr;
    dialog.workerThreadId = 0;
    return false;
  }
  dialog.workerThread = reinterpret_cast<HANDLE>(thread);
  dialog.workerThreadId = threadId;
  return true;
}

unsigned __stdcall RunExtraction(void* context) {
  ProgressDialog& dialog = *static_cast<ProgressDialog*>(context);
  const HWND window = dialog.WindowHandle();
  char fileName[PATH_CAPACITY];
  char folder[PATH_CAPACITY];
  char filePath[PATH_CAPACITY];
  bool prepared = false;

  for (const EntryRow* row = EntryTable;; ++row) {
    if (row->fileName[0] == '\0' && row->folderPrefix[0] == '\0') {
      PostMessageA(window, WM_JOB_FINISHED, 0, 0);
      return 0;
    }
    if (!(row->flags & ENTRY_EXTRACT)) continue;

    // A row whose paths do not fit, or whose path cannot be recorded, fails
    // before anything is made or written for it: an unrecorded file would
    // escape the removal. Recording ahead of the write changes nothing else,
    // as a failed entry's path is recorded too. The first row also makes the
    // launcher's own folders afresh and holds them (extract/own_folders.h);
    // when that fails, a folder in the way may lead somewhere else, so the
    // row fails with nothing written or recorded, and the deletion that
    // follows touches nothing there either.
    bool written = false;
    if (!ComposeRowPaths(dialog, *row, fileName, folder, filePath)) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
    } else if (!prepared && !dialog.ownFolders.Prepare()) {
      // Prepare's error stands.
    } else if (!RecordWrittenFile(dialog, filePath)) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } else {
      prepared = true;
      // A folder that cannot be made shows up as a file that cannot be created.
      CreateFolderPath(folder);
      written = WriteRow(*row, filePath, fileName);
    }

    if (written) {
      SendMessageA(window, WM_JOB_STEP, 0, 0);
    } else {
      const DWORD error = GetLastError();  // before any other call
      // Returns once the dialog has shown its error message.
      SendMessageA(window, WM_JOB_FAILED,
                   error == ERROR_DISK_FULL      ? JOB_FAILED_DISK_FULL
                   : error == ERROR_FILE_CORRUPT ? JOB_FAILED_DAMAGED
                                                 : JOB_FAILED_OTHER,
                   0);
      dialog.MarkCancelled();
    }

    // Pass the gate: closed while the dialog asks whether to cancel. The set
    // right after the wait keeps it open for the next entry.
    dialog.gate.Wait(-1);
    dialog.gate.Set();
    if (dialog.cancelled) {
      DeleteWrittenFiles(dialog);
      PostMessageA(window, WM_JOB_FINISHED, 1, 0);
      return 0;
    }
  }
}

bool ExtractEntryInMemory(const char* filePath, const char* entryName) {
  bool written;
  DWORD error;
  {
    BundleReader reader;
    written = WriteEntryFromMemory(reader, filePath, entryName);
    error = GetLastError();
  }
  // Closing the bundle file must not replace the failing call's error.
  SetLastError(error);
  return written;
}

bool ExtractEntryStreamed(const char* filePath, const char* entryName) {
  bool copied;
  DWORD error;
  {
    BundleReader reader;
    SetLastError(ERROR_SUCCESS);
    copied = reader.CopyEntryToFile(entryName, filePath);
    if (!copied) {
      if (reader.LastScan().status != bundle::ScanStatus::Ok) {
        SetListingError(reader);
      } else {
        EnsureError(ERROR_INVALID_DATA);  // the copy's own error, or a missing name
      }
    }
    error = GetLastError();
  }
  SetLastError(error);
  return copied;
}

bool RecordWrittenFile(ProgressDialog& dialog, const char* filePath) {
  const size_t size = strlen(filePath) + 1;
  // Released with delete[] by DeleteWrittenFiles or the dialog's destructor.
  char* copy = new (std::nothrow) char[size];
  if (copy == nullptr) return false;
  memcpy(copy, filePath, size);
  try {
    dialog.writtenFiles.push_back(copy);
  } catch (const std::bad_alloc&) {
    delete[] copy;
    return false;
  }
  return true;
}

void DeleteWrittenFiles(ProgressDialog& dialog) {
  const HWND window = dialog.WindowHandle();
  for (char*& path : dialog.writtenFiles) {
    // A read-only file stays: the launcher's removal clears the mark later.
    DeleteFileA(path);
    delete[] path;
    path = nullptr;
    SendMessageA(window, WM_JOB_STEP_BACK, 0, 0);
  }
  dialog.writtenFiles.clear();

  // Only the named sub-folders go, and only when empty; folders made above
  // them for a destination that did not exist stay, and so does the
  // drive-root folder, for the launcher's removal.
  dialog.ownFolders.RemoveEmpty(false);
}
