// CRC-32 against the bit-by-bit definition: both paths, every alignment and
// the lengths around their block sizes, and continuation across pieces.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bundle/format/crc32.h"
#include "lzss_test_codec.h"

namespace {

uint32_t BitByBit(const uint8_t* data, size_t length, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return ~crc;
}

TEST(Crc32, MatchesTheDefinitionOnEveryPath) {
  EXPECT_EQ(bundle::Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(bundle::Crc32(nullptr, 0), 0u);
  const std::vector<uint8_t> data = test_codec::MakeMixed(2000, 5);
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t length = 0; length + offset <= data.size(); length += length < 300 ? 1 : 97) {
      const uint8_t* p = data.data() + offset;
      const uint32_t expected = BitByBit(p, length);
      ASSERT_EQ(bundle::Crc32(p, length), expected) << offset << " " << length;
      ASSERT_EQ(bundle::crc32_paths::SlicingBy8(p, length, 0), expected) << offset << " " << length;
      ASSERT_EQ(bundle::crc32_paths::CarrylessFold(p, length, 0), expected) << offset << " " << length;
      // Continued from a first piece of every size class.
      const size_t cut = length / 3;
      ASSERT_EQ(bundle::Crc32(p + cut, length - cut, bundle::Crc32(p, cut)), expected) << offset << " " << length;
    }
  }
}

}  // namespace
