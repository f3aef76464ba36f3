// The backward scan over bytes in memory: listing, and hostile files that must
// end cleanly without a read outside the file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bundle/format/bundle_scan.h"
#include "lzss_test_codec.h"

using bundle::BundleEntry;
using bundle::ScanStatus;
using test_codec::MakeBundle;

namespace {

// Memory that fails the test on any read outside it, and counts reads.
class CheckedSource : public bundle::ByteSource {
 public:
  explicit CheckedSource(std::vector<uint8_t> bytes) : data(std::move(bytes)) {}
  uint32_t Size() override { return uint32_t(data.size()); }
  int32_t ReadAt(uint32_t position, void* buffer, int32_t count) override {
    EXPECT_GE(count, 0);
    EXPECT_LE(uint64_t(position) + uint64_t(count), data.size()) << "read past the end at " << position;
    ++reads;
    bytesRead += count;
    if (uint64_t(position) + uint64_t(count) > data.size()) return -1;
    std::memcpy(buffer, data.data() + position, size_t(count));
    return count;
  }
  int reads = 0;
  int64_t bytesRead = 0;

 private:
  std::vector<uint8_t> data;
};

struct Scan {
  bundle::ScanDiagnosis diagnosis;
  std::vector<BundleEntry> entries;
  int reads = 0;
};

Scan ScanBytes(const std::vector<uint8_t>& bytes) {
  CheckedSource source(bytes);
  Scan scan;
  scan.diagnosis = bundle::ScanBundle(source, scan.entries);
  scan.reads = source.reads;
  return scan;
}

std::vector<std::string> Names(const std::vector<BundleEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  return names;
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) { bundle::StoreLe32(bytes.data() + at, value); }

const std::string IMAGE = "MZ\x90 an executable image";

}  // namespace

TEST(BundleScan, ListsEntriesFromTheLastStoredToTheFirst) {
  const auto file = MakeBundle(IMAGE, {{"a.exe", "first"}, {"b.txt", "second!"}, {"c.dat", "3"}});
  const Scan scan = ScanBytes(file);
  ASSERT_EQ(scan.diagnosis.status, ScanStatus::Ok);
  EXPECT_EQ(Names(scan.entries), (std::vector<std::string>{"c.dat", "b.txt", "a.exe"}));

  const BundleEntry& a = scan.entries[2];
  EXPECT_EQ(a.dataStart, int32_t(IMAGE.size() + 4));
  EXPECT_EQ(a.dataSize, 5);
  EXPECT_EQ(a.dataEnd, a.dataStart + 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data()) + a.dataStart, size_t(a.dataSize)), "first");
  const BundleEntry& c = scan.entries[0];
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data()) + c.dataStart, size_t(c.dataSize)), "3");
  // The name array is the stored name and zeros after it.
  for (size_t i = std::strlen(c.name); i < sizeof c.name; ++i) ASSERT_EQ(c.name[i], 0);
}

TEST(BundleScan, KeepsDuplicatesWithTheLaterOneFirst) {
  const Scan scan = ScanBytes(MakeBundle(IMAGE, {{"x", "old"}, {"y", "-"}, {"x", "new"}}));
  ASSERT_EQ(scan.diagnosis.status, ScanStatus::Ok);
  ASSERT_EQ(Names(scan.entries), (std::vector<std::string>{"x", "y", "x"}));
  EXPECT_GT(scan.entries[0].dataStart, scan.entries[2].dataStart);
}

