// The check record as the reader takes it: the parser hands out names that
// point into the record's bytes, sorted by their bytes, and the index finds
// every entry's CRC through them by a search in that same order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bundle/format/bundle_index.h"
#include "bundle/format/bundle_writer.h"
#include "bundle/format/check_record.h"
#include "bundle/format/crc32.h"

namespace {

// Names whose first bytes order differently read as signed and as unsigned
// characters: "\x95\x5c" is a code page 932 character whose trail byte is a
// backslash.
const std::vector<bundle::CheckItem> ITEMS = {
    {"zephra.exe", 0x11111111}, {"\x95\x5c.dat", 0x22222222}, {"Setup.exe", 0x33333333}, {"readme.txt", 0x44444444}};

TEST(CheckRecord, ParsedItemsAreTheRecordsOwnNamesSortedByTheirBytes) {
  const std::vector<uint8_t> data = bundle::BuildCheckRecord(ITEMS);
  const bundle::CheckRecord record = bundle::ParseCheckRecord(data.data(), data.size());
  ASSERT_EQ(record.status, bundle::CheckRecordStatus::Ok) << record.reason;
  const std::vector<std::pair<std::string, uint32_t>> sorted = {
      {"Setup.exe", 0x33333333}, {"readme.txt", 0x44444444}, {"zephra.exe", 0x11111111}, {"\x95\x5c.dat", 0x22222222}};
  ASSERT_EQ(record.items.size(), sorted.size());
  for (size_t i = 0; i < sorted.size(); ++i) {
    EXPECT_EQ(record.items[i].name, sorted[i].first) << i;
    EXPECT_EQ(record.items[i].crc, sorted[i].second) << i;
    const auto at = reinterpret_cast<const uint8_t*>(record.items[i].name);
    EXPECT_TRUE(at > data.data() && at < data.data() + data.size()) << "not inside the record: " << i;
  }
}

TEST(CheckRecord, ANameGivenTwiceIsDamageWhereverItStands) {
  std::vector<bundle::CheckItem> twice = ITEMS;
  twice.push_back({"\x95\x5c.dat", 0x55555555});
  const std::vector<uint8_t> data = bundle::BuildCheckRecord(twice);
  const bundle::CheckRecord record = bundle::ParseCheckRecord(data.data(), data.size());
  EXPECT_EQ(record.status, bundle::CheckRecordStatus::Damaged);
  EXPECT_STREQ(record.reason, "check record names an entry twice");
}

TEST(CheckRecord, TheIndexFindsEveryEntrysCrcThroughTheParsedNames) {
  std::vector<bundle::BundleInput> inputs;
  for (const bundle::CheckItem& item : ITEMS) inputs.push_back({item.name, std::vector<uint8_t>(3, uint8_t(1))});
  const std::vector<uint8_t> file = bundle::BuildBundle(inputs, ITEMS);
  bundle::MemorySource source(file.data(), uint32_t(file.size()));
  bundle::BundleIndex index(&source);
  ASSERT_TRUE(index.ListEntries()) << index.LastScan().reason;
  ASSERT_TRUE(index.Checked());
  for (const bundle::CheckItem& item : ITEMS) {
    const bundle::BundleEntry* entry = index.Find(item.name.c_str());
    ASSERT_NE(entry, nullptr) << item.name;
    uint32_t crc = 0;
    EXPECT_TRUE(index.ExpectedCrc(*entry, &crc)) << item.name;
    EXPECT_EQ(crc, item.crc) << item.name;
  }
}

// How a bundle of one entry and a check record of the given bytes lists: the
// scan's verdict, and whether its entries are checked.
std::pair<bundle::ScanStatus, bool> ListWithCheckRecord(const std::string& content,
                                                        const std::vector<uint8_t>& record) {
  std::vector<uint8_t> file = bundle::BuildBundle({{"a.txt", std::vector<uint8_t>(content.begin(), content.end())}});
  const std::vector<uint8_t> trailer = bundle::RecordTrailerBytes(bundle::CHECK_RECORD_NAME, uint32_t(record.size()));
  file.insert(file.end(), record.begin(), record.end());
  file.insert(file.end(), trailer.begin(), trailer.end());
  bundle::MemorySource source(file.data(), uint32_t(file.size()));
  bundle::BundleIndex index(&source);
  index.ListEntries();
  return {index.LastScan().status, index.Checked()};
}

// The record's fields are trusted only once its own CRC-32 holds: a version
// field damaged in transit must not turn the record into "another version"
// and so leave every entry unchecked. An intact record of another version
// does leave them unchecked, so that a later layout never makes this reader
// refuse a sound bundle.
TEST(CheckRecord, ItsFieldsCountOnlyOnceItsOwnCrcHolds) {
  const std::string content = "entry bytes";
  const std::vector<uint8_t> record =
      bundle::BuildCheckRecord({{"a.txt", bundle::Crc32(content.data(), content.size())}});
  EXPECT_EQ(ListWithCheckRecord(content, record), std::make_pair(bundle::ScanStatus::Ok, true));

  std::vector<uint8_t> damaged = record;
  bundle::StoreLe32(damaged.data(), bundle::CHECK_RECORD_VERSION + 1);
  EXPECT_EQ(ListWithCheckRecord(content, damaged), std::make_pair(bundle::ScanStatus::Damaged, false))
      << "a damaged version field was trusted";

  std::vector<uint8_t> later = damaged;
  bundle::StoreLe32(later.data() + later.size() - 4, bundle::Crc32(later.data(), later.size() - 4));
  EXPECT_EQ(ListWithCheckRecord(content, later), std::make_pair(bundle::ScanStatus::Ok, false))
      << "an intact record of another version";
}

}  // namespace
