#include "extract/extraction_job.h"

#include <process.h>

#include <cassert>
#include <cstring>
#include <memory>
#include <new>

#include "bundle/block_decoder.h"
#include "bundle/bundle_reader.h"
#include "bundle/format/crc32.h"
#include "bundle/format/lzss.h"
#include "common/entry_table.h"
#include "common/handle.h"
#include "common/paths.h"
#include "extract/folder_path.h"

namespace {

// The error an entry records where no platform call failed: each fault its
// own, so that an error left over from some earlier call can never decide
// what the user is told.
DWORD OwnError(EntryFault fault) {
  switch (fault) {
    case EntryFault::PathTooLong: return ERROR_FILENAME_EXCED_RANGE;
    case EntryFault::NoMemory: return ERROR_NOT_ENOUGH_MEMORY;
    case EntryFault::Damaged: return ERROR_FILE_CORRUPT;
    case EntryFault::Missing: return ERROR_INVALID_DATA;
    default: return ERROR_GEN_FAILURE;
  }
}

EntryResult Fault(EntryFault fault) { return EntryResult::Failed(fault, OwnError(fault)); }

// The fault with the error of the platform call that failed, or the fault's
// own when that call set none.
EntryResult Fault(EntryFault fault, DWORD error) {
  return EntryResult::Failed(fault, error != ERROR_SUCCESS ? error : OwnError(fault));
}

// A reader's failure as the job's.
EntryResult FaultOf(const ReaderResult& read) {
  switch (read.fault) {
    case ReaderFault::None: return EntryResult();
    case ReaderFault::Unreadable:
    case ReaderFault::ReadFailed: return Fault(EntryFault::Unreadable, read.error);
    case ReaderFault::Missing: return Fault(EntryFault::Missing);
    case ReaderFault::CreateFailed: return Fault(EntryFault::CreateFailed, read.error);
    case ReaderFault::WriteFailed: return Fault(EntryFault::WriteFailed, read.error);
    case ReaderFault::Damaged:
    case ReaderFault::NoRoom: break;  // a listed size that the listing's own buffer cannot hold
  }
  return Fault(EntryFault::Damaged);
}

// Writes count bytes at bytes to file: one WriteFile where the platform takes
// them all at once (Windows does, or fails with ERROR_DISK_FULL). Wine may
// instead write part of them and report success when the medium fills; the
// next call then fails with the real error, so a short write is continued
// rather than taken for success or for an error without a cause.
EntryResult WriteAll(HANDLE file, const void* bytes, uint32_t count) {
  const auto* next = static_cast<const uint8_t*>(bytes);
  do {
    DWORD done = 0;
    if (!WriteFile(file, next, count, &done, nullptr)) return Fault(EntryFault::WriteFailed, GetLastError());
    if (done == 0 && count > 0) return EntryResult::Failed(EntryFault::WriteFailed, ERROR_WRITE_FAULT);
    next += done;
    count -= done;
  } while (count > 0);
  return EntryResult();
}

struct PrivateHeapRelease {
  void operator()(void* block) const { PrivateHeapFree(block); }
};
// A decoded block's owner: PrivateHeapFree on every way out.
using DecodedBlock = std::unique_ptr<void, PrivateHeapRelease>;

// The in-memory route with a reader the caller owns; see ExtractEntryInMemory.
EntryResult WriteEntryFromMemory(BundleReader& reader, const char* filePath, const char* entryName) {
  const int32_t size = reader.EntrySize(entryName);
  // One byte at least, so that an empty entry still has a buffer to read into.
  std::unique_ptr<uint8_t[]> stored(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
  if (!stored) return Fault(EntryFault::NoMemory);
  const ReaderResult read = reader.ReadEntry(entryName, stored.get(), size);
  if (!read.Ok()) return FaultOf(read);

  SetFileAttributesA(filePath, FILE_ATTRIBUTE_NORMAL);
  const void* bytes = stored.get();
  uint32_t count = static_cast<uint32_t>(size);
  DecodedBlock decoded;
  // The length-checked test: an entry shorter than a block header is stored
  // data, and must not be read past its end.
  if (IsCompressedBlock(stored.get(), count)) {
    // A decoded size the stream cannot reach is damage, not a request for
    // that much memory.
    const uint32_t claimed = bundle::ReadBlockHeader(stored.get()).decodedSize;
    if (claimed > bundle::MaxDecodedSize(count - bundle::BLOCK_HEADER_SIZE)) return Fault(EntryFault::Damaged);
    const BlockDecoding decoding = DecodeBlock(stored.get(), count);
    decoded.reset(decoding.bytes);
    if (decoding.status == DecodeStatus::NoMemory) return Fault(EntryFault::NoMemory);
    if (decoding.status != DecodeStatus::Decoded) return Fault(EntryFault::Damaged);
    bytes = decoded.get();
    count = decoding.size;
  }
  uint32_t expected = 0;
  if (reader.ExpectedCrc(entryName, &expected) && bundle::Crc32(bytes, count) != expected) {
    return Fault(EntryFault::Damaged);
  }

  const FileHandle file(
      CreateFileA(filePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return Fault(EntryFault::CreateFailed, GetLastError());
  return WriteAll(file.Get(), bytes, count);
}

// Step 6 of a row: writes the entry by the route its flags choose.
EntryResult WriteRow(const EntryRow& row, const char* filePath, const char* fileName) {
  if (row.flags & ENTRY_STREAMED) {
    // A read-only file left by an earlier run must not stop the copy.
    SetFileAttributesA(filePath, FILE_ATTRIBUTE_NORMAL);
    return ExtractEntryStreamed(filePath, fileName);
  }
  Sleep(1);  // hands the processor to the dialog between entries
  const EntryResult result = ExtractEntryInMemory(filePath, fileName);
  if (result.Ok() && (row.flags & ENTRY_READ_ONLY)) SetFileAttributesA(filePath, FILE_ATTRIBUTE_READONLY);
  return result;
}

// The preparation's failure as the row's: a file in the way of a folder is
// told as such (no folder can be made there); the rest as the job's failure.
EntryResult FaultOf(const PrepareResult& prepared) {
  if (prepared.Ok()) return EntryResult();
  return Fault(prepared.fault == PrepareFault::NotFolder ? EntryFault::NoFolder : EntryFault::FoldersRefused,
               prepared.error);
}

// Steps 3 to 6 for row index.
EntryResult ExtractRow(JobState& job, int index, bool firstRow) {
  const EntryRow& row = EntryTable[index];
  // A path that does not fit names some other file, which the job must
  // neither write nor, later, delete.
  const char* filePath = job.ownFolders.Paths().Entry(index);
  if (filePath == nullptr) return Fault(EntryFault::PathTooLong);
  char folder[PATH_CAPACITY];
  CopyPath(folder, sizeof folder, filePath);
  folder[FindLastBackslash(folder) - folder + 1] = '\0';
  // A folder in the way may lead somewhere else: the row then fails with
  // nothing written or recorded, and the deletion that follows touches
  // nothing there either.
  if (firstRow) {
    const EntryResult prepared = FaultOf(job.ownFolders.Prepare());
    if (!prepared.Ok()) return prepared;
  }
  // An unrecorded file would escape the removal.
  job.writtenRows |= 1u << index;
  // A folder that cannot be made shows up as a file that cannot be created.
  CreateFolderPath(folder);
  return WriteRow(row, filePath, row.fileName);
}

// The job's removal, one step back of the bar for each file.
class StepBackEachFile final : public RemovalSteps {
 public:
  explicit StepBackEachFile(HWND window) : window(window) {}
  void FileDealtWith() override { SendMessageA(window, WM_JOB_STEP_BACK, 0, 0); }

 private:
  HWND window;
};

KernelHandle StartThread(unsigned(__stdcall* routine)(void*), JobState& job, uint32_t* threadId) {
  unsigned id = 0;
  KernelHandle thread(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, routine, &job, 0, &id)));
  *threadId = thread.IsValid() ? id : 0;
  return thread;
}

unsigned __stdcall RunRemoval(void* context) {
  JobState& job = *static_cast<JobState*>(context);
  DeleteWrittenFiles(job);
  PostMessageA(job.window, WM_JOB_FINISHED, 1, 0);
  return 0;
}

}  // namespace

JobFailure FailureOf(const EntryResult& result) {
  if (result.error == ERROR_DISK_FULL) return JobFailure::DiskFull;
  if (result.fault == EntryFault::Damaged) return JobFailure::Damaged;
  if (result.fault == EntryFault::NoFolder) return JobFailure::NoFolder;
  return JobFailure::Other;
}

KernelHandle StartExtraction(JobState& job, uint32_t* threadId) { return StartThread(RunExtraction, job, threadId); }

KernelHandle StartRemoval(JobState& job, uint32_t* threadId) {
  assert(job.cancelled && job.writtenRows != 0);
  return StartThread(RunRemoval, job, threadId);
}

unsigned __stdcall RunExtraction(void* context) {
  JobState& job = *static_cast<JobState*>(context);
  bool firstRow = true;
  for (const EntryRow* row = EntryTable;; ++row) {
    // 1. 2.
    if (row->fileName[0] == '\0' && row->folderPrefix[0] == '\0') {
      PostMessageA(job.window, WM_JOB_FINISHED, 0, 0);
      return 0;
    }
    if (!(row->flags & ENTRY_EXTRACT)) continue;

    // 3. - 6.
    const EntryResult result = ExtractRow(job, static_cast<int>(row - EntryTable), firstRow);
    firstRow = false;

    // 7. The failure's send returns once the dialog has shown its message.
    if (result.Ok()) {
      SendMessageA(job.window, WM_JOB_STEP, 0, 0);
    } else {
      SendMessageA(job.window, WM_JOB_FAILED, static_cast<WPARAM>(FailureOf(result)), 0);
      job.cancelled = true;
    }

    // 8. Closed while the dialog asks whether to stop. The set right after
    // the wait keeps it open for the next entry.
    job.gate.Wait(-1);
    job.gate.Set();

    // 9.
    if (job.cancelled) {
      DeleteWrittenFiles(job);
      PostMessageA(job.window, WM_JOB_FINISHED, 1, 0);
      return 0;
    }
  }
}

EntryResult ExtractEntryInMemory(const char* filePath, const char* entryName) {
  BundleReader reader;
  return WriteEntryFromMemory(reader, filePath, entryName);
}

EntryResult ExtractEntryStreamed(const char* filePath, const char* entryName) {
  BundleReader reader;
  return FaultOf(reader.CopyEntryToFile(entryName, filePath));
}

void DeleteWrittenFiles(JobState& job) {
  // Only the named sub-folders go, and only when empty; folders made above
  // them for a destination that did not exist stay, and so does the
  // drive-root folder, for the launcher's removal.
  StepBackEachFile steps(job.window);
  job.ownFolders.RemoveJobFiles(job.writtenRows, steps);
  job.writtenRows = 0;
}