TEST(BundleScan, EdgesOfAWellFormedBundle) {
  // Only the start marker: an empty list, two reads (the file's last bytes,
  // for a padding, then the marker).
  Scan scan = ScanBytes(MakeBundle(IMAGE, {}));
  EXPECT_EQ(scan.diagnosis.status, ScanStatus::Ok);
  EXPECT_TRUE(scan.entries.empty());
  EXPECT_EQ(scan.reads, 2);

  // An entry of no bytes.
  scan = ScanBytes(MakeBundle(IMAGE, {{"empty", ""}, {"next", "n"}}));
  ASSERT_EQ(scan.diagnosis.status, ScanStatus::Ok);
  ASSERT_EQ(scan.entries.size(), 2u);
  EXPECT_EQ(scan.entries[1].dataSize, 0);
  EXPECT_EQ(scan.entries[1].dataStart, scan.entries[1].dataEnd);

  // No image at all: the start marker at position 0.
  scan = ScanBytes(MakeBundle("", {{"only", "data"}}));
  EXPECT_EQ(scan.diagnosis.status, ScanStatus::Ok);
  EXPECT_EQ(Names(scan.entries), (std::vector<std::string>{"only"}));

  // The longest name.
  const std::string longName(bundle::MAX_NAME_LENGTH - 1, 'n');
  scan = ScanBytes(MakeBundle(IMAGE, {{longName, "d"}}));
  ASSERT_EQ(scan.diagnosis.status, ScanStatus::Ok);
  EXPECT_EQ(Names(scan.entries), (std::vector<std::string>{longName}));
}

TEST(BundleScan, ReadsDoNotGrowWithTheEntriesDataSize) {
  auto countFor = [](size_t dataSize) {
    const std::string data(dataSize, '\xB9');  // marker-like bytes in the data
    CheckedSource source(MakeBundle(IMAGE, {{"a", data}, {"b", data}, {"c", data}}));
    std::vector<BundleEntry> entries;
    EXPECT_EQ(bundle::ScanBundle(source, entries).status, ScanStatus::Ok);
    return std::make_pair(source.reads, source.bytesRead);
  };
  const auto small = countFor(10);
  const auto large = countFor(1 << 20);
  EXPECT_EQ(small, large);
  // One look at the program's headers, one at the file's last bytes, one
  // trailer and one name per entry, one start marker.
  EXPECT_EQ(small.first, 1 + 1 + 3 * 2 + 1);
}

// The launcher's scan steps back one byte at a time until it meets a marker,
// jumping over each entry it finds. On a well-formed bundle the three windows
// read just before an entry's data can never hold a marker, so checking only
// the place where the layout puts the marker lists exactly the same entries.
// This pins that down on bundles whose data and names are full of marker
// bytes.
TEST(BundleScan, ListsWhatTheByteSteppingScanListsOnWellFormedBundles) {
  auto steppingScan = [](const std::vector<uint8_t>& f) {
    std::vector<std::string> names;
    int64_t p = int64_t(f.size()) - 4;
    while (p > 0) {
      const int32_t w = int32_t(bundle::LoadLe32(f.data() + p));
      if (w == bundle::ENTRY_MARKER) {
        const int64_t s = int32_t(bundle::LoadLe32(f.data() + p - 4));
        const int64_t l = int32_t(bundle::LoadLe32(f.data() + p - 8));
        names.emplace_back(reinterpret_cast<const char*>(f.data()) + p - 8 - l);
        p = p - 8 - l - s;
      }
      p -= 1;
      if (w == bundle::START_MARKER) break;
    }
    return names;
  };
  test_codec::Random rng(7);
  const char alphabet[] = {'\xB9', '\xBA', '\x07', '\0', 'a'};
  for (int round = 0; round < 300; ++round) {
    std::vector<std::pair<std::string, std::string>> entries;
    const uint32_t count = rng.Below(6);
    for (uint32_t i = 0; i < count; ++i) {
      std::string name, data;
      for (uint32_t k = 1 + rng.Below(6); k > 0; --k) name.push_back(alphabet[rng.Below(3)] | 0x40);
      for (uint32_t k = rng.Below(12); k > 0; --k) data.push_back(alphabet[rng.Below(5)]);
      entries.emplace_back(name, data);
    }
    std::string image;
    for (uint32_t k = 1 + rng.Below(8); k > 0; --k) image.push_back(alphabet[rng.Below(5)]);
    const auto file = MakeBundle(image, entries);
    const Scan scan = ScanBytes(file);
    ASSERT_EQ(scan.diagnosis.status, ScanStatus::Ok) << scan.diagnosis.reason;
    ASSERT_EQ(Names(scan.entries), steppingScan(file)) << "round " << round;
  }
}

