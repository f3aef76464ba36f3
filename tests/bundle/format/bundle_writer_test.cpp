#include "bundle/format/bundle_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bundle/format/bundle_scan.h"

namespace bundle {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(BundleWriter, TwoEntryBundleHasTheExactLayout) {
  const Bytes bundle = BuildBundle({{"a.txt", {'h', 'i'}}, {"b", {}}});
  const Bytes expected = {
      0xB9, 0x07, 0x00, 0x00,                 // start marker 1977
      'h',  'i',                              // first data, S = 2
      'a',  '.',  't',  'x',  't',  0x00,     // name, L = 6 with its NUL
      0x06, 0x00, 0x00, 0x00,                 // L
      0x02, 0x00, 0x00, 0x00,                 // S
      0xBA, 0x07, 0x00, 0x00,                 // entry marker 1978
      'b',  0x00,                             // second entry: no data, name "b"
      0x02, 0x00, 0x00, 0x00,                 // L = 2
      0x00, 0x00, 0x00, 0x00,                 // S = 0
      0xBA, 0x07, 0x00, 0x00,                 // entry marker
  };
  EXPECT_EQ(bundle, expected);
}

TEST(BundleWriter, ScanBehindAStubFindsTheEntriesLastFirst) {
  Bytes file(1000, 0x90);
  const Bytes bundle = BuildBundle({{"A", {1, 2, 3}}, {"B", Bytes(5000, 7)}, {"C", {}}});
  file.insert(file.end(), bundle.begin(), bundle.end());
  MemorySource source(file.data(), uint32_t(file.size()));
  std::vector<BundleEntry> entries;
  ASSERT_EQ(ScanBundle(source, entries).status, ScanStatus::Ok);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_STREQ(entries[0].name, "C");
  EXPECT_STREQ(entries[1].name, "B");
  EXPECT_STREQ(entries[2].name, "A");
  EXPECT_EQ(entries[2].dataStart, 1004);  // right behind the stub and the start marker
  EXPECT_EQ(entries[2].dataSize, 3);
  EXPECT_EQ(entries[1].dataSize, 5000);
  EXPECT_EQ(entries[0].dataSize, 0);
}

TEST(BundleWriter, LongestNameIs259BytesAndScansBack) {
  const std::string name(259, 'n');
  const Bytes bundle = BuildBundle({{name, {9}}});
  MemorySource source(bundle.data(), uint32_t(bundle.size()));
  std::vector<BundleEntry> entries;
  ASSERT_EQ(ScanBundle(source, entries).status, ScanStatus::Ok);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(std::string(entries[0].name), name);
  EXPECT_THROW(BuildBundle({{std::string(260, 'n'), {}}}), std::invalid_argument);
}

TEST(BundleWriter, NamesTheLauncherCannotWriteAreRefused) {
  for (const char* bad : {"", "a\\b", "a/b", "..", ".", "a:b", "a*", "a?", "a\"", "a<", "a>", "a|", "tab\there",
                          "dot.", "space ", "\x81", "\x81\x20"}) {
    EXPECT_NE(CheckEntryName(bad), nullptr) << "\"" << bad << "\"";
  }
  // A double-byte character whose second byte is 0x5C is not a separator.
  for (const char* good : {"setup.exe", "readme_traial.txt", "\x83\x5C.txt", "\x95\x5C", "a b.dat", ".hidden"}) {
    EXPECT_EQ(CheckEntryName(good), nullptr) << "\"" << good << "\"";
  }
}

}  // namespace
}  // namespace bundle
