// BundleReader over real bundle files in a scratch folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bundle/bundle_reader.h"
#include "bundle/format/check_record.h"
#include "bundle/format/crc32.h"
#include "import_hook.h"
#include "lzss_test_codec.h"
#include "win32_test_support.h"

using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::ScratchFolder;

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

class BundleReaderTest : public ::testing::Test {
 protected:
  BundleReaderTest() : folder("reader") {}

  // Writes a bundle behind a small image and returns its path.
  std::string Write(const Entries& entries, const std::string& file = "bundle.exe") {
    const std::vector<uint8_t> bytes = test_codec::MakeBundle("MZ image bytes", entries);
    const std::string path = folder.Path() + file;
    testing_support::WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
    return path;
  }

  std::string Read(BundleReader& reader, const std::string& name) {
    std::string data(size_t(reader.EntrySize(name.c_str())), '\0');
    int32_t got = -1;
    if (!reader.ReadEntry(name.c_str(), &data[0], int32_t(data.size()), &got).Ok()) return "<failed>";
    EXPECT_EQ(got, int32_t(data.size()));
    return data;
  }

  static std::vector<std::string> Names(const BundleReader& reader) {
    std::vector<std::string> names;
    for (const BundleEntry& e : reader.Entries()) names.push_back(e.name);
    return names;
  }

  ScratchFolder folder;
};

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = char(i * 131 + i / 4096);
  return s;
}

}  // namespace

TEST_F(BundleReaderTest, ListsInReverseFileOrderAndTheSameListTwice) {
  BundleReader reader(Write({{"A", "a"}, {"B", "bb"}, {"C", "ccc"}}).c_str());
  EXPECT_TRUE(reader.ListEntries());
  EXPECT_EQ(Names(reader), (std::vector<std::string>{"C", "B", "A"}));
  EXPECT_TRUE(reader.ListEntries());
  EXPECT_EQ(Names(reader), (std::vector<std::string>{"C", "B", "A"}));
}

TEST_F(BundleReaderTest, LookupsListFirstAndTakeTheLaterOfTwoNames) {
  BundleReader reader(Write({{"setup.exe", "old"}, {"readme.txt", "r"}, {"setup.exe", "newer"}}).c_str());
  EXPECT_EQ(reader.EntrySize("setup.exe"), 5);
  EXPECT_EQ(Read(reader, "setup.exe"), "newer");
  // Case-sensitive, whole names only.
  EXPECT_EQ(reader.EntrySize("Setup.exe"), 0);
  EXPECT_EQ(reader.EntrySize("setup"), 0);
  char buffer[8];
  EXPECT_EQ(ReaderFault::Missing, reader.ReadEntry("SETUP.EXE", buffer, sizeof buffer).fault);
  EXPECT_EQ(ReaderFault::Missing, reader.CopyEntryToFile("readme.TXT", folder.Path().c_str()).fault);
  EXPECT_FALSE(FileExists(folder.Path() + "readme.TXT"));
}

TEST_F(BundleReaderTest, FileEndingInTheStartMarkerHasNoEntries) {
  BundleReader reader(Write({}).c_str());
  EXPECT_TRUE(reader.ListEntries());
  EXPECT_TRUE(reader.Entries().empty());
  EXPECT_EQ(reader.EntrySize("x"), 0);
}

TEST_F(BundleReaderTest, ZeroSizeEntryThroughAllThreeOperations) {
  BundleReader reader(Write({{"empty.dat", ""}, {"after", "x"}}).c_str());
  EXPECT_EQ(reader.EntrySize("empty.dat"), 0);
  int32_t got = -1;
  char buffer[1] = {'k'};
  EXPECT_TRUE(reader.ReadEntry("empty.dat", buffer, 0, &got).Ok());
  EXPECT_EQ(got, 0);
  EXPECT_EQ(buffer[0], 'k');
  EXPECT_TRUE(reader.CopyEntryToFile("empty.dat", folder.Path().c_str()).Ok());
  EXPECT_TRUE(FileExists(folder.Path() + "empty.dat"));
  EXPECT_EQ(ReadFileBytes(folder.Path() + "empty.dat"), "");
}