// Files that are no bundle, or a damaged one: each scan ends with the stated
// status, reads only inside the file (CheckedSource fails the test otherwise)
// and, for a damaged one, keeps only records read before the damage.
TEST(BundleScan, HostileFilesEndCleanly) {
  const auto good = MakeBundle(IMAGE, {{"a.exe", "first"}, {"b.txt", "second"}});
  const size_t end = good.size();
  // Offsets from the end of the last record: its marker, data size, name length.
  const size_t lastMarker = end - 4, lastSize = end - 8, lastNameLength = end - 12;
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    ScanStatus status;
  };
  std::vector<Case> cases;
  for (size_t n = 0; n < 4; ++n) cases.push_back({"shorter than a marker", std::vector<uint8_t>(n, 0xBA), ScanStatus::NoBundle});
  cases.push_back({"an executable without bundle", std::vector<uint8_t>(IMAGE.begin(), IMAGE.end()), ScanStatus::NoBundle});
  {
    auto b = good;
    b.push_back(' ');  // one byte after the last record, not a padding's zero
    cases.push_back({"no trailing entry marker", b, ScanStatus::NoBundle});
  }
  for (uint32_t bad : {0u, 261u, 0xFFFFFFFFu, 0x80000000u, 100000u}) {
    auto b = good;
    Put32(b, lastNameLength, bad);
    cases.push_back({"name length out of range", b, ScanStatus::Damaged});
  }
  for (uint32_t bad : {uint32_t(end), 0x7FFFFFFFu, 0xFFFFFFFFu, 0x80000000u, uint32_t(end - 12 - 6 - 3)}) {
    auto b = good;
    Put32(b, lastSize, bad);
    cases.push_back({"data size reaching before the start marker", b, ScanStatus::Damaged});
  }
  {
    auto b = good;
    Put32(b, lastNameLength, uint32_t(end - 12 - 2));  // name starting at position 2
    cases.push_back({"name before the start marker", b, ScanStatus::Damaged});
  }
  {
    auto b = good;
    b[lastNameLength - 1] = 'x';  // the NUL of "b.txt"
    cases.push_back({"name without its NUL", b, ScanStatus::Damaged});
  }
  {
    auto b = good;
    Put32(b, lastSize, 5);  // one byte short: the marker before the data is missed
    cases.push_back({"no marker before the data", b, ScanStatus::Damaged});
  }
  {
    std::vector<uint8_t> b(12, 0);
    Put32(b, 8, bundle::ENTRY_MARKER);
    Put32(b, 4, 0);
    Put32(b, 0, 1);
    cases.push_back({"trailer without room for a start marker", b, ScanStatus::Damaged});
    b.erase(b.begin(), b.begin() + 4);
    cases.push_back({"entry marker within the first 8 bytes", b, ScanStatus::Damaged});
  }
  {
    // The last window is the start marker of an 8-byte file that is all
    // markers: an empty, complete bundle.
    std::vector<uint8_t> b(8);
    Put32(b, 0, bundle::ENTRY_MARKER);
    Put32(b, 4, bundle::START_MARKER);
    cases.push_back({"start marker last", b, ScanStatus::Ok});
  }
  (void)lastMarker;

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Scan scan = ScanBytes(c.bytes);
    EXPECT_EQ(scan.diagnosis.status, c.status) << scan.diagnosis.reason;
    if (c.status == ScanStatus::Ok) continue;
    EXPECT_STRNE(scan.diagnosis.reason, "");
    EXPECT_LE(scan.diagnosis.position, c.bytes.size());
    // Whatever was found before the damage is the later record, intact.
    for (const auto& e : scan.entries) EXPECT_STREQ(e.name, "b.txt");
  }
}

TEST(BundleScan, StopsAtTheEntryLimit) {
  std::vector<std::pair<std::string, std::string>> entries(size_t(bundle::MAX_ENTRY_COUNT) + 1, {"", ""});
  Scan scan = ScanBytes(MakeBundle("", entries));
  EXPECT_EQ(scan.diagnosis.status, ScanStatus::Damaged);
  EXPECT_EQ(scan.entries.size(), size_t(bundle::MAX_ENTRY_COUNT));
  entries.pop_back();
  scan = ScanBytes(MakeBundle("", entries));
  EXPECT_EQ(scan.diagnosis.status, ScanStatus::Ok);
}

