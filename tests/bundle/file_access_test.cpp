// FileAccess on real files in a scratch folder.
#include <gtest/gtest.h>

#include "bundle/file_access.h"
#include "win32_test_support.h"

using testing_support::ReadFileBytes;
using testing_support::ScratchFolder;
using testing_support::WriteFileBytes;

TEST(FileAccess, NeverOpenedObjectMakesNoCalls) {
  FileAccess file;
  char buffer[4];
  SetLastError(1234);
  EXPECT_EQ(file.Read(buffer, 4).status, FileAccess::IoStatus::NotOpen);
  EXPECT_EQ(file.Write(buffer, 4).status, FileAccess::IoStatus::NotOpen);
  EXPECT_EQ(file.Seek(0, FILE_BEGIN).status, FileAccess::IoStatus::NotOpen);
  EXPECT_EQ(file.Size(), 0u);
  EXPECT_EQ(file.Close(), 0);
  EXPECT_EQ(file.Close(), 0);
  EXPECT_EQ(GetLastError(), 1234u);
}

TEST(FileAccess, ReadsSeeksAndReportsTheEnd) {
  ScratchFolder folder("fa_read");
  const std::string path = folder.Path() + "data.bin";
  WriteFileBytes(path, "0123456789");
  FileAccess file;
  ASSERT_EQ(file.Open(path.c_str(), FileAccess::ModeRead).result, FileAccess::OpenResult::Opened);
  EXPECT_EQ(file.Size(), 10u);
  EXPECT_EQ(file.Seek(7, FILE_BEGIN).bytes, 7);
  char buffer[8] = {};
  EXPECT_EQ(file.Read(buffer, 8).bytes, 3);
  EXPECT_STREQ(buffer, "789");
  const FileAccess::Transfer end = file.Read(buffer, 8);
  EXPECT_TRUE(end.Done() && end.bytes == 0);

  // A second reader is allowed, a writer is not.
  FileAccess other;
  EXPECT_EQ(other.Open(path.c_str(), FileAccess::ModeRead).result, FileAccess::OpenResult::Opened);
  FileAccess writer;
  EXPECT_EQ(writer.Open(path.c_str(), FileAccess::ModeWrite).result, FileAccess::OpenResult::OpenFailed);

  // A null path closes the open file and opens nothing.
  EXPECT_EQ(file.Open(static_cast<const char*>(nullptr), FileAccess::ModeRead).result, FileAccess::OpenResult::NoPath);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Read(buffer, 1).status, FileAccess::IoStatus::NotOpen);
}

// A failed open holds no handle: nothing later reaches the platform, and the
// open's own error is what the caller finds.
TEST(FileAccess, FailedOpenIsNotOpen) {
  ScratchFolder folder("fa_missing");
  FileAccess file;
  EXPECT_EQ(file.Open((folder.Path() + "missing.bin").c_str(), FileAccess::ModeRead).result, FileAccess::OpenResult::OpenFailed);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(file.IsOpen());
  char buffer[4];
  EXPECT_EQ(file.Read(buffer, 4).status, FileAccess::IoStatus::NotOpen);
  EXPECT_EQ(file.Size(), 0u);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST(FileAccess, WriteModeCreatesOrTruncates) {
  ScratchFolder folder("fa_write");
  const std::string path = folder.Path() + "out.bin";
  WriteFileBytes(path, "a longer old content");
  {
    FileAccess file;
    ASSERT_EQ(file.Open(path.c_str(), FileAccess::ModeWrite).result, FileAccess::OpenResult::Opened);
    EXPECT_EQ(file.Write("new", 3).bytes, 3);
    // Others may read it meanwhile, not write it.
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    FileAccess writer;
    EXPECT_EQ(writer.Open(path.c_str(), FileAccess::ModeWrite).result, FileAccess::OpenResult::OpenFailed);
  }
  EXPECT_EQ(ReadFileBytes(path), "new");
}

// The extraction job reports a full disk by the error of the failed write,
// read after the files are closed.
TEST(FileAccess, CloseKeepsTheLastError) {
  ScratchFolder folder("fa_error");
  FileAccess file;
  ASSERT_EQ(file.Open((folder.Path() + "x.bin").c_str(), FileAccess::ModeWrite).result, FileAccess::OpenResult::Opened);
  SetLastError(ERROR_DISK_FULL);
  EXPECT_EQ(file.Close(), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
  {
    FileAccess destroyed;
    destroyed.Open((folder.Path() + "y.bin").c_str(), FileAccess::ModeWrite);
    SetLastError(ERROR_DISK_FULL);
  }
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
}