TEST_F(BundleReaderTest, ReadEntryNeedsRoomForTheWholeEntry) {
  const std::string data = Pattern(10000);  // three pieces
  BundleReader reader(Write({{"big", data}, {"small", "s"}}).c_str());
  std::string buffer(data.size() + 4, '#');
  int32_t got = -1;
  EXPECT_EQ(ReaderFault::NoRoom, reader.ReadEntry("big", &buffer[0], int32_t(data.size()) - 1, &got).fault);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(buffer, std::string(data.size() + 4, '#'));

  EXPECT_TRUE(reader.ReadEntry("big", &buffer[0], int32_t(data.size()), &got).Ok());
  EXPECT_EQ(got, int32_t(data.size()));
  EXPECT_EQ(buffer.substr(0, data.size()), data);
  EXPECT_EQ(buffer.substr(data.size()), "####");

  // A larger capacity still copies only the entry's bytes.
  std::string roomy(data.size() + 100, '#');
  EXPECT_TRUE(reader.ReadEntry("big", &roomy[0], int32_t(roomy.size())).Ok());
  EXPECT_EQ(roomy.substr(data.size()), std::string(100, '#'));
}

TEST_F(BundleReaderTest, CopyEntryToFileTakesAFolderOrAFullPath) {
  const std::string data = Pattern(9000);
  BundleReader reader(Write({{"game.dat", data}}).c_str());
  EXPECT_TRUE(reader.CopyEntryToFile("game.dat", folder.Path().c_str()).Ok());
  EXPECT_EQ(ReadFileBytes(folder.Path() + "game.dat"), data);

  // Any other destination is the file's path, whatever its name; an existing
  // file is truncated.
  const std::string other = folder.Path() + "renamed.bin";
  testing_support::WriteFileBytes(other, std::string(20000, 'o'));
  EXPECT_TRUE(reader.CopyEntryToFile("game.dat", other.c_str()).Ok());
  EXPECT_EQ(ReadFileBytes(other), data);

  // A path ending in 表 (0x95 0x5C) names a file: its trail byte is not a
  // backslash, so no entry name is appended to it.
  const std::string hyo = folder.Path() + "\x95\x5C";
  EXPECT_TRUE(reader.CopyEntryToFile("game.dat", hyo.c_str()).Ok());
  EXPECT_EQ(ReadFileBytes(hyo), data);
  EXPECT_FALSE(FileExists(hyo + "game.dat"));

  // A folder that does not exist: false, also for an empty entry.
  EXPECT_EQ(ReaderFault::CreateFailed, reader.CopyEntryToFile("game.dat", (folder.Path() + "none\\").c_str()).fault);
  BundleReader empty(Write({{"e", ""}}, "empty.exe").c_str());
  EXPECT_EQ(ReaderFault::CreateFailed, empty.CopyEntryToFile("e", (folder.Path() + "none\\").c_str()).fault);
}