TEST(BundleScan, AFailedReadEndsTheScan) {
  class FailingSource : public bundle::ByteSource {
   public:
    uint32_t Size() override { return 1000; }
    int32_t ReadAt(uint32_t, void*, int32_t) override { return -2; }
  } source;
  std::vector<BundleEntry> entries;
  EXPECT_EQ(bundle::ScanBundle(source, entries).status, ScanStatus::Unreadable);
  EXPECT_TRUE(entries.empty());
}

// Signing appends zero padding and a certificate table behind the bundle and
// records the table in the PE headers; the scan starts before it. The table
// here ends in a start marker, so a scan from the file's end would report an
// empty bundle, and holds entry-marker bytes, which must never be read.
namespace {

const std::vector<std::pair<std::string, std::string>> SIGNED_ENTRIES = {{"a.exe", "first"}, {"b.dat", "second"}};

std::vector<uint8_t> CertificateTable(size_t size = 64) {
  std::vector<uint8_t> table(size, 0xBA);
  for (size_t i = 1; i < size; i += 4) table[i] = 7;
  Put32(table, size - 4, bundle::START_MARKER);
  return table;
}

std::vector<uint8_t> PackedImage(size_t imageSize, const std::vector<std::pair<std::string, std::string>>& entries,
                                 bool wide = false) {
  const std::vector<uint8_t> image = test_codec::MakePeImage(imageSize, wide);
  return MakeBundle(std::string(image.begin(), image.end()), entries);
}

}  // namespace

TEST(BundleScan, SignedFilesAreScannedFromBeforeTheirSignature) {
  // Every padding length: the bundle ends at every offset modulo 8; PE32 and
  // PE32+; also a bundle without entries and one whose last data is zeros.
  for (bool wide : {false, true}) {
    for (size_t extra = 0; extra < 8; ++extra) {
      for (const auto& entries : {SIGNED_ENTRIES, {}, {{"z", std::string(9, '\0')}}}) {
        std::vector<uint8_t> file = PackedImage(0x200 + extra, entries, wide);
        const uint32_t bundleEnd = uint32_t(file.size());
        test_codec::AppendSignature(file, CertificateTable(), wide);
        SCOPED_TRACE("padding " + std::to_string((8 - bundleEnd % 8) % 8) + (wide ? " PE32+" : " PE32"));
        const Scan scan = ScanBytes(file);
        ASSERT_EQ(scan.diagnosis.status, ScanStatus::Ok) << scan.diagnosis.reason;
        EXPECT_EQ(scan.entries.size(), entries.size());
        EXPECT_TRUE(scan.diagnosis.signature);
        EXPECT_EQ(scan.diagnosis.bundleEnd, bundleEnd);
        EXPECT_EQ(scan.diagnosis.signatureStart, (bundleEnd + 7) / 8 * 8);
      }
    }
  }
}

TEST(BundleScan, CertificateEntriesThatDoNotEndTheFileAreIgnored) {
  const size_t entry = test_codec::CertificateEntryOf();
  // A signed stub, then a bundle appended: the table lies inside the image.
  std::vector<uint8_t> stub = test_codec::MakePeImage();
  test_codec::AppendSignature(stub, CertificateTable());
  Scan scan = ScanBytes(MakeBundle(std::string(stub.begin(), stub.end()), SIGNED_ENTRIES));
  EXPECT_EQ(scan.diagnosis.status, ScanStatus::Ok);
  EXPECT_EQ(Names(scan.entries), (std::vector<std::string>{"b.dat", "a.exe"}));
  EXPECT_FALSE(scan.diagnosis.signature);

  // Entries reaching past the end, one wrapping around 2^32 onto it, and an
  // empty one: the file is read as an unsigned one.
  const std::vector<uint8_t> packed = PackedImage(0x200, SIGNED_ENTRIES);
  const uint32_t size = uint32_t(packed.size());
  const std::pair<uint32_t, uint32_t> outside[] = {
      {size - 8, 16}, {size + 8, 8}, {0xFFFFFFF0u, size + 0x10}, {size, 0}, {0, 0}};
  for (const auto& [start, length] : outside) {
    std::vector<uint8_t> file = packed;
    Put32(file, entry, start);
    Put32(file, entry + 4, length);
    scan = ScanBytes(file);
    EXPECT_EQ(scan.diagnosis.status, ScanStatus::Ok) << start << " " << length;
    EXPECT_EQ(scan.entries.size(), 2u);
    EXPECT_FALSE(scan.diagnosis.signature);
  }
}

