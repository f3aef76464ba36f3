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

namespace {

// Names whose first bytes order differently read as signed and as unsigned
// characters: "\x95\x5c" is a code page 932 character whose trail byte is a
// backslash.
const std::vector<bundle::CheckItem> ITEMS = {
    {"zephra.exe", 0x11111111}, {"\x95\x5c.dat", 0x22222222}, {"Setup.exe", 0x33333333}, {"readme.txt", 0x44444444}};

class MemorySource : public bundle::ByteSource {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes) : bytes(std::move(bytes)) {}
  uint32_t Size() override { return uint32_t(bytes.size()); }
  int32_t ReadAt(uint32_t position, void* buffer, int32_t count) override {
    if (position > bytes.size()) return -1;
    const size_t n = std::min(size_t(count), bytes.size() - position);
    std::memcpy(buffer, bytes.data() + position, n);
    return int32_t(n);
  }

 private:
  std::vector<uint8_t> bytes;
};

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
  MemorySource source(bundle::BuildBundle(inputs, ITEMS));
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

}  // namespace