TEST_F(BundleReaderTest, NoBundleOrADamagedOneGivesNoEntries) {
  BundleReader missing((folder.Path() + "missing.exe").c_str());
  EXPECT_FALSE(missing.ListEntries());
  EXPECT_EQ(missing.LastScan().status, bundle::ScanStatus::Unreadable);
  char buffer[4];
  EXPECT_EQ(ReaderFault::Unreadable, missing.ReadEntry("A", buffer, 4).fault);

  const std::string tiny = folder.Path() + "tiny.exe";
  testing_support::WriteFileBytes(tiny, "MZ");
  BundleReader shortFile(tiny.c_str());
  EXPECT_FALSE(shortFile.ListEntries());
  EXPECT_TRUE(shortFile.Entries().empty());

  // The later entry is sound, the earlier one's trailer points before the
  // start marker: nothing is listed.
  std::vector<uint8_t> bytes = test_codec::MakeBundle("MZ", {{"A", "aaaa"}, {"B", "b"}});
  const size_t firstSize = 2 + 4 + 4 + 2 + 4;  // image, marker, data, name, name length
  bundle::StoreLe32(bytes.data() + firstSize, 1000);
  const std::string damaged = folder.Path() + "damaged.exe";
  testing_support::WriteFileBytes(damaged, std::string(bytes.begin(), bytes.end()));
  BundleReader reader(damaged.c_str());
  EXPECT_EQ(reader.EntrySize("B"), 0);
  EXPECT_EQ(reader.LastScan().status, bundle::ScanStatus::Damaged);
  EXPECT_EQ(ReaderFault::Damaged, reader.CopyEntryToFile("B", folder.Path().c_str()).fault);
}

namespace {

// ReadFile as the reader calls it, failing from the call numbered failAt on
// (counted from 0) with ERROR_LOCK_VIOLATION, as Windows fails a read of a
// region that another program has locked (Wine does not enforce such locks
// on reads, so the hook makes the failure).
int readCalls = 0;
int failAt = -1;
const testing_support::ImportHook* readHook = nullptr;
BOOL WINAPI FailingReadFile(HANDLE file, void* buffer, DWORD count, DWORD* done, OVERLAPPED* overlapped) {
  if (failAt >= 0 && readCalls++ >= failAt) {
    SetLastError(ERROR_LOCK_VIOLATION);
    return FALSE;
  }
  return readHook->Original<decltype(&ReadFile)>()(file, buffer, count, done, overlapped);
}

}  // namespace

// A listing that a read fails is told as an unreadable file with the read's
// error, never as a damaged bundle: the user is to hear of a disk or a lock,
// not be sent to download the bundle again. Every read of the listing is made
// to fail in turn: the scan's trailers and names, then the check record.
TEST_F(BundleReaderTest, ListingThatAReadFailsIsUnreadableNotDamaged) {
  const std::string a = "first entry", b = Pattern(5000);
  const std::vector<uint8_t> record = bundle::BuildCheckRecord(
      {{"A", bundle::Crc32(a.data(), a.size())}, {"B", bundle::Crc32(b.data(), b.size())}});
  const std::string path =
      Write({{"A", a}, {"B", b}, {bundle::CHECK_RECORD_NAME, std::string(record.begin(), record.end())}});
  char buffer[16];

  testing_support::ImportHook hook("KERNEL32.dll", "ReadFile", reinterpret_cast<const void*>(&FailingReadFile));
  ASSERT_TRUE(hook.Installed());
  readHook = &hook;
  int reads = 0;
  for (failAt = 0;; ++failAt) {
    readCalls = 0;
    BundleReader reader(path.c_str());
    if (reader.ListEntries()) break;  // the listing makes fewer reads than that
    EXPECT_EQ(reader.LastScan().status, bundle::ScanStatus::Unreadable) << "read " << failAt << " failed";
    const ReaderResult result = reader.ReadEntry("A", buffer, sizeof buffer);
    EXPECT_EQ(result.fault, ReaderFault::Unreadable) << "read " << failAt << " failed";
    EXPECT_EQ(result.error, DWORD(ERROR_LOCK_VIOLATION)) << "read " << failAt << " failed";
    ++reads;
  }
  failAt = -1;
  EXPECT_GE(reads, 4) << "the listing's reads: the end, two trailers and names, the check record";
}

TEST_F(BundleReaderTest, OwnFileIsReadByDefault) {
  // The test program carries no bundle: opened, listed, nothing found.
  BundleReader reader;
  EXPECT_FALSE(reader.ListEntries());
  EXPECT_EQ(reader.LastScan().status, bundle::ScanStatus::NoBundle);
  EXPECT_STRNE(reader.LastScan().reason, "file cannot be opened");
}