TEST(BundleScan, SignedFileWithoutABundleBeforeItsSignatureCarriesNone) {
  // A signed bare launcher: nothing taken from the table, whose last bytes
  // are a start marker.
  std::vector<uint8_t> file = test_codec::MakePeImage(0x203);
  test_codec::AppendSignature(file, CertificateTable());
  Scan scan = ScanBytes(file);
  EXPECT_EQ(scan.diagnosis.status, ScanStatus::NoBundle);
  EXPECT_TRUE(scan.diagnosis.signature);
  EXPECT_STREQ(scan.diagnosis.reason, "no entry marker or start marker before the signature");

  // More than seven zero bytes between the bundle and the table are no
  // padding a signing tool writes.
  file = PackedImage(0x200, SIGNED_ENTRIES);
  file.resize((file.size() + 7) / 8 * 8 + 8, 0);
  const uint32_t start = uint32_t(file.size());
  const std::vector<uint8_t> table = CertificateTable();
  file.insert(file.end(), table.begin(), table.end());
  Put32(file, test_codec::CertificateEntryOf(), start);
  Put32(file, test_codec::CertificateEntryOf() + 4, uint32_t(table.size()));
  scan = ScanBytes(file);
  EXPECT_EQ(scan.diagnosis.status, ScanStatus::NoBundle);
}

TEST(BundleScan, SignatureRemovedLeavesItsPaddingWhichIsSkipped) {
  // Removing a signature clears entry 4 and cuts the table off; the zeros
  // signing put before it stay. Every padding length, PE32 and PE32+, a
  // bundle without entries and one whose last data is zeros.
  for (bool wide : {false, true}) {
    for (size_t extra = 0; extra < 8; ++extra) {
      for (const auto& entries : {SIGNED_ENTRIES, {}, {{"z", std::string(9, '\0')}}}) {
        std::vector<uint8_t> file = PackedImage(0x200 + extra, entries, wide);
        const uint32_t bundleEnd = uint32_t(file.size());
        test_codec::AppendSignature(file, CertificateTable(), wide);
        Put32(file, test_codec::CertificateEntryOf(wide), 0);
        Put32(file, test_codec::CertificateEntryOf(wide) + 4, 0);
        file.resize((bundleEnd + 7) / 8 * 8);
        SCOPED_TRACE("padding " + std::to_string(file.size() - bundleEnd) + (wide ? " PE32+" : " PE32"));
        const Scan scan = ScanBytes(file);
        ASSERT_EQ(scan.diagnosis.status, ScanStatus::Ok) << scan.diagnosis.reason;
        EXPECT_EQ(scan.entries.size(), entries.size());
        EXPECT_FALSE(scan.diagnosis.signature);
        EXPECT_EQ(scan.diagnosis.bundleEnd, bundleEnd);
      }
    }
  }

  // Only up to seven zeros are a padding: eight zeros, or a single byte that
  // is not zero, after the bundle still leave the file without one.
  const std::vector<uint8_t> packed = PackedImage(0x200, SIGNED_ENTRIES);
  for (const std::vector<uint8_t>& tail :
       {std::vector<uint8_t>(8, 0), std::vector<uint8_t>{0, 0, 1}, std::vector<uint8_t>{0x20}}) {
    std::vector<uint8_t> file = packed;
    file.insert(file.end(), tail.begin(), tail.end());
    EXPECT_EQ(ScanBytes(file).diagnosis.status, ScanStatus::NoBundle) << tail.size() << " bytes after the bundle";
  }
}
